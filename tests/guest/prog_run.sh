#!/usr/bin/env bash
# kt6200-prog on the real kernel's UFS driver. The job has no layout (QEMU's part has no
# configuration descriptor): an image into units 1 and 2, each read back, fBackgroundOpsEn cleared.
# From the host: those ranges of the units' files hold the images, nothing else changed, and the
# one record says ok.   Usage: prog_run.sh KT6200_PROG GUEST_SCRIPT
set -euo pipefail
dir=$(mktemp -d "${TMPDIR:-/tmp}/kt-guest-prog-XXXXXX")
trap 'echo "files of the run kept in $dir" >&2' ERR
cd "$dir"
# Not a whole number of 1 MiB chunks, and from a sector inside the unit.
head -c $((1024 * 1024 + 3 * 4096)) /dev/urandom >one.img
head -c $((5 * 4096)) /dev/urandom >two.img
printf '%s\n' '[flags]' 'fBackgroundOpsEn = false' '[[image]]' 'file = "one.img"' 'lun = 1' \
  'start_sector = 7' '[[image]]' 'file = "two.img"' 'lun = 2' >job.toml

KT62_BACKEND=linux KT62_LINUX_WRITE=1 "$2" run --dir "$dir" --units 3 --size 16 -- \
  "$1" run job.toml --report report.jsonl

for u in 0 1 2; do truncate -s 16M "want$u.img"; done
dd if=one.img of=want1.img bs=4096 seek=7 conv=notrunc status=none
dd if=two.img of=want2.img bs=4096 conv=notrunc status=none
for u in 0 1 2; do cmp "want$u.img" "ufs0-lu$u.img"; done
python3 -c '
import json, sys
lines = open("report.jsonl").readlines()
r = json.loads(lines[0])
assert len(lines) == 1 and r["result"] == "ok", lines
assert [s["outcome"] for s in r["steps"]][4:7] == ["ok"] * 3, r["steps"]
assert r["steps"][6]["detail"] == "fBackgroundOpsEn 0", r["steps"]
assert [(i["lun"], i["start_sector"]) for i in r["images"]] == [(1, 7), (2, 0)], r["images"]'
rm -rf "$dir"
