// Internal: the variants of the normal map, so tests and the benchmark can run
// each one. The module calls ComputeHeights and ComputeNormals, which pick the best.
#ifndef QUARNEL_NORMALMAPVARIANTS_H
#define QUARNEL_NORMALMAPVARIANTS_H

#include <cstdint>

// Slowest first. kAvx2 and kAvx512 compute in double precision throughout;
// kAvx2Fma and kAvx512Fast propose bytes in single precision and send every
// pixel their error bound cannot prove to the exact path.
enum class ENormalsVariant { kScalar, kSse2, kAvx2, kAvx2Fma, kAvx512, kAvx512Fast };

constexpr int kNormalsVariantCount = 6;

const char* NormalsVariantName(ENormalsVariant variant);

// The variants this build contains and this processor runs, scalar first and
// the fastest last; returns how many were written to variants.
int SupportedNormalsVariants(ENormalsVariant (&variants)[kNormalsVariantCount]);

// The last of SupportedNormalsVariants: what ComputeNormals runs.
ENormalsVariant BestNormalsVariant();

// ComputeNormals with the given variant, which must be one of the supported.
void ComputeNormalsVariant(ENormalsVariant variant, const std::uint8_t* heights, std::uint8_t* normals,
                           int width, int height, float texelsize);

// ComputeNormalsVariant, returning how many computed pixels the fast path of
// kAvx2Fma or kAvx512Fast left to the exact one (0 for the other variants).
// For measurements only: the module calls the uncounted kernels.
long long ComputeNormalsCountingFallbacks(ENormalsVariant variant, const std::uint8_t* heights,
                                          std::uint8_t* normals, int width, int height, float texelsize);

// ComputeHeights with the given variant's kernel.
void ComputeHeightsVariant(ENormalsVariant variant, const std::uint8_t* pixels, std::uint8_t* heights, int width,
                           int height);

#endif
