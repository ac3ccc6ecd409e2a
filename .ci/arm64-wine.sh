#!/usr/bin/env bash
# Runs a Windows ARM64 program here: Debian's arm64 Wine, whose loader is an
# AArch64 Linux program, under qemu-aarch64. Sets itself up once, quietly,
# installing nothing over the host:
#   - Wine's arm64 packages, fetched with apt-get download through an apt
#     state of its own (arm64 indexes only) and unpacked into root/, the
#     emulator's library root;
#   - qemu-aarch64 registered with binfmt_misc (F: opened now, so it works
#     in any mount namespace later);
#   - a Wine prefix made by the host's own x64 Wine (seconds) holding the
#     arm64 PE DLLs. A first wineboot under emulation never ends: it starts
#     explorer.exe over and over.
#   .ci/arm64-wine.sh PROGRAM [ARGUMENT...]   set up if need be, then run it
#   .ci/arm64-wine.sh --prepare               only set up
#   QUARNEL_ARM64_WINE_DIR   where (default: build-clangcl-arm64/arm64-wine/)
# Where it cannot be set up, it says why in one line and exits 77, which the
# tests take as a skip.
set -euo pipefail
dir=${QUARNEL_ARM64_WINE_DIR:-$(cd "$(dirname "$0")/.." && pwd)/build-clangcl-arm64/arm64-wine}
root=$dir/root
prefix=$dir/prefix
# libfreetype6 and its libraries only keep Wine from saying on every start that it has no fonts.
packages=(wine64:arm64 libwine:arm64 libunwind8:arm64 liblzma5:arm64 libc6:arm64 libgcc-s1:arm64
  libfreetype6:arm64 libpng16-16:arm64 zlib1g:arm64 libbrotli1:arm64)

cannot() {
  echo "arm64 wine cannot run here: $1" >&2
  exit 77
}

# Wine's arm64 packages through an apt state of the folder's own. Updates
# are tried three times, as .ci/install.sh does: a mirror mid-sync serves
# one index badly now and then.
unpack_root() {
  local apt=(-o APT::Architecture=arm64 -o APT::Architectures=arm64 -o "Dir::State::Lists=$dir/apt/lists"
    -o "Dir::Cache=$dir/apt/cache" -o Dir::State::status=/dev/null -o APT::Sandbox::User=root)
  local try out deb
  mkdir -p "$dir/apt/lists/partial" "$dir/apt/cache/archives/partial" "$dir/debs"
  for try in 1 2 3; do
    out=$(apt-get update -qq "${apt[@]}" 2>&1) && break
    [ "$try" -lt 3 ] || cannot "apt-get update of arm64 indexes: $(grep '^E: ' <<<"$out" | tail -n 1)"
    sleep "${QUARNEL_APT_PAUSE:-5}"
  done
  (cd "$dir/debs" && rm -f ./*.deb && apt-get download -qq "${apt[@]}" "${packages[@]}" 2>&1) >"$dir/download.log" ||
    cannot "apt-get download ${packages[*]}: $(grep '^E: ' "$dir/download.log" | tail -n 1)"
  rm -rf "$root"
  for deb in "$dir"/debs/*.deb; do
    dpkg -x "$deb" "$root"
  done
  touch "$root/.unpacked"
}

register_qemu() {
  local binfmt=/proc/sys/fs/binfmt_misc
  [ ! -e "$binfmt/qemu-aarch64" ] || return 0
  command -v qemu-aarch64 >/dev/null || cannot "no qemu-aarch64 (qemu-user)"
  [ -e "$binfmt/register" ] || mount -t binfmt_misc binfmt_misc "$binfmt" 2>/dev/null ||
    cannot "binfmt_misc cannot be mounted"
  # The kernel reads the \x escapes itself.
  printf '%s\n' ':qemu-aarch64:M::\x7fELF\x02\x01\x01\x00\x00\x00\x00\x00\x00\x00\x00\x00\x02\x00\xb7\x00:\xff\xff\xff\xff\xff\xff\xff\x00\xff\xff\xff\xff\xff\xff\xff\xff\xfe\xff\xff\xff:/usr/bin/qemu-aarch64:F' \
    >"$binfmt/register" 2>/dev/null || cannot "qemu-aarch64 cannot be registered with binfmt_misc"
}

# The host's x64 Wine makes the prefix; the arm64 PE DLLs then take the
# place of its x64 ones in system32, where the arm64 loader looks.
make_prefix() {
  local host=/usr/lib/wine/wine64 pe=$root/usr/lib/aarch64-linux-gnu/wine/aarch64-windows
  [ -x "$host" ] || cannot "no x64 Wine (wine64) to make the prefix with"
  rm -rf "$prefix"
  WINEPREFIX=$prefix WINEDEBUG=-all WINEDLLOVERRIDES=mscoree,mshtml= DISPLAY='' "$host" wineboot --init \
    >/dev/null 2>&1 || cannot "wineboot --init failed"
  WINEPREFIX=$prefix wineserver -w
  find "$pe" -maxdepth 1 -type f ! -name '*.sys' -exec cp -f -t "$prefix/drive_c/windows/system32" {} +
  cp -f "$pe"/*.sys "$prefix/drive_c/windows/system32/drivers/"
  # No wineboot --update under emulation, ever.
  echo disable >"$prefix/.update-timestamp"
  touch "$prefix/.arm64"
}

setup() {
  mkdir -p "$dir"
  exec 9>"$dir/.lock"
  flock 9
  [ -e "$root/.unpacked" ] || unpack_root
  register_qemu
  unshare -m true 2>/dev/null || cannot "no mount namespace of its own (unshare -m)"
  [ -e "$prefix/.arm64" ] || make_prefix
  exec 9>&-
}

setup
[ "${1-}" != --prepare ] || exit 0
[ $# -gt 0 ] || { echo "usage: $0 PROGRAM [ARGUMENT...] | --prepare" >&2; exit 2; }

# The arm64 loader starts the wineserver beside itself, /usr/lib/wine: the
# root's, bound over the host's in a mount namespace of this run's own.
# What Wine leaves running when the program ends (its server, services.exe)
# is ended with it, so nothing outlives the run; nor does a program that
# hangs past QUARNEL_ARM64_WINE_TIMEOUT seconds (default 120).
unset DISPLAY
export QUARNEL_ARM64_WINE_TIMEOUT=${QUARNEL_ARM64_WINE_TIMEOUT:-120}
export WINEPREFIX=$prefix WINEDEBUG=-all WINEDLLOVERRIDES='mscoree,mshtml=;winedbg.exe,winemenubuilder.exe=d' QEMU_LD_PREFIX=$root
# shellcheck disable=SC2016
exec unshare -m sh -c 'mount --bind "$0/usr/lib/wine" /usr/lib/wine || exit 77
  status=0
  timeout -k 10 "$QUARNEL_ARM64_WINE_TIMEOUT" /usr/lib/wine/wine64 "$@" || status=$?
  /usr/lib/wine/wineserver -k 2>/dev/null || true
  exit $status' "$root" "$@"
