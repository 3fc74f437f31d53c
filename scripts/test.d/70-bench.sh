#!/usr/bin/env bash
# Builds the benchmark in the GCC stage's build and prints its table once, briefly, so
# that it cannot rot; the figures are for reading (a shared CI machine is noisy, and
# this build is not the optimised one of bench/run.sh), not a pass/fail check.
echo "== benchmark table (short run)"
cmake -S . -B build-gcc -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DCMAKE_CXX_COMPILER=g++ \
      -DCMAKE_C_COMPILER=gcc >/dev/null
cmake --build build-gcc --target kmtv1_bench
build-gcc/kmtv1_bench --benchmark_repetitions=3 --benchmark_min_time=0.01
