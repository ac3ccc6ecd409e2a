#!/usr/bin/env bash
# Windows part of CI: cross-builds Quarnel.dll for x64 and x86 with mingw-w64,
# checks both export tables and their SSE2-only arithmetic, and runs the
# Windows hosts on the 64-bit module under Wine. The 32-bit module runs under
# Wine too where 32-bit Wine works (QUARNEL_WINE_TESTS=ON).
set -euo pipefail
cd "$(dirname "$0")/.."

packages=(cmake ninja-build g++-mingw-w64-x86-64 g++-mingw-w64-i686 binutils-mingw-w64-x86-64
  binutils-mingw-w64-i686 wine wine64 googletest)
missing=()
for p in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
done
if [ ${#missing[@]} -gt 0 ]; then
  apt-get update -qq
  DEBIAN_FRONTEND=noninteractive apt-get install -y -qq --no-install-recommends "${missing[@]}" >/dev/null
fi

for arch in x64 x86; do
  echo "== Windows $arch: Quarnel.dll (mingw-w64; warnings are errors here)"
  cmake --preset windows-$arch -DQUARNEL_WERROR=ON >/dev/null
  cmake --build --preset windows-$arch -j2
  ctest --preset windows-$arch
done

bash .ci/clangcl.sh
