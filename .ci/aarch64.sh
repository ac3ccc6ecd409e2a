#!/usr/bin/env bash
# 64-bit ARM Linux: cross-builds the aarch64 preset with Debian's cross
# compiler and runs, under qemu-aarch64 (the preset's emulator): the variant
# tests, the exhaustive one at the texel sizes the emulated x86 run uses and
# at the fast path's edges; the scalar kernel against the reference; the
# whole-job tests; the module loaded by a host; quarnel-convert on the bundled
# sample against the committed map; the instruction, export, layer and
# message checks; both packages, made, unpacked, and built against by a
# host that runs under emulation; and the wheel of the modules it ran.
#   .ci/aarch64.sh
set -euo pipefail
cd "$(dirname "$0")/.."
bash .ci/install.sh cmake ninja-build g++-aarch64-linux-gnu qemu-user googletest dpkg-dev pkg-config

start=$SECONDS
echo "== aarch64: libQuarnel.so for 64-bit ARM (cross compiler; warnings are errors here)"
cmake --preset aarch64 -DQUARNEL_WERROR=ON -DQUARNEL_BUILD_BENCH=OFF >/dev/null
cmake --build --preset aarch64 -j2 >/dev/null

# Texel sizes as in .ci/cpu-models.sh, picked by value from the tests' names:
# the usual one, one whose products round, a subnormal one and zero. Each
# costs 10 to 15 s emulated, and the scalar kernel against the reference at
# the first two (of those it has) 30 s.
sizes="1 3.7 1.4013e-45 0"
alternatives="($(echo "$sizes" | sed 's/\./\\./g; s/ /|/g'))"
exhaustive="^TexelSizes/AllTriples\.EveryVariantGivesTheScalarBytes/$alternatives\$"
found=$(ctest --test-dir build-aarch64 -N -R "$exhaustive" | grep -c "Test *#" || true)
if [ "$found" -ne "$(wc -w <<<"$sizes")" ]; then
  echo "aarch64: $found exhaustive tests for the $(wc -w <<<"$sizes") texel sizes $sizes" >&2
  exit 1
fi
exhaustive+="|^TexelSizes/ScalarOnEveryTriple\.MatchesTheReference/$alternatives\$"
# The fast path's edges (both sides of each end of its range and of 2^15,
# 1/255, 255), but not the two sizes chosen for the x86 fast paths' margins:
# 40 s of emulation that NEON's kernels share with no other edge.
exhaustive+="|^FastPathEdges/"
x86_margins="^FastPathEdges/AllTriples\.EveryVariantGivesTheScalarBytes/(-1\.1326e-05|3\.37607e-06)\$"
if [ "$(ctest --test-dir build-aarch64 -N -R "$x86_margins" | grep -c "Test *#" || true)" -ne 2 ]; then
  echo "aarch64: the x86 fast paths' two margin sizes are not among the tests" >&2
  exit 1
fi
# The other texel sizes are left to `ctest --preset aarch64`.
others="^(NormalsVariants|HeightsVariants|ComputeNormals|ComputeHeights|Job|Module|Allocation|Soak|ReadFault|FlushFault)\.|_package_builds_a_host$"
others+="|^(quarnel_convert_converts_sample|module_exports_one_symbol|module_has_only_exact_float_instructions"
others+="|normal_map_layers_call_downwards|header_lists_every_message)$"
others+="|^fuzz_corpus_replays$|^python_wheel_"
# None of the x86 features: the dispatch must choose the fastest variant that
# needs none, NEON being in every AArch64 processor.
QUARNEL_EXPECTED_FEATURES="" ctest --test-dir build-aarch64 -j2 --output-on-failure -R "$exhaustive|$others" -E "$x86_margins"

cmake --build --preset aarch64 --target package >/dev/null
dpkg-deb -f build-aarch64/quarnel_*_arm64.deb Architecture | grep -qx arm64
ls -l build-aarch64/Quarnel-*-Linux-aarch64.tar.gz build-aarch64/quarnel_*_arm64.deb
echo "== aarch64: $((SECONDS - start)) s"
