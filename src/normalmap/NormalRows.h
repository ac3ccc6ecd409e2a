// Row kernels of the normal map, one per instruction set, each in its own file
// compiled for that set. A kernel writes the count computed pixels of one row
// (3 bytes each) from heights row[0 .. count] and next[0 .. count - 1], reading
// nothing beyond them, and gives the scalar variant's bytes exactly.
#ifndef QUARNEL_NORMALROWS_H
#define QUARNEL_NORMALROWS_H

#include <cstddef>
#include <cstdint>

using NormalRowFn = void (*)(const std::uint8_t* row, const std::uint8_t* next, std::uint8_t* out,
                             std::size_t count, float texelsize);

#include "NormalMapVariants.h"

// count heights from count BGR pixels.
using HeightsRowFn = void (*)(const std::uint8_t* pixels, std::uint8_t* heights, std::size_t count);

// The kernels of a variant; the scalar ones for a variant this build lacks.
NormalRowFn NormalRowKernel(ENormalsVariant variant);
HeightsRowFn HeightsRowKernel(ENormalsVariant variant);

void HeightsRowScalar(const std::uint8_t* pixels, std::uint8_t* heights, std::size_t count);

void NormalRowScalar(const std::uint8_t* row, const std::uint8_t* next, std::uint8_t* out,
                     std::size_t count, float texelsize);
#ifdef QUARNEL_NORMALS_SSE2
void NormalRowSse2(const std::uint8_t* row, const std::uint8_t* next, std::uint8_t* out,
                   std::size_t count, float texelsize);
#endif
#ifdef QUARNEL_NORMALS_AVX2
// Used by the AVX-512 variant too: every processor with AVX-512 has AVX2.
void HeightsRowAvx2(const std::uint8_t* pixels, std::uint8_t* heights, std::size_t count);
void NormalRowAvx2(const std::uint8_t* row, const std::uint8_t* next, std::uint8_t* out,
                   std::size_t count, float texelsize);
#endif
#ifdef QUARNEL_NORMALS_AVX2FMA
// The fast path; the Counted form also returns how many pixels it left to the
// exact path (all of them for a texel size it does not cover), for the benchmark.
void NormalRowAvx2Fma(const std::uint8_t* row, const std::uint8_t* next, std::uint8_t* out,
                      std::size_t count, float texelsize);
std::size_t NormalRowAvx2FmaCounted(const std::uint8_t* row, const std::uint8_t* next, std::uint8_t* out,
                                    std::size_t count, float texelsize);
#endif
#ifdef QUARNEL_NORMALS_AVX512
void NormalRowAvx512(const std::uint8_t* row, const std::uint8_t* next, std::uint8_t* out,
                     std::size_t count, float texelsize);
void NormalRowAvx512Fast(const std::uint8_t* row, const std::uint8_t* next, std::uint8_t* out,
                         std::size_t count, float texelsize);
std::size_t NormalRowAvx512FastCounted(const std::uint8_t* row, const std::uint8_t* next, std::uint8_t* out,
                                       std::size_t count, float texelsize);
#endif

#endif
