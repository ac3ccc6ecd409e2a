#!/usr/bin/env bash
# Release packages from the build folders the runs before made: the Linux
# archive and .deb, and the two Windows ZIPs; and the wheels. The test suites have already
# unpacked and used each (tests/CheckInstall.cmake, tests/CheckSample.cmake).
# The ARM64 DLL's ZIP too, whose name alone is checked.
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
# The ARM64 DLL's, under its own name.
quietly cmake --build --preset windows-clangcl-arm64 --target package
ls -l build/*.tar.gz build/*.deb build-windows-*/*.zip build-clangcl-arm64/Quarnel-*-win-arm64.zip
# The wheels, where the tests made them (tests/python/).
if compgen -G "build*/dist/quarnel-*.whl" >/dev/null; then
  ls -l build*/dist/quarnel-*.whl
fi
