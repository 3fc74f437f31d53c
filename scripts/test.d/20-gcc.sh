#!/usr/bin/env bash
echo "== GCC build and tests"
cmake -S . -B build-gcc -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DCMAKE_CXX_COMPILER=g++ \
      -DCMAKE_C_COMPILER=gcc >/dev/null
cmake --build build-gcc -j "$jobs"
ctest --test-dir build-gcc --output-on-failure -j "$jobs"
