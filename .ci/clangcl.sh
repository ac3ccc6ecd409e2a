#!/usr/bin/env bash
# Builds Quarnel.dll with clang-cl and lld-link against Wine's SDK, the
# build's Microsoft-compiler branch, and tests it: its tables, its four
# kernels and its arithmetic; on x64 the mingw-w64 build's Windows host runs
# on it under Wine (so .ci/windows.sh must have built windows-x64 first).
# The ARM64 DLL is built and checked the same way, and run under arm64 Wine
# and qemu-aarch64 (.ci/arm64-wine.sh) by the default build's tests, so
# build/ must hold them.
set -euo pipefail
cd "$(dirname "$0")/.."
# shellcheck source=.ci/lib.sh
source .ci/lib.sh

# Wine's headers and import libraries serve as the SDK, both widths; the
# 32-bit one may come unpacked from its package (lib.sh).
packages=(cmake ninja-build clang-tools-14 lld-14 llvm-14 libwine-dev wine64 qemu-user)
dpkg --print-foreign-architectures | grep -qx i386 || dpkg --add-architecture i386
bash .ci/install.sh "${packages[@]}"
arches=(x64 x86 arm64)
if ! sdk_i386=$(wine_sdk_i386); then
  arches=(x64 arm64)
  skipped "the clang-cl x86 DLL" "libwine-dev:i386 can be neither installed nor downloaded"
fi

for arch in "${arches[@]}"; do
  echo "== Windows $arch: Quarnel.dll (clang-cl, Wine's SDK; warnings are errors here)"
  cmake --preset "windows-clangcl-$arch" -DQUARNEL_WERROR=ON -DQUARNEL_WINE_ROOT="$sdk_i386" >/dev/null
  cmake --build --preset "windows-clangcl-$arch" -j2
  if [ "$arch" = arm64 ]; then
    status=0
    why=$(bash .ci/arm64-wine.sh --prepare 2>&1) || status=$?
    [ $status -eq 0 ] || [ $status -eq 77 ] || { echo "$why"; exit $status; }
    [ $status -eq 0 ] || skipped "the ARM64 DLL under arm64 Wine" "${why#arm64 wine cannot run here: }"
  fi
  ctest --preset "windows-clangcl-$arch"
done
