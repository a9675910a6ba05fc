#!/usr/bin/env bash
# A real Linux kernel driving QEMU's emulated UFS controller, for trying the
# Linux host backend against code nobody here wrote. docs/hardware.md
# ("Trying it without hardware") tells how to use it.
#
#   scripts/guest.sh setup
#       installs QEMU (bookworm-backports) and the kernel's build packages,
#       builds the guest kernel (cached, see below) and the initramfs.
#   scripts/guest.sh run [--hosts N] [--units N] [--size MIB] [--dir DIR] [--user UID]
#                        [--interactive] [--display] [-- CMD ARG...]
#       boots the guest with N UFS hosts of N units each (default 1 and 1),
#       unit U of host H backed by DIR/ufsH-luU.img (made sparse, MIB MiB,
#       when missing), runs CMD as UID (default root; without CMD, an
#       interactive shell), powers off, and exits with CMD's status. Its
#       output is printed when it ends; --interactive gives it the terminal
#       instead, --display also QEMU's window with a framebuffer. CMD sees
#       the host's own files read-only and DIR read-write, so programs built
#       here run unchanged; it starts in the caller's folder (DIR when the
#       guest cannot see it), and KT62_*, XDG_*, HOME and LANG are passed in.
#       KT_GUEST_MEMORY (default 1G) sizes the guest, KT_GUEST_TIMEOUT
#       (seconds, default 600; none when interactive)
#       bounds the whole boot.
#   scripts/guest.sh try [BUILD]
#       the program against the guest's UFS host (writes allowed: the unit is
#       a scratch image): the desktop program in QEMU's window when there is
#       a display, else kt6200-script reading script lines as you type them.
#   scripts/guest.sh paths
#       prints the kernel and initramfs that `run` boots.
#
# The kernel is built from Debian's linux-source-6.12 with `tinyconfig` and
# tests/guest/kernel.config, and kept in $KT_GUEST_CACHE (default
# /var/cache/kt6200-guest for root, else ~/.cache/kt6200-guest) under a name
# made of the source's version and the fragment's hash, so only a change of
# either builds it again. Exit status 3: the guest did not boot or did not
# report its command's status.
set -euo pipefail
here="$(cd "$(dirname "$0")/.." && pwd)"
fragment="$here/tests/guest/kernel.config"
init_script="$here/tests/guest/init"

if [ -n "${KT_GUEST_CACHE:-}" ]; then
  cache="$KT_GUEST_CACHE"
elif [ "$(id -u)" -eq 0 ]; then
  cache=/var/cache/kt6200-guest
else
  cache="${XDG_CACHE_HOME:-$HOME/.cache}/kt6200-guest"
fi
source_package=linux-source-6.12

die() {
  echo "guest: $*" >&2
  exit 3
}

as_root() { if [ "$(id -u)" -eq 0 ]; then "$@"; else sudo "$@"; fi; }

install_packages() {
  local missing=() p
  for p in "$@"; do
    dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed' || missing+=("$p")
  done
  [ ${#missing[@]} -eq 0 ] && return 0
  echo "Installing: ${missing[*]}"
  as_root apt-get update
  DEBIAN_FRONTEND=noninteractive as_root apt-get install -y --no-install-recommends "${missing[@]}"
}

kernel_dir() {
  local version hash
  version=$(dpkg-query -W -f='${Version}' "$source_package" 2>/dev/null) || die "$source_package is not installed (scripts/guest.sh setup)"
  hash=$(sha256sum "$fragment" | cut -c1-12)
  echo "$cache/kernel-$version-$hash"
}

initramfs_path() {
  local hash
  hash=$(cat "$init_script" /bin/busybox | sha256sum | cut -c1-12)
  echo "$cache/initramfs-$hash.cpio.gz"
}

build_kernel() {
  local dir work tarball
  dir=$(kernel_dir)
  if [ -f "$dir/bzImage" ]; then
    echo "guest kernel: $dir/bzImage (cached)"
    return 0
  fi
  tarball=$(ls /usr/src/linux-source-6.12.tar.* 2>/dev/null | head -n 1)
  [ -n "$tarball" ] || die "no kernel source tarball in /usr/src"
  mkdir -p "$cache"
  work=$(mktemp -d "$cache/build.XXXXXX")
  echo "guest kernel: building in $work (5 minutes on two idle cores, more beside other work)"
  tar -xf "$tarball" -C "$work" --strip-components=1
  (
    cd "$work"
    make -s ARCH=x86_64 tinyconfig
    scripts/kconfig/merge_config.sh -m .config "$fragment" >/dev/null
    make -s ARCH=x86_64 olddefconfig
    # A fragment line the configuration dropped (a dependency missing) is a
    # kernel that would boot without what the tests need.
    local line missing=0
    while IFS= read -r line; do
      case "$line" in CONFIG_*=y) grep -qx "$line" .config || {
        echo "guest kernel: $line did not survive olddefconfig" >&2
        missing=1
      } ;; esac
    done <"$fragment"
    [ "$missing" -eq 0 ]
    make -s ARCH=x86_64 -j"$(nproc)" bzImage
  ) || {
    rm -rf "$work"
    die "the guest kernel did not build"
  }
  mkdir -p "$dir"
  cp "$work/arch/x86/boot/bzImage" "$dir/bzImage.tmp"
  cp "$work/.config" "$dir/config"
  mv "$dir/bzImage.tmp" "$dir/bzImage"
  rm -rf "$work"
  echo "guest kernel: $dir/bzImage"
}

build_initramfs() {
  local out root
  out=$(initramfs_path)
  [ -f "$out" ] && return 0
  mkdir -p "$cache"
  root=$(mktemp -d)
  mkdir -p "$root"/{bin,dev,proc,sys,host}
  cp /bin/busybox "$root/bin/busybox"
  cp "$init_script" "$root/init"
  chmod 755 "$root/init"
  # Its own temporary name: two guests booting at once may both build it.
  local tmp
  tmp=$(mktemp "$out.XXXXXX")
  (cd "$root" && find . | cpio -o -H newc --quiet | gzip -1) >"$tmp"
  chmod 644 "$tmp"
  mv "$tmp" "$out"
  rm -rf "$root"
}

setup() {
  "$here/scripts/deps.sh" --guest
  build_kernel
  build_initramfs
}

run() {
  local hosts=1 units=1 size=64 dir="" user=0 interactive=0 display=0
  while [ $# -gt 0 ]; do
    case "$1" in
      --hosts) hosts=$2; shift 2 ;;
      --units) units=$2; shift 2 ;;
      --size) size=$2; shift 2 ;;
      --dir) dir=$2; shift 2 ;;
      --user) user=$2; shift 2 ;;
      --interactive) interactive=1; shift ;;
      --display) display=1; interactive=1; shift ;;
      --) shift; break ;;
      *) die "unknown option $1" ;;
    esac
  done
  command -v qemu-system-x86_64 >/dev/null || die "qemu-system-x86_64 is missing (scripts/guest.sh setup)"
  local kernel initramfs
  kernel="$(kernel_dir)/bzImage"
  initramfs=$(initramfs_path)
  [ -f "$kernel" ] || die "no guest kernel at $kernel (scripts/guest.sh setup)"
  [ -f "$initramfs" ] || build_initramfs
  local keep=1
  if [ -z "$dir" ]; then
    dir=$(mktemp -d)
    keep=0
  fi
  mkdir -p "$dir"
  dir=$(cd "$dir" && pwd)
  rm -f "$dir"/.guest-{status,command,stdout,stderr,console}

  local devices=() h u img
  for ((h = 0; h < hosts; h++)); do
    devices+=(-device "ufs,serial=KT62GUEST$h,id=ufs$h")
    for ((u = 0; u < units; u++)); do
      img="$dir/ufs$h-lu$u.img"
      [ -f "$img" ] || truncate -s "${size}M" "$img"
      devices+=(-drive "file=$img,if=none,id=ufs${h}lu$u,format=raw,cache=writethrough")
      devices+=(-device "ufs-lu,drive=ufs${h}lu$u,lun=$u,bus=ufs$h")
    done
  done

  # The command, with the variables the access library and the program read.
  {
    # Where the caller stands, when the guest sees it (the run folder, or
    # any folder of the host, read-only); else the run folder.
    echo "cd $(printf %q "$PWD") 2>/dev/null || cd $(printf %q "$dir")"
    local name
    for name in $(compgen -e); do
      case "$name" in KT62_* | XDG_* | HOME | LANG) echo "export $name=$(printf %q "${!name}")" ;; esac
    done
    if [ $# -gt 0 ]; then
      printf 'exec'
      printf ' %q' "$@"
      echo
    else
      echo 'exec /bin/bash -i'
    fi
  } >"$dir/.guest-command"

  [ $# -eq 0 ] && interactive=1
  local io=() mode=""
  if [ "$interactive" -eq 1 ]; then
    io=(-serial mon:stdio)
  else
    io=(-serial "file:$dir/.guest-console" -monitor none)
  fi
  if [ "$display" -eq 1 ]; then
    [ -n "${DISPLAY:-}${WAYLAND_DISPLAY:-}" ] || die "--display needs a display (DISPLAY is not set)"
    io+=(-vga std -display "${KT_GUEST_DISPLAY:-gtk}")
    mode=" vga=0x318"
  else
    io+=(-display none)
  fi
  local accel="${KT_GUEST_ACCEL:-tcg}"
  local stdin=/dev/null
  [ "$interactive" -eq 1 ] && stdin=/dev/stdin
  local limit="${KT_GUEST_TIMEOUT:-600}"
  [ "$interactive" -eq 1 ] && limit="${KT_GUEST_TIMEOUT:-0}"
  timeout -s KILL "$limit" qemu-system-x86_64 -machine q35 -m "${KT_GUEST_MEMORY:-1G}" -smp 2 -accel "$accel" \
    -cpu max -no-reboot "${io[@]}" -kernel "$kernel" -initrd "$initramfs" \
    -append "console=ttyS0 quiet loglevel=3 panic=-1$mode kt.run=$dir kt.user=$user kt.interactive=$interactive" \
    -virtfs "local,path=/,mount_tag=hostroot,security_model=none,readonly=on,multidevs=remap" \
    -virtfs "local,path=$dir,mount_tag=run,security_model=none,multidevs=remap" \
    -nic none "${devices[@]}" <"$stdin" || die "QEMU failed"

  local status
  status=$(cat "$dir/.guest-status" 2>/dev/null) || {
    [ -f "$dir/.guest-console" ] && tail -n 30 "$dir/.guest-console" >&2
    die "the guest did not report its command's status"
  }
  cat "$dir/.guest-stdout" 2>/dev/null || true
  cat "$dir/.guest-stderr" >&2 2>/dev/null || true
  [ "$keep" -eq 1 ] || rm -rf "$dir"
  return "$status"
}

# The program on the guest's real UFS host, writes allowed (the unit is a
# scratch image): the desktop program on QEMU's window when there is a
# display, else the script runner reading lines from the terminal.
try() {
  local build="${1:-$here/build}"
  export KT62_BACKEND=linux KT62_LINUX_WRITE=1
  if [ -n "${DISPLAY:-}${WAYLAND_DISPLAY:-}" ]; then
    if ! dpkg-query -W -f='${Version}' qemu-system-gui 2>/dev/null | grep -q bpo; then
      DEBIAN_FRONTEND=noninteractive as_root apt-get -t bookworm-backports install -y --no-install-recommends \
        qemu-system-gui
    fi
    run --display --size 256 -- env QT_QPA_PLATFORM=linuxfb QT_QPA_GENERIC_PLUGINS=evdevkeyboard,evdevmouse \
      QT_QPA_FB_HIDECURSOR=0 "$build/bin/kt6200"
  else
    echo "kt6200-script on the guest's UFS host: type script lines (docs/scripting.md); Ctrl-D ends" >&2
    run --interactive --size 256 -- "$build/bin/kt6200-script" -
  fi
}

case "${1:-}" in
  setup) setup ;;
  try) shift; try "$@" ;;
  run) shift; run "$@" ;;
  paths) echo "$(kernel_dir)/bzImage"; initramfs_path ;;
  *) sed -n '2,30p' "$0" | sed 's/^# \{0,1\}//' >&2; exit 2 ;;
esac
