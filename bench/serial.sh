#!/usr/bin/env bash
# The library over a real serial path against the same exchanges done by a plain pyserial
# script: both talk to the simulated controller behind a pseudo-terminal
# (`kmtv1 simulate --pty`), one after the other, and both are set beside the wire-time
# model (250000 baud, 10 bits a byte: 40 us a byte). Linux only.
# Usage: bench/serial.sh [SMALL_EXCHANGES [SCANS]]  (defaults 2000 and 10)
set -euo pipefail
cd "$(dirname "$0")/.."
small=${1:-2000}
scans=${2:-10}
build=${BUILD_DIR:-build-bench}
# A new build folder is configured optimised; an existing one is used as it is.
[ -f "$build/CMakeCache.txt" ] ||
  cmake --preset release -B "$build" >/dev/null
cmake --build "$build" --target kmtv1-cli kmtv1_serial_bench >/dev/null
# Debian's pyserial lives with the system's interpreter.
python=/usr/bin/python3
[ -x "$python" ] || python=python3

# The simulator serves until its standard input ends.
coproc SIM { exec "$build/kmtv1" simulate --pty; }
sim_pid=$SIM_PID
trap 'kill "$sim_pid" 2>/dev/null || true' EXIT
read -r -u "${SIM[0]}" driver
driver=${driver#KMT_DRIVER=}
pts=${driver#tty:}
pts=${pts%%=*}

library=$(KMT_DRIVER=$driver "$build/kmtv1_serial_bench" "$small" "$scans")
script=$("$python" bench/serial_pyserial.py "$pts" "$small" "$scans")

echo "machine: $(nproc) cores, $(lscpu 2>/dev/null | sed -n 's/^Model name: *//p')"
echo "serial path: $pts, the simulated controller in its own process"
awk -v lib="$library" -v py="$script" 'BEGIN {
  split(lib, l, /[ \n]/); split(py, p, /[ \n]/)
  # Wire model: DIO_ReadPort is an 8-byte request and a 5-byte response; the scan a
  # 17-byte request and a 4006-byte response, after 4000 x 19.996 + 7.236 us of sampling.
  wire_small = 1 / (13 * 40e-6)
  wire_scan = (17 + 4006) * 0.040 + (4000 * 19.996 + 7.236) / 1000
  printf "%-30s %10s %10s %16s %12s\n", "", "library", "pyserial", "library/script", "wire model"
  printf "%-30s %10.0f %10.0f %15.2fx %12.0f\n", "small exchanges per second", l[2], p[2],
         l[2] / p[2], wire_small
  printf "%-30s %10.1f %10.1f %15.2fx %12.1f\n", "4001-sample scan, ms", l[4], p[4],
         p[4] / l[4], wire_scan
  print "(scan ratio: the script'"'"'s time over the library'"'"'s; above 1 the library is faster)"
}'
exec {SIM[1]}>&-
wait "$sim_pid" 2>/dev/null || true
