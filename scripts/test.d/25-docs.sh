#!/usr/bin/env bash
echo "== API reference and manual page (the GCC stage's build)"
# Configured as the GCC stage configures it, so this stage reuses that build.
cmake -S . -B build-gcc -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DCMAKE_CXX_COMPILER=g++ \
      -DCMAKE_C_COMPILER=gcc >/dev/null
# Doxygen fails on any undocumented export or parameter of include/kmtv1.h.
cmake --build build-gcc -j "$jobs" --target kmtv1_doc kmtv1-man
test -s build-gcc/doc/html/kmtv1_8h.html
# The manual page as cmake --install places it, rendered without a single warning.
prefix=build-gcc/docs-install
rm -rf "$prefix"
cmake --install build-gcc --prefix "$prefix" >/dev/null
page="$prefix/share/man/man1/kmtv1.1.gz"
warnings=$(zcat "$page" | groff -man -Tutf8 -ww -z 2>&1)
[ -z "$warnings" ] || { echo "$warnings"; exit 1; }
# Wide enough that no paragraph is broken or justified, so phrases stay whole.
text=$(MANWIDTH=1000 man -l "$page" 2>&1 | tr -s " ")
for expected in "kmtv1 panel" "kmtv1 mqtt" "docs/mqtt.md" "KMT_DRIVER" "kmtv1 doctor" "--trace" \
                "Exit codes:" "MIT"; do
  grep -qF -- "$expected" <<<"$text" || { echo "kmtv1(1) lacks \"$expected\""; exit 1; }
done
echo "kmtv1(1) renders: $(wc -l <<<"$text") lines; reference: build-gcc/doc/html/index.html"
