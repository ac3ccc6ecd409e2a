#!/usr/bin/env bash
# What the Python package's tests need beyond the build's packages: the
# wheel's builders, a virtual environment to install the wheel into, mypy,
# and Dask's distributed scheduler (tests/python/). A package the archive
# cannot give leaves the tests that need it skipped, which the run's last
# line then names.
set -euo pipefail
cd "$(dirname "$0")/.."
# shellcheck source=.ci/lib.sh
source .ci/lib.sh
status=0
said=$(bash .ci/install.sh python3-build python3-setuptools python3-wheel python3-venv python3-mypy \
  python3-distributed 2>&1) || status=$?
missing=$(grep ' cannot be installed: ' <<<"$said" || true)
if [ $status -ne 0 ] && [ -z "$missing" ]; then
  echo "$said" >&2
  exit 1
fi
while read -r line; do
  [ -z "$line" ] || skipped "the Python tests that need ${line%% cannot be installed: *}" "${line#* cannot be installed: }"
done <<<"$missing"
