#!/usr/bin/env bash
echo "== Clang build with AddressSanitizer and UndefinedBehaviorSanitizer"
cmake --preset asan >/dev/null
cmake --build --preset asan -j "$jobs"
# The test preset sets ASAN_OPTIONS (leaks detected, abort on error) and UBSAN_OPTIONS.
ctest --preset asan -j "$jobs"
