#!/usr/bin/env bash
# A controller on another machine against the same controller plugged in, on loopback:
# the simulated controller behind a pseudo-terminal, reached directly (tty provider) and
# through ser2net (rfc2217 provider), one after the other, and a plain pyserial script
# with an rfc2217:// URL through the same ser2net. Per path: one small exchange's round
# trip (median and 99th percentile), small exchanges per second, and a 4 x 2001 block
# acquisition's time and payload rate. For reading, not a pass/fail check. Linux only.
# Usage: bench/rfc2217.sh [SMALL_EXCHANGES [BLOCKS]]  (defaults 2000 and 10)
set -euo pipefail
cd "$(dirname "$0")/.."
small=${1:-2000}
blocks=${2:-10}
build=${BUILD_DIR:-build-bench}
python=/usr/bin/python3  # Debian's pyserial lives with the system's interpreter

if [ "${KMT_BENCH_INSIDE:-}" != 1 ]; then
  [ -f "$build/CMakeCache.txt" ] ||
    cmake -S . -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=Release -DKMT_BUILD_TESTS=OFF >/dev/null
  cmake --build "$build" --target kmtv1-cli kmtv1_serial_bench >/dev/null
  KMT_BENCH_INSIDE=1 BUILD_DIR=$build exec scripts/with-ser2net.sh "$build/kmtv1" -- "$0" "$@"
fi

# Inside scripts/with-ser2net.sh: KMT_DRIVER reaches ser2net, KMT_TTY_DRIVER the terminal.
direct=$(KMT_DRIVER=$KMT_TTY_DRIVER "$build/kmtv1_serial_bench" "$small" "$blocks")
network=$("$build/kmtv1_serial_bench" "$small" "$blocks")
# ser2net in front of a pseudo-terminal cannot set modem lines and leaves pyserial's DTR
# request unanswered: pyserial is told not to wait for that answer.
script=$("$python" bench/serial_pyserial.py "$KMT_RFC2217_URL?ign_set_control" "$small" 1)

echo "machine: $(nproc) cores, $(lscpu 2>/dev/null | sed -n 's/^Model name: *//p')"
echo "paths: $KMT_PTY directly; ser2net $(/usr/sbin/ser2net -v | awk '{print $3}') on $KMT_RFC2217_URL"
awk -v d="$direct" -v n="$network" -v p="$script" 'BEGIN {
  # name value lines into maps
  split(d, a, "\n"); for (i in a) { split(a[i], f, " "); D[f[1]] = f[2] }
  split(n, a, "\n"); for (i in a) { split(a[i], f, " "); N[f[1]] = f[2] }
  split(p, a, "\n"); for (i in a) { split(a[i], f, " "); P[f[1]] = f[2] }
  printf "%-34s %10s %10s %10s %18s\n", "", "direct", "ser2net", "added", "pyserial rfc2217"
  printf "%-34s %10.1f %10.1f %10.1f %18.1f\n", "small exchange, median us", D["small_median_us"],
         N["small_median_us"], N["small_median_us"] - D["small_median_us"], P["small_median_us"]
  printf "%-34s %10.1f %10.1f %10.1f %18.1f\n", "small exchange, p99 us", D["small_p99_us"],
         N["small_p99_us"], N["small_p99_us"] - D["small_p99_us"], P["small_p99_us"]
  printf "%-34s %10.0f %10.0f %10s %18.0f\n", "small exchanges per second", D["small_per_s"],
         N["small_per_s"], "", P["small_per_s"]
  printf "%-34s %10.1f %10.1f %10.1f %18s\n", "4 x 2001 block, median ms", D["block_ms"],
         N["block_ms"], N["block_ms"] - D["block_ms"], "-"
  printf "%-34s %10.1f %10.1f %9.1f%% %18s\n", "4 x 2001 block, payload kB/s",
         16008 / D["block_ms"], 16008 / N["block_ms"], 100 * D["block_ms"] / N["block_ms"], "-"
  print "(added: ser2net minus direct; for the block rate, ser2net as a share of direct)"
}'
