#!/usr/bin/env bash
# clang-tidy (the checked-in .clang-tidy) over the program's own sources:
# the dialog logic, the front ends, the library and the benchmarks; the
# tests are left out to keep the stage short. Fails on any finding, names
# (readability-identifier-naming) included.
#
#   scripts/run-clang-tidy.sh [BUILD_DIR]     (default: build)
#
# BUILD_DIR must hold a compile_commands.json (the top CMakeLists exports
# one); it is configured here when it has none. KT_TIDY_JOBS sets the number
# of files checked at once (default 2).
set -euo pipefail
cd "$(dirname "$0")/.."
build="${1:-build}"
jobs="${KT_TIDY_JOBS:-2}"

if [ ! -f "$build/compile_commands.json" ]; then
  cmake -S . -B "$build" -DKT_WERROR=ON >/dev/null
fi
# Generated sources (Qt's moc and resources) need the build to exist first.
cmake --build "$build" -j"$jobs" >/dev/null

root="$(pwd)"
mapfile -t files < <(sed -n 's/^ *"file": "\(.*\)",\{0,1\}$/\1/p' "$build/compile_commands.json" |
  grep -E "^$root/(frontends|dialog|handlers|common|fileio|encoding|ufs|libkt62|bench)/" | sort -u)
if [ ${#files[@]} -eq 0 ]; then
  echo "run-clang-tidy: no sources found in $build/compile_commands.json" >&2
  exit 1
fi

echo "clang-tidy over ${#files[@]} files, $jobs at a time"
# Findings in the program's own headers count; the library's public header is C as well as C++.
headers='(frontends|dialog|handlers|common|fileio|encoding|/ufs|libkt62/src|libkt62/tools|bench)/.*\.h$'
out_dir=$(mktemp -d)
trap 'rm -rf "$out_dir"' EXIT
# Each file's findings are printed in one piece once it is done.
status=0
printf '%s\n' "${files[@]}" |
  xargs -P "$jobs" -I{} sh -c '
    out="$3/$(printf "%s" "$2" | tr / _).log"
    clang-tidy-14 -p "$1" --quiet --header-filter="$4" "$2" >"$out" 2>&1 || { cat "$out"; exit 1; }' \
    sh "$build" {} "$out_dir" "$headers" || status=$?
if [ "$status" -ne 0 ]; then
  echo "clang-tidy: findings above" >&2
  exit 1
fi
echo "clang-tidy: no findings"
