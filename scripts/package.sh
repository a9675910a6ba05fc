#!/usr/bin/env bash
# Builds the Debian package kt6200_VERSION_ARCH.deb in a build folder (default
# build-package, a Release build without tests; CI passes its own built tree).
# Installed under /usr: programs in /usr/bin, the library, its pkg-config file
# in /usr/lib/<multiarch>, the shipped Config.ini in /usr/share/kt6200.
set -euo pipefail
cd "$(dirname "$0")/.."
build="${1:-build-package}"

if [ -f "$build/CMakeCache.txt" ]; then
  cmake -S . -B "$build" -DCMAKE_INSTALL_PREFIX=/usr >/dev/null
else
  cmake -S . -B "$build" -DCMAKE_BUILD_TYPE=Release -DBUILD_TESTING=OFF -DCMAKE_INSTALL_PREFIX=/usr >/dev/null
fi
cmake --build "$build" -j"$(nproc)"
rm -f "$build"/kt6200_*.deb
(cd "$build" && cpack -G DEB >/dev/null)
ls "$build"/kt6200_*.deb
