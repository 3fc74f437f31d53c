#!/usr/bin/env bash
echo "== libFuzzer, bounded: controller responses, the exported functions, the telnet layer"
cmake --preset fuzz >/dev/null
cmake --build --preset fuzz -j "$jobs"  # the fuzz targets only
# New inputs go to a scratch folder (listed first); the committed corpora stay as they
# are. A crash, leak, sanitizer report or time-out fails the stage.
seconds=${KMT_FUZZ_SECONDS:-20}
# The telnet layer is small and fast: a quarter of the time covers its states.
for item in kmtv1_fuzz:fuzz/corpus:1 kmtv1_fuzz_abi:fuzz/corpus_abi:1 \
            kmtv1_fuzz_telnet:fuzz/corpus_telnet:4; do
  IFS=: read -r target corpus share <<<"$item"
  scratch=$(mktemp -d)
  limit=$(( (seconds + share - 1) / share ))
  ASAN_OPTIONS=detect_leaks=1 "build-fuzz/$target" -max_total_time="$limit" -timeout=10 \
    -rss_limit_mb=2048 -print_final_stats=1 -artifact_prefix="$scratch/" \
    "$scratch" "$corpus" 2>"$scratch.log" || { tail -40 "$scratch.log"; exit 1; }
  grep -E "DONE|stat::number_of_executed_units" "$scratch.log" | sed "s|^|$target: |"
  rm -rf "$scratch" "$scratch.log"
done
