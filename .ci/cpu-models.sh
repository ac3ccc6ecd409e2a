#!/usr/bin/env bash
# The dispatch on processors other than this machine's: QEMU's user-mode
# emulation runs the tests already built in build/ under older x86-64 models.
# Each model's run names the features the model has; the variant tests check
# that the processor reports them and that the dispatch chooses the fastest
# variant of src/normalmap/Kernels.def they run, so a wrong choice fails, and
# an instruction the model lacks ends the run with SIGILL.
#
#   .ci/cpu-models.sh [BUILD_DIR]
set -euo pipefail
cd "$(dirname "$0")/.."
build=${1:-build}
if [ "$(uname -m)" != x86_64 ]; then
  echo "cpu-models: x86-64 processor models need an x86-64 build; skipped"
  exit 0
fi

# Processor model, the features it has (SCpuFeatures' flags, in their order,
# ',' between them), and whether the exhaustive test runs there too: a model
# that only takes a feature away checks the dispatch, whose kernels the
# others run.
models=(
  "Westmere sse2 exhaustive"  # SSE2 up to SSE4.2, no AVX
  "Haswell sse2,avx2,fma exhaustive"  # QEMU 7.2 emulates no AVX-512
  "Haswell,-fma sse2,avx2 dispatch"  # AVX2 without FMA: the fast path would fault
)
# The exhaustive test runs at these texel sizes only (as gtest prints them):
# the usual one, one whose products round, a subnormal one and zero, whose
# bytes are the not-a-number ones. Emulated, each costs 6 to 10 s per model.
# The scalar code against the reference is the same on every processor; the
# native run has it.
sizes="1 3.7 1.4013e-45 0"
# Whole files through the job, including 32767-pixel rows.
conversions="Job.AcceptedSourcesConvertByteForByte:Job.LongestImagesConvert"

bash .ci/install.sh qemu-user

# Instances are picked by value, so texel sizes added to the list keep these.
exhaustive=$("$build/quarnel_variants_tests" --gtest_list_tests | awk -v sizes="$sizes" '
  BEGIN { n = split(sizes, want); for (i = 1; i <= n; ++i) wanted[want[i]] = 1 }
  /^[^ ]/ { suite = $1 }
  suite ~ /AllTriples/ && /# GetParam\(\) = / && ($NF in wanted) { printf ":%s%s", suite, $1; found[$NF] = 1 }
  END {
    for (s in wanted) if (!(s in found)) { print "cpu-models: no exhaustive test at texel size " s > "/dev/stderr"; bad = 1 }
    exit bad
  }')

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

# Chained, so the first failure ends the model's run (set -e does not reach
# into a function called as a condition).
run_model() {  # model, features, exhaustive or dispatch
  local qemu=(qemu-x86_64 -cpu "$1") filter="NormalsVariants.*:HeightsVariants.*"
  [ "$3" = exhaustive ] && filter+=$exhaustive
  QUARNEL_EXPECTED_FEATURES=${2//,/ } "${qemu[@]}" "$build/quarnel_variants_tests" --gtest_filter="$filter" &&
    "${qemu[@]}" "$build/quarnel_tests" --gtest_filter="$conversions" &&
    "${qemu[@]}" "$build/quarnel_module_tests" --gtest_filter='Module.*' &&
    "${qemu[@]}" "$build/quarnel-convert" --texel-size 0.0625 examples/height.tga "$work/$1.tga" &&
    cmp "$work/$1.tga" examples/height-normals.tga
}

# The models side by side, each on one core.
pids=()
for m in "${models[@]}"; do
  read -r model features scope <<<"$m"
  (
    start=$SECONDS
    if run_model "$model" "$features" "$scope" >"$work/$model.log" 2>&1; then
      echo "$model ($features): passed in $((SECONDS - start)) s" >>"$work/$model.log"
    else
      echo "$model ($features): FAILED" >>"$work/$model.log"
      exit 1
    fi
  ) &
  pids+=($!)
done
status=0
for i in "${!models[@]}"; do
  wait "${pids[$i]}" || status=1
  read -r model _ <<<"${models[$i]}"
  # QEMU's Haswell names a few system features TCG leaves out; nothing here uses them.
  grep -v "TCG doesn't support requested feature" "$work/$model.log"
done
exit $status
