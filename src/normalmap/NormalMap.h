// Height field and normal map: the arithmetic core. Knows nothing of files.
//
// Buffers are in file order with rows packed: pixel i of row r is at
// index r * width + i. The caller owns them and passes width, height >= 1.
#ifndef QUARNEL_NORMALMAP_H
#define QUARNEL_NORMALMAP_H

#include <cstdint>

// heights[i] = luminance of the BGR pixel i, (30 b + 150 g + 76 r) >> 8.
void ComputeHeights(const std::uint8_t* pixels, std::uint8_t* heights, int width, int height);

// normals[3 i .. 3 i + 2] = encoded unit normal (z, y, x) of pixel i, from its
// own height and those of its right-hand and next-row neighbours; the last
// column and the last row are flat (255, 128, 128).
void ComputeNormals(const std::uint8_t* heights, std::uint8_t* normals, int width, int height,
                    float texelsize);

// The same through a given variant's kernels (KernelDispatch.h), which must
// be one of the supported, for the tests and the benchmark: the job calls the
// two above, which run the best.
enum class EKernelVariant : int;
void ComputeHeightsVariant(EKernelVariant variant, const std::uint8_t* pixels, std::uint8_t* heights, int width,
                           int height);
// Returns how many computed pixels a fast path left to the exact one.
long long ComputeNormalsVariant(EKernelVariant variant, const std::uint8_t* heights, std::uint8_t* normals,
                                int width, int height, float texelsize);

#endif
