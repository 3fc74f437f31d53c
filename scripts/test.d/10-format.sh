#!/usr/bin/env bash
echo "== formatting"
git ls-files '*.cpp' '*.h' '*.c' | xargs clang-format --dry-run --Werror
echo "== layering: each folder includes only what it may depend on"
scripts/check-layers.sh
