#!/usr/bin/env bash
echo "== Clang build with ThreadSanitizer"
cmake --preset tsan >/dev/null
cmake --build --preset tsan -j "$jobs"
# Any report fails the run (the test preset's TSAN_OPTIONS say halt_on_error); the
# threads test is the one that matters.
ctest --preset tsan -j "$jobs"
