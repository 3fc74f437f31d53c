#!/usr/bin/env bash
# Many MQTT bridges on one machine: BRIDGES bridges (default 100), each for its own
# simulated controller answering 2 ms late, at RATE readings a second (default 10), for
# SECONDS (default 60), through one mosquitto to one subscriber; one controller goes
# silent halfway. Prints figures only (bench/mqtt_bench.py says which), never a verdict.
# Usage: bench/mqtt.sh [SECONDS [BRIDGES [RATE]]]
set -euo pipefail
cd "$(dirname "$0")/.."
seconds=${1:-60}
bridges=${2:-100}
rate=${3:-10}
build=${BUILD_DIR:-build-bench}
# A new build folder is configured optimised; an existing one is used as it is.
[ -f "$build/CMakeCache.txt" ] ||
  cmake -S . -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=Release -DKMT_BUILD_TESTS=OFF >/dev/null
cmake --build "$build" --target kmtv1-mqtt >/dev/null
mosquitto=$(command -v mosquitto || echo /usr/sbin/mosquitto)
python=/usr/bin/python3
[ -x "$python" ] || python=python3
ulimit -n 4096 2>/dev/null || true
exec "$python" bench/mqtt_bench.py "$build/kmtv1-mqtt" "$seconds" "$bridges" "$rate" "$mosquitto"
