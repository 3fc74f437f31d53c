#!/usr/bin/env bash
echo "== GCC build and tests"
cmake --preset gcc >/dev/null
cmake --build --preset gcc -j "$jobs"
ctest --preset gcc -j "$jobs"
