#!/usr/bin/env bash
# Release packages from the build folders the runs before made: the Linux
# archive and .deb, and the two Windows ZIPs; and the wheels. The test suites have already
# unpacked and used each (tests/CheckInstall.cmake, tests/CheckSample.cmake).
set -euo pipefail
cd "$(dirname "$0")/.."

quietly() {
  local out
  out=$("$@" 2>&1) || { echo "$out"; return 1; }
}

echo "== release packages"
quietly cmake --build build --target package
for arch in x64 x86; do
  quietly cmake --build --preset windows-$arch --target package
done
ls -l build/*.tar.gz build/*.deb build-windows-*/*.zip
# The wheels, where the tests made them (tests/python/).
if compgen -G "build*/dist/quarnel-*.whl" >/dev/null; then
  ls -l build*/dist/quarnel-*.whl
fi
