#!/usr/bin/env bash
# Fails when a tracked C or C++ file is not formatted as .clang-format says.
set -euo pipefail
cd "$(dirname "$0")/.."
files=$(git ls-files '*.c' '*.cpp' '*.h' '*.hpp' 2>/dev/null || find . -path ./build -prune -o -name '*.[ch]pp' -print)
[ -n "$files" ] || exit 0
# shellcheck disable=SC2086
clang-format-14 --dry-run --Werror $files
