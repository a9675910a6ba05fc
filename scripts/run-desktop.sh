#!/usr/bin/env bash
# Sets up what is missing, builds, and starts the desktop program on the
# built-in emulated programmer. Arguments go to the program.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/deps.sh
cmake -S . -B build -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
cmake --build build -j"$(nproc)" --target kt6200
exec build/bin/kt6200 "$@"
