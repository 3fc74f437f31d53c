#!/usr/bin/env bash
# The optimised build that bench/run.sh and bench/serial.sh make (Release, everything
# but the tests), so that configuration keeps compiling, and a short run of the
# benchmark table from it. The figures are for reading (a shared CI machine is noisy),
# not a pass/fail check.
echo "== optimised build and the benchmark table (short run)"
cmake --preset release >/dev/null
cmake --build --preset release -j "$jobs"
build-bench/kmtv1_bench --benchmark_repetitions=3 --benchmark_min_time=0.01
