#!/usr/bin/env bash
# Installs the Debian packages named that are not installed yet, quietly; a
# machine that has them all is left alone and asks no archive.
#   .ci/install.sh PACKAGE...
# An archive can serve an index badly for a day (a mirror mid-sync), and
# apt-get update then fails although every other index came: it is tried a
# few times, and then the install decides with what apt has. A package that
# cannot be installed gets one line on standard error, "P cannot be
# installed: <what apt said>", and the status 1; the others are installed
# all the same.
#   QUARNEL_APT_PAUSE   seconds between tries of apt-get update (default 5)
#   QUARNEL_CI_STATE    under .ci/run: the indexes are updated once a run,
#                       and again after a step adds an architecture
set -euo pipefail
missing=()
for p in "$@"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
done
[ ${#missing[@]} -gt 0 ] || exit 0

# The last error apt printed, or how it ended.
apt_said() {  # output, status
  local said
  said=$(grep '^E: ' <<<"$1" | tail -n 1 || true)
  echo "${said:-apt-get exited with status $2}"
}

# The indexes an update fetched serve only the architectures dpkg had then:
# a step that adds one (i386 for 32-bit Wine) needs its indexes fetched.
updated=${QUARNEL_CI_STATE:+$QUARNEL_CI_STATE/apt-updated}
architectures=$(dpkg --print-foreign-architectures | xargs)
if [ -z "$updated" ] || [ ! -e "$updated" ] || [ "$(cat "$updated")" != "$architectures" ]; then
  tries=3
  for ((try = 1; ; ++try)); do
    status=0
    out=$(apt-get update -qq 2>&1) || status=$?
    [ $status -eq 0 ] && break
    echo "install.sh: apt-get update, try $try of $tries: $(apt_said "$out" $status)" >&2
    if [ $try -ge $tries ]; then
      echo "install.sh: going on with the indexes apt has" >&2
      break
    fi
    sleep "${QUARNEL_APT_PAUSE:-5}"
  done
  [ -z "$updated" ] || echo "$architectures" >"$updated"
fi

# apt and dpkg wait for each other's locks rather than fail: another step
# may be installing beside this one.
install() {
  DEBIAN_FRONTEND=noninteractive apt-get install -y -qq --no-install-recommends \
    -o DPkg::Lock::Timeout=600 "$@" 2>&1
}
install "${missing[@]}" >/dev/null && exit 0
# One at a time, so a package that cannot be had names itself and the rest
# still go in.
failed=0
for p in "${missing[@]}"; do
  status=0
  out=$(install "$p") || status=$?
  if [ $status -ne 0 ]; then
    echo "$p cannot be installed: $(apt_said "$out" $status)" >&2
    failed=1
  fi
done
exit $failed
