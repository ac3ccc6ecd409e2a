#!/usr/bin/env bash
# Release packages from the build folders the runs before made: the Linux
# archive and .deb, and the two Windows ZIPs. The test suites have already
# unpacked and used each (tests/CheckInstall.cmake, tests/CheckSample.cmake).
set -euo pipefail
cd "$(dirname "$0")/.."

echo "== release packages"
cmake --build build --target package -- -j2 >/dev/null
for arch in x64 x86; do
  cmake --build --preset windows-$arch --target package >/dev/null
done
ls -l build/*.tar.gz build/*.deb build-windows-*/*.zip
