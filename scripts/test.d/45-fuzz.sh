#!/usr/bin/env bash
echo "== libFuzzer, bounded: controller responses, and the exported functions"
cmake --preset fuzz >/dev/null
cmake --build --preset fuzz -j "$jobs"  # the two fuzz targets only
# New inputs go to a scratch folder (listed first); the committed corpora stay as they
# are. A crash, leak, sanitizer report or time-out fails the stage.
seconds=${KMT_FUZZ_SECONDS:-20}
for pair in kmtv1_fuzz:fuzz/corpus kmtv1_fuzz_abi:fuzz/corpus_abi; do
  target=${pair%%:*}
  corpus=${pair#*:}
  scratch=$(mktemp -d)
  ASAN_OPTIONS=detect_leaks=1 "build-fuzz/$target" -max_total_time="$seconds" -timeout=10 \
    -rss_limit_mb=2048 -print_final_stats=1 -artifact_prefix="$scratch/" \
    "$scratch" "$corpus" 2>"$scratch.log" || { tail -40 "$scratch.log"; exit 1; }
  grep -E "DONE|stat::number_of_executed_units" "$scratch.log" | sed "s|^|$target: |"
  rm -rf "$scratch" "$scratch.log"
done
