#!/usr/bin/env bash
# Windows part of CI: cross-builds Quarnel.dll for x64 and x86 with mingw-w64,
# checks both export tables and their SSE2-only arithmetic, builds hosts in
# Microsoft's ABI (clang, lld-link, Wine's SDK), and runs every Windows test
# under Wine: the 64-bit module with wine64, the 32-bit one with 32-bit Wine,
# under qemu-i386 where the kernel runs no 32-bit programs itself. Then the
# clang-cl builds (.ci/clangcl.sh), beside the x86 tests.
#   .ci/windows.sh            install what is missing, build and test
#   .ci/windows.sh --prepare  only install, and make the shared Wine prefix
#                             and arm64 Wine (.ci/arm64-wine.sh)
#   QUARNEL_X86_VARIANTS_FILTER   gtest filter for the emulated x86 variants test
#                                 (default: five texel sizes; empty: all)
set -euo pipefail
cd "$(dirname "$0")/.."
# shellcheck source=.ci/lib.sh
source .ci/lib.sh

# One apt run for this step and clang-cl's. The win32 thread model only: the
# builds use no other, and the posix one doubles the download.
dpkg --print-foreign-architectures | grep -qx i386 || dpkg --add-architecture i386
packages=(cmake ninja-build g++-mingw-w64-x86-64-win32 g++-mingw-w64-i686-win32 binutils-mingw-w64-x86-64
  binutils-mingw-w64-i686 wine wine64 qemu-user libwine-dev clang-14 lld-14 llvm-14 clang-tools-14
  googletest xvfb xauth)
bash .ci/install.sh "${packages[@]}"

# 32-bit Wine comes from the archive's i386 side, which can lag its amd64
# side for a day (an index mid-sync): then it cannot be installed, its tests
# are skipped, and the x86 DLL is still built and checked. Wine's 32-bit
# SDK, for the x86 hosts in Microsoft's ABI and clang-cl, is unpacked from
# its package then (lib.sh).
wine32=ON
if ! why=$(bash .ci/install.sh wine32:i386 2>&1); then
  wine32=OFF
  why=$(grep 'cannot be installed' <<<"$why" | tail -n 1)
fi
# Without that SDK the x86 DLL is still built and tested; only the hosts
# built against it are left out.
msvc_x86=ON
if ! sdk_i386=$(wine_sdk_i386); then
  msvc_x86=OFF
  [ "${1-}" = --prepare ] ||
    skipped "the x86 hosts in Microsoft's ABI" "libwine-dev:i386 can be neither installed nor downloaded"
fi

# 32-bit x86 programs through qemu-i386 when the kernel cannot run them (F: the
# interpreter is opened now, so it works in any mount namespace later).
binfmt=/proc/sys/fs/binfmt_misc
if [ $wine32 = ON ] && ! /usr/lib/wine/wine --version >/dev/null 2>&1; then
  [ -e "$binfmt/register" ] || mount -t binfmt_misc binfmt_misc "$binfmt"
  if [ ! -e "$binfmt/qemu-i386" ]; then
    # The kernel reads the \x escapes itself.
    printf '%s\n' ':qemu-i386:M::\x7fELF\x01\x01\x01\x00\x00\x00\x00\x00\x00\x00\x00\x00\x02\x00\x03\x00:\xff\xff\xff\xff\xff\xfe\xfe\x00\xff\xff\xff\xff\xff\xff\xff\xff\xfe\xff\xff\xff:/usr/bin/qemu-i386:F' \
      >"$binfmt/register"
  fi
fi
emulated=OFF
[ $wine32 = ON ] && [ -e "$binfmt/qemu-i386" ] && emulated=ON

# The Wine prefix both build folders share. Making it sets up the 32-bit side
# too, emulated where the kernel runs no 32-bit programs, so .ci/run has it
# made while other work runs; the tests' own set-up step then finds it ready.
# QEMU_RESERVED_VA as the tests set it (tests/windows/CMakeLists.txt).
prefix=$PWD/build-wine-prefix
if [ "${1-}" = --prepare ]; then
  WINEPREFIX=$prefix WINEDEBUG=-all WINEDLLOVERRIDES=mscoree,mshtml= DISPLAY='' QEMU_RESERVED_VA=0x88000000 \
    cmake -DWINE=/usr/lib/wine/wine64 -DWINESERVER=wineserver -DPREFIX="$prefix" -P tests/windows/WinePrefix.cmake
  # arm64 Wine for the ARM64 DLL, set up here while other work runs;
  # .ci/clangcl.sh asks again, and names a skip if it cannot be.
  bash .ci/arm64-wine.sh --prepare 2>/dev/null || true
  exit 0
fi

# Configures and builds one build folder; its tests follow. Both folders share
# one Wine prefix.
windows_step() {  # preset, then extra configure options
  local preset=$1
  shift
  cmake --preset "$preset" -DQUARNEL_WERROR=ON -DQUARNEL_MSVC_HOSTS=ON \
    -DQUARNEL_WINE_PREFIX="$prefix" "$@" >/dev/null
  cmake --build --preset "$preset" -j2
}

timed "Windows x64: Quarnel.dll (mingw-w64; warnings are errors here)" windows_step windows-x64
timed "Windows x64 tests under Wine" ctest --preset windows-x64 -j2

# Emulated, the variants test runs at texel sizes 1, 0, the smallest denormal,
# the largest float and NaN, and without the scalar kernel's sweep against
# the reference: two minutes instead of ten; natively, and on x64, all.
filter='-ManyTexelSizes/*'
if [ $emulated = ON ]; then
  sizes="TexelSizes/AllTriples.*/0:TexelSizes/AllTriples.*/4:TexelSizes/AllTriples.*/9"
  sizes+=":TexelSizes/AllTriples.*/11:TexelSizes/AllTriples.*/14"
  filter=${QUARNEL_X86_VARIANTS_FILTER-NormalsVariants.*:HeightsVariants.*:$sizes}
fi
timed "Windows x86: Quarnel.dll (mingw-w64; warnings are errors here)" windows_step windows-x86 \
  -DQUARNEL_WINE_TESTS=$wine32 -DQUARNEL_WINE_EMULATED=$emulated -DQUARNEL_VARIANTS_FILTER="$filter" \
  -DQUARNEL_WINE_ROOT="$sdk_i386" -DQUARNEL_MSVC_HOSTS=$msvc_x86

# The clang-cl builds beside the x86 tests, whose variants test keeps one
# core busy alone for most of their run.
clangcl_log=$(mktemp)
trap 'rm -f "$clangcl_log"' EXIT
timed "clang-cl builds" bash .ci/clangcl.sh >"$clangcl_log" 2>&1 &
clangcl=$!
x86=0
if [ $wine32 = ON ]; then
  timed "Windows x86 tests under Wine (emulated: $emulated)" ctest --preset windows-x86 -j2 || x86=$?
else
  # The tables, instructions, import library and ZIP checks need no Wine.
  timed "Windows x86 checks without Wine" ctest --preset windows-x86 -j2 || x86=$?
  skipped "the x86 DLL under 32-bit Wine" "$why"
fi
clangcl_status=0
wait $clangcl || clangcl_status=$?
cat "$clangcl_log"
[ $x86 -eq 0 ] && [ $clangcl_status -eq 0 ]
