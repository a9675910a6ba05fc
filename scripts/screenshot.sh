#!/usr/bin/env bash
# Takes docs/screenshot.png: the desktop program's main window right after
# start-up, in a real X server (Xvfb) with no window manager. Builds nothing.
#
#   scripts/screenshot.sh [KT6200] [OUTPUT]
#
# KT6200 defaults to build/bin/kt6200, OUTPUT to docs/screenshot.png. The
# program runs on a factory-fresh emulated programmer of its own unless
# KT62_EMULATOR names a profile.
set -euo pipefail
root="$(cd "$(dirname "$0")/.." && pwd)"
program="$(realpath "${1:-$root/build/bin/kt6200}")"
output="$(realpath -m "${2:-$root/docs/screenshot.png}")"

[ -x "$program" ] || { echo "screenshot.sh: no program at $program (build it first)" >&2; exit 1; }
command -v xvfb-run >/dev/null || { echo "screenshot.sh: xvfb-run is missing (package xvfb)" >&2; exit 1; }

scratch="$(mktemp -d)"
trap 'rm -rf "$scratch"' EXIT
mkdir -m 700 "$scratch/runtime"
mkdir -p "$(dirname "$output")"

XDG_RUNTIME_DIR="$scratch/runtime" XDG_DATA_HOME="$scratch/data" QT_QPA_PLATFORM=xcb \
  xvfb-run -a -s "-screen 0 1280x800x24 -nolisten tcp" \
  "$program" --screenshot "$output"
echo "wrote $output"
