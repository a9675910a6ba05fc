#!/usr/bin/env bash
# A production run on several emulated programmers at once against the same work done by dd and
# cmp. Each programmer's part gets the same image written into unit 0 and read back and compared
# (kt6200-prog run, a job without a layout, verify = "read-back"); the other side runs, for each
# programmer at the same time, dd copying the image over that part's unit data file in place
# (conv=notrunc, no direct I/O, as the emulator's pread/pwrite)
# and then cmp comparing the file with the image. Both sides move the same bytes between the
# same files through the same page cache: warm (a first run made and filled the unit files), no
# fsync on either side, and a sync before each side so that neither pays for the other's dirty
# pages. The sides take turns first from one round to the next. The program's time is its
# whole run, start-up, identification and report included; its peak memory is the process's
# maximum resident set (GNU time).
#
#   bench/production_bench.sh BUILD [ROUNDS] [MIB] [PROGRAMMERS] [DD_BS]
#
# Defaults: 3 rounds, a 1024 MiB image, 4 programmers, dd bs=32M.
set -euo pipefail
build="$(cd "${1:?usage: $0 BUILD [ROUNDS] [MIB] [PROGRAMMERS] [DD_BS]}" && pwd)"
rounds=${2:-3}
mib=${3:-1024}
count=${4:-4}
bs=${5:-32M}
prog="$build/bin/kt6200-prog"
run=$(mktemp -d)
trap 'rm -rf "$run"' EXIT
cd "$run"

# Parts twice the image's size, so that unit 0 holds it whatever the default layout keeps back;
# each with a serial number of its own, as on a line.
units=$(for i in $(seq "$count"); do
  printf '{"ufs": {"raw_capacity_bytes": %d, "serial_number": "BENCH%04d"}}\n' $((mib * 2 << 20)) "$i"
done | paste -sd, -)
echo "{\"programmers\": [$units]}" >profile.json
printf 'verify = "read-back"\n\n[[image]]\nfile = "image.bin"\nlun = 0\n' >job.toml
head -c "${mib}M" /dev/urandom >image.bin
export KT62_EMULATOR="$run/profile.json" XDG_DATA_HOME="$run/xdg"
unset KT62_TRACE KT62_BACKEND

now() { date +%s%N; }
# Runs a command: "<wall ms> <CPU s, user + system, children included> <peak KiB>".
timed() {
  local t0
  t0=$(now)
  /usr/bin/time -f '%U %S %M' -o time.txt "$@" >out.log
  local t=$(($(now) - t0))
  awk -v ms=$((t / 1000000)) '{ printf "%d %.2f %d\n", ms, $1 + $2, $3 }' time.txt
}
# The program's run; every part must end ok.
program() {
  rm -f report.jsonl
  timed "$prog" run job.toml --report report.jsonl
  [ "$(grep -c '"result":"ok"' report.jsonl)" -eq "$count" ] || { cat out.log >&2; exit 1; }
}
# dd then cmp on each unit file, all programmers at once; any failure fails the run.
dd_cmp() {
  # shellcheck disable=SC2016
  timed bash -c 'bytes=$1 bs=$2; shift 2; pids=()
    for f; do
      (dd if=image.bin of="$f" bs="$bs" conv=notrunc status=none && cmp -n "$bytes" image.bin "$f") &
      pids+=($!)
    done
    for p in "${pids[@]}"; do wait "$p"; done' _ "$((mib << 20))" "$bs" "${files[@]}"
}

echo "machine: $(nproc) CPUs, $(free -g | awk '/^Mem:/ { print $2 }') GiB; load: $(cut -d' ' -f1-3 /proc/loadavg)"
echo "$count programmers, $mib MiB each; dd bs=$bs"
echo "preparing: a first run makes the unit files and fills them ..."
program >/dev/null
mapfile -t files < <(ls "$run"/profile.json.state/device*/lu0.g*.data)
[ "${#files[@]}" -eq "$count" ] || { echo "expected $count unit files, found ${#files[@]}" >&2; exit 1; }
echo "round program-ms program-cpu-s program-peak-KiB dd+cmp-ms dd+cmp-cpu-s dd+cmp-peak-KiB load" | tee rounds.txt
for r in $(seq "$rounds"); do
  if [ $((r % 2)) -eq 1 ]; then
    sync; p=$(program); sync; d=$(dd_cmp)
  else
    sync; d=$(dd_cmp); sync; p=$(program)
  fi
  echo "$r $p $d $(cut -d' ' -f1 /proc/loadavg)" | tee -a rounds.txt
done
awk -v n="$count" 'NR > 1 { p[NR] = $2; pc[NR] = $3; m[NR] = $4; d[NR] = $5; dc[NR] = $6 }
  function median(a,   k, v, i, j, t) { k = 0; for (i in a) v[++k] = a[i];
    for (i = 1; i <= k; i++) for (j = i + 1; j <= k; j++) if (v[j] < v[i]) { t = v[i]; v[i] = v[j]; v[j] = t }
    return v[int((k + 1) / 2)] }
  END { peak = 0; for (i in m) if (m[i] > peak) peak = m[i];
        printf "median ms: program %d, dd+cmp %d; program / dd+cmp %.2f (goal <= 1.25)\n", median(p), median(d), median(p) / median(d);
        printf "median CPU s: program %.2f, dd+cmp %.2f\n", median(pc), median(dc);
        printf "peak memory: %.1f MiB for %d programmers, %.1f MiB each (goal <= 128)\n", peak / 1024, n, peak / 1024 / n }' rounds.txt
