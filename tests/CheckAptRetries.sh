#!/usr/bin/env bash
# .ci/install.sh against a stand-in apt-get, dpkg and dpkg-query on PATH: an
# archive whose index fails to download, a package that cannot be
# installed, a machine that has everything, and under .ci/run one update a
# run unless an architecture was added since.
#   CheckAptRetries.sh INSTALL_SH
set -euo pipefail
install_sh=$1
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
mkdir "$work/bin"
cat >"$work/bin/apt-get" <<'STANDIN'
#!/usr/bin/env bash
echo "$1" >>"$W/calls"
if [ "$1" = update ]; then
  left=$(cat "$W/update-failures")
  [ "$left" -eq 0 ] && exit 0
  echo $((left - 1)) >"$W/update-failures"
  echo "E: Failed to fetch Packages.xz  File has unexpected size (374820 != 376004)" >&2
  exit 100
fi
pkgs=()
while [ $# -gt 1 ]; do
  shift
  case $1 in -o) shift ;; -*) ;; *) pkgs+=("$1") ;; esac
done
for p in "${pkgs[@]}"; do
  if grep -qx "$p" "$W/broken"; then
    echo "E: Error, pkgProblemResolver::Resolve generated breaks, this may be caused by held packages." >&2
    exit 100
  fi
done
printf '%s\n' "${pkgs[@]}" >>"$W/installed"
STANDIN
cat >"$work/bin/dpkg" <<'STANDIN'
#!/usr/bin/env bash
tr " " "\n" <<<"$ARCHES" | grep . || true
STANDIN
cat >"$work/bin/dpkg-query" <<'STANDIN'
#!/usr/bin/env bash
grep -qx "${!#}" "$W/installed" && echo "install ok installed"
STANDIN
chmod +x "$work/bin/"*

failures=0
# name | failing updates | cannot be installed | installed before | asked for |
#   status | installed after | updates run | a line it must print |
#   foreign architectures | under .ci/run: "new" before its first update,
#   else the architectures its update fetched
cases=(
  "two failed updates|2|||a b|0|a b|3|apt-get update, try 2 of 3: E: Failed to fetch||"
  "no update works|9|||a|0|a|3|going on with the indexes apt has||"
  "one cannot be installed|0|w32||a w32 b|1|a b|1|w32 cannot be installed: E: Error, pkgProblemResolver||"
  "all there|9||a b|a b|0|a b|0|||"
  "a run's first install|0|||a|0|a|1|||new"
  "a run's second install|9|||a|0|a|0||i386|i386"
  "an architecture added since|0|||a|0|a|1||i386 arm64|i386"
)
for row in "${cases[@]}"; do
  IFS='|' read -r name fails broken before asked status after updates line ARCHES run <<<"$row"
  export W=$work/$RANDOM ARCHES
  mkdir "$W"
  state=''
  if [ -n "$run" ]; then
    state=$W/run
    mkdir "$state"
    [ "$run" = new ] || echo "$run" >"$state/apt-updated"
  fi
  echo "$fails" >"$W/update-failures"
  printf '%s\n' "$broken" >"$W/broken"
  tr " " "\n" <<<"$before" >"$W/installed"
  touch "$W/calls"
  got=0
  # shellcheck disable=SC2086
  PATH=$work/bin:$PATH QUARNEL_APT_PAUSE=0 QUARNEL_CI_STATE=$state bash "$install_sh" $asked 2>"$W/err" || got=$?
  have=$(sort -u "$W/installed" | xargs)
  ran=$(grep -c '^update$' "$W/calls" || true)
  if [ "$got" != "$status" ] || [ "$have" != "$after" ] || [ "$ran" != "$updates" ] ||
     { [ -n "$line" ] && ! grep -qF "$line" "$W/err"; }; then
    echo "FAILED: $name: status $got (want $status), installed '$have' (want '$after'), $ran updates (want $updates)"
    sed 's/^/  said: /' "$W/err"
    failures=$((failures + 1))
  fi
done
[ $failures -eq 0 ] && echo "install.sh: ${#cases[@]} cases passed"
exit $failures
