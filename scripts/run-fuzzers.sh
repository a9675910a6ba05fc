#!/usr/bin/env bash
# Builds the libFuzzer targets (clang-14, AddressSanitizer and
# UndefinedBehaviorSanitizer) in build-fuzz and runs each for SECONDS seconds
# (default 60), one after the other. Fails on the first finding; the input
# that caused it is kept in build-fuzz/findings/.
#
# Usage: scripts/run-fuzzers.sh [SECONDS] [TARGET...]   (targets: fuzz/*_fuzzer.cpp)
#
# Each run starts from the seeds in fuzz/corpus/<target> and adds what it
# finds to build-fuzz/corpus/<target>, a copy outside the repository that the
# next run starts afresh; docs/reliability.md says how to fuzz longer.
set -euo pipefail
cd "$(dirname "$0")/.."

seconds=${1:-60}
shift || true
if [ $# -gt 0 ]; then
  targets=("$@")
else
  targets=()
  for f in fuzz/*_fuzzer.cpp; do
    name=$(basename "$f" _fuzzer.cpp)
    targets+=("$name")
  done
fi

CC=clang-14 CXX=clang++-14 cmake -S . -B build-fuzz -DCMAKE_BUILD_TYPE=RelWithDebInfo -DKT_FUZZ=ON \
  -DKT_BUILD_QT=OFF -DBUILD_TESTING=OFF -DKT_WERROR=ON >/dev/null
cmake --build build-fuzz --target kt_fuzzers -j"$(nproc)"

mkdir -p build-fuzz/findings

for name in "${targets[@]}"; do
  work=build-fuzz/corpus/$name
  rm -rf "$work"
  mkdir -p "$work"
  flags=(-max_total_time="$seconds" -timeout=10 -rss_limit_mb=2560 -print_final_stats=1
         -artifact_prefix="build-fuzz/findings/$name-")
  [ -f "fuzz/$name.dict" ] && flags+=(-dict="fuzz/$name.dict")
  # A target's own flags, one a line (e.g. a leak check that costs more than it finds).
  [ -f "fuzz/$name.options" ] && while read -r flag; do
    case "$flag" in -*) flags+=("$flag") ;; esac
  done <"fuzz/$name.options"
  echo "== fuzz_$name for ${seconds}s"
  log=build-fuzz/fuzz_$name.log
  if ! "build-fuzz/bin/fuzz_$name" "${flags[@]}" "$work" "fuzz/corpus/$name" >"$log" 2>&1; then
    tail -n 40 "$log"
    echo "fuzz_$name: FINDING (input kept in build-fuzz/findings/, log in $log)"
    exit 1
  fi
  grep -E '^stat::number_of_executed_units|^#[0-9]+ *DONE' "$log" | tr '\n' ' '
  echo
done
# A target passes when its run ends without a finding.
echo "fuzz: ${#targets[@]} passed, 0 failed"
