#!/usr/bin/env bash
# Prints the benchmark table: the library's CPU time per call beside the copies its
# interface forces, from an optimised build of its own (build-bench, or $BUILD_DIR).
# Extra arguments go to the benchmark (Google Benchmark flags, e.g.
# --benchmark_min_time=0.01 for a quick look).
set -euo pipefail
cd "$(dirname "$0")/.."
build=${BUILD_DIR:-build-bench}
# A new build folder is configured optimised; an existing one is used as it is.
[ -f "$build/CMakeCache.txt" ] ||
  cmake --preset release -B "$build" >/dev/null
cmake --build "$build" --target kmtv1_bench >/dev/null
echo "machine: $(nproc) cores, $(lscpu 2>/dev/null | sed -n 's/^Model name: *//p')"
exec "$build/kmtv1_bench" "$@"
