#!/usr/bin/env bash
# Sets up what is missing, builds, and runs every test: the normal build with
# warnings as errors, the Linux backend's cases on a real kernel in a QEMU
# guest, its Debian package installed, run and removed, the same tests under AddressSanitizer and
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
cmake -S . -B build -DCMAKE_BUILD_TYPE=RelWithDebInfo -DKT_WERROR=ON -DKT_GUEST_TESTS=ON >/dev/null
cmake --build build -j"$jobs"
(cd build && ctest --output-on-failure -j"$jobs" -LE guest)

echo "== the Linux backend on a real kernel: the kernel's UFS driver on QEMU's UFS device"
# Never skipped: a missing QEMU, a kernel that does not build or a guest that
# does not boot fails here. The kernel is cached outside the tree
# (scripts/guest.sh), so only the first run on a machine builds it.
stage_start=$(date +%s)
scripts/guest.sh setup
(cd build && ctest --output-on-failure -j"$jobs" -L guest --no-tests=error)
echo "real-kernel stage: $(($(date +%s) - stage_start)) s"

echo "== package: build, install, run the installed script runner, remove"
# The built tree packaged as is; installed like any package, run as a user
# would run it, and removed again.
sudo=""
[ "$(id -u)" -eq 0 ] || sudo="sudo"
deb=$(scripts/package.sh build | tail -n 1)
DEBIAN_FRONTEND=noninteractive $sudo apt-get install -y "./$deb" >/dev/null
packaged=$(mktemp -d)
printf 'about\nprint\n' >"$packaged/about.script"
ran=0
about=$(cd "$packaged" && XDG_CONFIG_HOME="$packaged/config" XDG_DATA_HOME="$packaged/data" \
  KT62_EMULATOR= /usr/bin/kt6200-script about.script) || ran=$?
DEBIAN_FRONTEND=noninteractive $sudo apt-get remove -y kt6200 >/dev/null
rm -rf "$packaged"
[ "$ran" -eq 0 ] && grep -q 'version: 1.0.8' <<<"$about" || {
  echo "the installed kt6200-script failed ($ran): $about" >&2
  exit 1
}
if dpkg-query -W -f='${Status}' kt6200 2>/dev/null | grep -q 'install ok installed'; then
  echo "kt6200 is still installed" >&2
  exit 1
fi

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
