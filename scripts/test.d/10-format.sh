#!/usr/bin/env bash
echo "== formatting"
git ls-files '*.cpp' '*.h' '*.c' | xargs clang-format --dry-run --Werror
