#!/usr/bin/env bash
# Builds the job's libFuzzer target with clang (AddressSanitizer and UBSan) and
# runs it for a bounded time from the committed corpus. Any finding fails the
# run and leaves the input in build-fuzz/findings/. Then, when the default
# build has the soak test and valgrind is there, runs the soak test under it.
#   .ci/fuzz.sh [seconds]   (default 60)
set -euo pipefail
cd "$(dirname "$0")/.."
seconds="${1:-60}"

cmake -S . -B build-fuzz -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DCMAKE_CXX_COMPILER=clang++ \
  -DQUARNEL_FUZZ=ON -DQUARNEL_BUILD_TESTS=OFF -DQUARNEL_WERROR=ON >/dev/null
cmake --build build-fuzz --target quarnel_fuzz_job -j2

# New inputs go to a scratch folder, so the committed corpus only changes by hand.
work=build-fuzz/corpus
mkdir -p "$work" build-fuzz/findings
export ASAN_OPTIONS="detect_leaks=1:abort_on_error=1"
export UBSAN_OPTIONS="print_stacktrace=1:halt_on_error=1"
# -max_len keeps each input (and so each file the job writes) small; -timeout
# catches a hang, -rss_limit_mb a runaway allocation.
build-fuzz/quarnel_fuzz_job -max_total_time="$seconds" -max_len=8192 -timeout=10 -rss_limit_mb=2048 \
  -dict=fuzz/tga.dict -artifact_prefix=build-fuzz/findings/ -print_final_stats=1 \
  "$work" fuzz/corpus fuzz/regressions

if [ -x build/quarnel_soak_tests ] && command -v valgrind >/dev/null; then
  echo "== soak test under valgrind"
  valgrind -q --leak-check=full --errors-for-leak-kinds=definite,indirect --error-exitcode=1 \
    build/quarnel_soak_tests
fi
