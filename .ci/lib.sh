# Sourced by the CI scripts: timing a step, and saying what was skipped.
# shellcheck shell=bash

timed() {  # name, command...: runs it and says how long it took, and its CPU time
  local name=$1 start=$SECONDS file status=0
  shift
  echo "== $name"
  file=$(mktemp)
  # In a subshell of its own, whose children are the step's alone: a step
  # in the background that ends meanwhile is not counted.
  (
    status=0
    "$@" || status=$?
    times >"$file"
    exit $status
  ) || status=$?
  echo "-- $name: $((SECONDS - start)) s, CPU $(awk 'END { split($0, t, /[ms ]+/); printf "%d", t[1] * 60 + t[2] + t[3] * 60 + t[4] }' "$file") s"
  rm -f "$file"
  return $status
}

# A step that cannot run here (a package the archive cannot give) says so
# in its output and, under .ci/run, in the run's last line, so a green run
# that left something out says what.
skipped() {  # what, why
  echo "skipped: $1 ($2)"
  if [ -n "${QUARNEL_CI_STATE-}" ]; then
    echo "$1 ($2)" >>"$QUARNEL_CI_STATE/skipped"
  fi
}

# Where Wine's 32-bit SDK (headers and import libraries, libwine-dev:i386)
# is: empty for the system's, or a folder of CI's own that its package was
# unpacked into, where the archive's i386 side cannot install it (its
# dependencies lag the amd64 side). The builds take it as QUARNEL_WINE_ROOT.
wine_sdk_i386() {
  local root=$PWD/build-wine-sdk-i386 deb why
  if why=$(bash .ci/install.sh libwine-dev:i386 2>&1); then
    return
  fi
  if [ ! -e "$root/usr/lib/i386-linux-gnu/wine/i386-windows/libwinecrt0.a" ]; then
    echo "$(grep 'cannot be installed' <<<"$why" | tail -n 1); unpacked into ${root##*/}/ instead" >&2
    deb=$(mktemp -d)
    (cd "$deb" && apt-get download -qq libwine-dev:i386 2>/dev/null && dpkg -x ./*.deb "$root") ||
      { echo "libwine-dev:i386 can be neither installed nor downloaded" >&2; rm -rf "$deb"; return 1; }
    rm -rf "$deb"
  fi
  echo "$root"
}
