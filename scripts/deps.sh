#!/usr/bin/env bash
# Installs the Debian 12 packages the build, the program and the tests need,
# only those that are missing. Uses sudo when not run as root.
#   --guest   also what the real-kernel proving ground needs (scripts/guest.sh):
#             QEMU 10 from bookworm-backports (Debian 12's own QEMU has no UFS
#             device), the kernel source and what building it takes.
set -euo pipefail

packages=(
  cmake g++ make pkg-config dpkg-dev file
  qt6-base-dev libgl-dev
  nlohmann-json3-dev libgtest-dev libgmock-dev libbenchmark-dev
  libtomlplusplus-dev libcli11-dev libtinyxml2-dev libssl-dev
  clang-format-14 clang-tidy-14 clang-14 libclang-rt-14-dev
  xvfb xauth fontconfig fonts-dejavu-core fonts-wqy-microhei
)
guest_packages=(
  linux-source-6.12 flex bison libelf-dev libssl-dev bc cpio xz-utils busybox-static e2fsprogs fdisk
)
backports_packages=(qemu-system-x86)
guest=0
[ "${1:-}" = "--guest" ] && guest=1

sudo=""
[ "$(id -u)" -eq 0 ] || sudo="sudo"

missing_of() {
  local p
  for p in "$@"; do
    dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed' || echo "$p"
  done
}

missing=($(missing_of "${packages[@]}"))
backports=()
if [ "$guest" -eq 1 ]; then
  missing+=($(missing_of "${guest_packages[@]}"))
  # The package alone is not enough: bookworm's own QEMU 7.2 would satisfy the name.
  qemu_version=$(dpkg-query -W -f='${Version}' qemu-system-x86 2>/dev/null || true)
  if [ -z "$qemu_version" ] || dpkg --compare-versions "$qemu_version" lt 1:8.2; then
    backports=("${backports_packages[@]}")
  fi
fi
[ ${#missing[@]} -eq 0 ] && [ ${#backports[@]} -eq 0 ] && exit 0

if [ ${#backports[@]} -gt 0 ] && ! grep -rqs 'bookworm-backports' /etc/apt/sources.list /etc/apt/sources.list.d/; then
  echo "Adding bookworm-backports to the package sources"
  printf '%s\n' 'Types: deb' 'URIs: http://deb.debian.org/debian' 'Suites: bookworm-backports' \
    'Components: main' 'Signed-By: /usr/share/keyrings/debian-archive-keyring.gpg' |
    $sudo tee /etc/apt/sources.list.d/bookworm-backports.sources >/dev/null
fi
$sudo apt-get update
if [ ${#missing[@]} -gt 0 ]; then
  echo "Installing: ${missing[*]}"
  DEBIAN_FRONTEND=noninteractive $sudo apt-get install -y --no-install-recommends "${missing[@]}"
fi
if [ ${#backports[@]} -gt 0 ]; then
  echo "Installing from bookworm-backports: ${backports[*]}"
  DEBIAN_FRONTEND=noninteractive $sudo apt-get -t bookworm-backports install -y --no-install-recommends \
    "${backports[@]}"
fi
