#!/usr/bin/env bash
# Takes docs/screenshot.png: the desktop program's main window right after
# start-up, in a real X server (Xvfb) with no window manager. Builds nothing.
#
#   scripts/screenshot.sh [KT6200] [OUTPUT] [LANG_ID]
#
# KT6200 defaults to build/bin/kt6200, OUTPUT to docs/screenshot.png. With
# LANG_ID the program runs from a staged copy whose Config.ini selects that
# language (1 = Chinese in the shipped file); the build's own file is left
# alone. The
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

lang_id="${3:-}"
if [ -n "$lang_id" ]; then
  bindir="$(dirname "$program")"
  mkdir "$scratch/bin"
  cp "$program" "$bindir"/libapiKT6200.so* "$scratch/bin/"
  sed "s/^LANG_ID=.*/LANG_ID=$lang_id/" "$bindir/Config.ini" > "$scratch/bin/Config.ini"
  program="$scratch/bin/$(basename "$program")"
fi

XDG_RUNTIME_DIR="$scratch/runtime" XDG_DATA_HOME="$scratch/data" QT_QPA_PLATFORM=xcb \
  xvfb-run -a -s "-screen 0 1280x800x24 -nolisten tcp" \
  "$program" --screenshot "$output"
echo "wrote $output"
