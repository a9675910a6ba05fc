#!/usr/bin/env bash
# Sets up what is missing, builds, and runs every test: the normal build with
# warnings as errors, the same tests under AddressSanitizer and
# UndefinedBehaviorSanitizer, the threaded parts under ThreadSanitizer, the
# formatting check, clang-tidy, and every fuzz target for a minute.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/deps.sh

jobs=$(nproc)
export XDG_RUNTIME_DIR="${XDG_RUNTIME_DIR:-$(mktemp -d)}"
# The tests never touch the user's own emulated programmer.
export XDG_DATA_HOME="$(mktemp -d)"

echo "== formatting"
scripts/check-format.sh

echo "== build and tests"
cmake -S . -B build -DCMAKE_BUILD_TYPE=RelWithDebInfo -DKT_WERROR=ON >/dev/null
cmake --build build -j"$jobs"
(cd build && ctest --output-on-failure -j"$jobs")

echo "== clang-tidy"
# The program's own sources against .clang-tidy, two at a time; the tests
# are left out to keep the stage short (docs/reliability.md has the times).
KT_TIDY_JOBS="$jobs" scripts/run-clang-tidy.sh build

echo "== build and tests under AddressSanitizer + UndefinedBehaviorSanitizer"
cmake -S . -B build-asan -DCMAKE_BUILD_TYPE=Debug -DKT_WERROR=ON -DKT_SANITIZE=address,undefined >/dev/null
cmake --build build-asan -j"$jobs"
(cd build-asan && ctest --output-on-failure -j"$jobs")

echo "== transfer, script runner and library tests under ThreadSanitizer"
# The transfer worker, the UI ports it waits on and the library it shares a
# handle with; no Qt here, its own threads are not ours to check.
cmake -S . -B build-tsan -DCMAKE_BUILD_TYPE=Debug -DKT_WERROR=ON -DKT_SANITIZE=thread -DKT_BUILD_QT=OFF >/dev/null
cmake --build build-tsan -j"$jobs"
(cd build-tsan && ctest --output-on-failure -j"$jobs" -R '^(transfer|script|libkt62)\.|^e2e\..*/transfer_')

echo "== fuzz targets, 60 s each"
# clang-14 with libFuzzer, AddressSanitizer and UndefinedBehaviorSanitizer;
# fails on any finding. docs/reliability.md says how to run them longer.
scripts/run-fuzzers.sh 60
