#!/usr/bin/env bash
# Builds Quarnel.dll for x64 with clang-cl and lld-link against Wine's SDK,
# the build's Microsoft-compiler branch, and tests it: its tables, its four
# kernels, its arithmetic, and the mingw-w64 build's Windows host under Wine
# (so .ci/windows.sh must have built windows-x64 first).
set -euo pipefail
cd "$(dirname "$0")/.."

packages=(clang-tools-14 lld-14 llvm-14 libwine-dev wine64)
missing=()
for p in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
done
if [ ${#missing[@]} -gt 0 ]; then
  apt-get update -qq
  DEBIAN_FRONTEND=noninteractive apt-get install -y -qq --no-install-recommends "${missing[@]}" >/dev/null
fi

echo "== Windows x64: Quarnel.dll (clang-cl, Wine's SDK; warnings are errors here)"
cmake --preset windows-clangcl-x64 -DQUARNEL_WERROR=ON >/dev/null
cmake --build --preset windows-clangcl-x64 -j2
ctest --preset windows-clangcl-x64
