#!/usr/bin/env bash
# Runs the whole test suite: every stage in scripts/test.d, in the order of their
# names (formatting, the GCC build, the sanitizer builds, the cross builds ...).
# One stage alone: scripts/test.sh 20-gcc (the stage's file name without .sh).
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/deps.sh
export jobs=$(nproc)
start=$SECONDS
stages=("$@")
if [ ${#stages[@]} -eq 0 ]; then
  for f in scripts/test.d/*.sh; do stages+=("$(basename "$f" .sh)"); done
fi
for stage in "${stages[@]}"; do
  t=$SECONDS
  bash -euo pipefail "scripts/test.d/$stage.sh"
  echo "== $stage: $((SECONDS - t)) s"
done
echo "== all stages passed in $((SECONDS - start)) s"
