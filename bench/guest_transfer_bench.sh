#!/usr/bin/env bash
# The sector transfer of a whole unit on the real kernel's UFS host (QEMU's
# UFS device, scripts/guest.sh) against dd with the same block size on the
# unit's block device, in one boot. Both sides use direct I/O (the program's
# SG_IO bypasses the page cache, so dd gets iflag/oflag=direct) and a file
# in the guest's memory (tmpfs, its /var/tmp), and each program run's start-up (discovery,
# open) is measured alone and taken off. Under emulation (TCG) absolute times
# mean nothing: only the ratio dd time / program time counts.
#
#   bench/guest_transfer_bench.sh BUILD [MIB] [ROUNDS] [BLOCK_KIB]
#
# Defaults: a 128 MiB unit, 3 rounds, 1024 KiB (the guest's max_hw_sectors_kb).
set -euo pipefail
here="$(cd "$(dirname "$0")/.." && pwd)"
build="$(cd "${1:?usage: $0 BUILD [MIB] [ROUNDS] [BLOCK_KIB]}" && pwd)"
mib=${2:-128}
rounds=${3:-3}
kib=${4:-1024}
run=$(mktemp -d)
trap 'rm -rf "$run"' EXIT
cat >"$run/inner.sh" <<INNER
set -euo pipefail
script=$build/bin/kt6200-script
sd=\$(ls /sys/bus/scsi/devices/0:0:0:0/block)
sectors=\$(( $mib * 1024 * 1024 / 4096 ))
export KT62_BACKEND=linux KT62_LINUX_WRITE=1 XDG_DATA_HOME=/var/tmp/xdg
mkdir -p /var/tmp/app
head -c ${mib}M /dev/urandom >/var/tmp/source.bin
now() { date +%s%N; }
# Seconds a script of the program takes.
program() {
  local t0=\$(now)
  printf '%s\n' "\$@" | "\$script" --appdir /var/tmp/app - >/var/tmp/out.txt
  echo \$(( \$(now) - t0 ))
}
transfer() {
  program "set IDC_EDIT_START_SECTOR 0" "set IDC_EDIT_SECTOR_COUNT \$sectors" \\
    "set IDC_EDIT_PACKET_SIZE $kib" "choose \$2" "click \$1" "wait" "text IDC_PROGRESS_TRANSFER"
  grep -qx '"1000"' /var/tmp/out.txt || { echo "the transfer did not finish:" >&2; cat /var/tmp/out.txt >&2; exit 1; }
}
dd_time() { local t0=\$(now); dd "\$@" bs=${kib}K status=none; echo \$(( \$(now) - t0 )); }
echo "round start-up program-read dd-read program-write dd-write (ms)"
for r in \$(seq $rounds); do
  rm -f /var/tmp/p.bin /var/tmp/d.bin
  base=\$(program "print")
  pr=\$(transfer IDC_BTN_READ_SECTORS /var/tmp/p.bin)
  dr=\$(dd_time if=/dev/\$sd of=/var/tmp/d.bin iflag=direct)
  cmp /var/tmp/p.bin /var/tmp/d.bin
  pw=\$(transfer IDC_BTN_WRITE_SECTORS /var/tmp/source.bin)
  dw=\$(dd_time if=/var/tmp/source.bin of=/dev/\$sd oflag=direct)
  echo "\$r \$((base / 1000000)) \$(((pr - base) / 1000000)) \$((dr / 1000000)) \$(((pw - base) / 1000000)) \$((dw / 1000000))"
done
INNER
KT_GUEST_MEMORY=${KT_GUEST_MEMORY:-3G} "$here/scripts/guest.sh" run --dir "$run" --size "$mib" -- bash "$run/inner.sh" | tee "$run/rounds.txt"
# Medians, and the ratios dd / program (above 1: the program is faster).
awk 'NR > 1 { b[NR] = $2; pr[NR] = $3; dr[NR] = $4; pw[NR] = $5; dw[NR] = $6; n++ }
  function median(a,   k, v, i, j, t) { k = 0; for (i in a) v[++k] = a[i];
    for (i = 1; i <= k; i++) for (j = i + 1; j <= k; j++) if (v[j] < v[i]) { t = v[i]; v[i] = v[j]; v[j] = t }
    return v[int((k + 1) / 2)] }
  END { printf "median ms: program read %d, dd read %d, program write %d, dd write %d\n", median(pr), median(dr), median(pw), median(dw);
        printf "ratio dd/program: read %.2f, write %.2f\n", median(dr) / median(pr), median(dw) / median(pw) }' "$run/rounds.txt"
