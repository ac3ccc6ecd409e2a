// The row kernels: one file per variant (RowKernels<Variant>.cpp), each
// compiled for its own instruction set, declared here only where the build
// has that file (QUARNEL_KERNELS_<VARIANT>, set by the kernel table in
// CMakeLists.txt).
//
// A normals kernel writes the count computed pixels of one row (3 bytes each)
// from heights row[0 .. count] and next[0 .. count - 1], reading nothing
// beyond them, and gives the scalar kernel's bytes exactly. It returns how
// many of those pixels a fast path left to the exact one (all of them for a
// texel size it does not cover); 0 for an exact kernel.
//
// A heights kernel writes count heights from count BGR pixels.
#ifndef QUARNEL_ROWKERNELS_H
#define QUARNEL_ROWKERNELS_H

#include <cstddef>
#include <cstdint>

using NormalRowFn = std::size_t (*)(const std::uint8_t* row, const std::uint8_t* next, std::uint8_t* out,
                                    std::size_t count, float texelsize);
using HeightsRowFn = void (*)(const std::uint8_t* pixels, std::uint8_t* heights, std::size_t count);

// The reference every other kernel must match byte for byte.
void HeightsRowScalar(const std::uint8_t* pixels, std::uint8_t* heights, std::size_t count);
std::size_t NormalRowScalar(const std::uint8_t* row, const std::uint8_t* next, std::uint8_t* out,
                            std::size_t count, float texelsize);

#ifdef QUARNEL_KERNELS_SSE2
std::size_t NormalRowSse2(const std::uint8_t* row, const std::uint8_t* next, std::uint8_t* out,
                          std::size_t count, float texelsize);
#endif

#ifdef QUARNEL_KERNELS_AVX2
// The heights kernel of every variant from AVX2 up.
void HeightsRowAvx2(const std::uint8_t* pixels, std::uint8_t* heights, std::size_t count);
std::size_t NormalRowAvx2(const std::uint8_t* row, const std::uint8_t* next, std::uint8_t* out,
                          std::size_t count, float texelsize);
#endif

#ifdef QUARNEL_KERNELS_AVX2FMA
// The AVX2 fast path.
std::size_t NormalRowAvx2Fma(const std::uint8_t* row, const std::uint8_t* next, std::uint8_t* out,
                             std::size_t count, float texelsize);
#endif

#ifdef QUARNEL_KERNELS_AVX512
std::size_t NormalRowAvx512(const std::uint8_t* row, const std::uint8_t* next, std::uint8_t* out,
                            std::size_t count, float texelsize);
// The AVX-512 fast path.
std::size_t NormalRowAvx512Fast(const std::uint8_t* row, const std::uint8_t* next, std::uint8_t* out,
                                std::size_t count, float texelsize);
#endif

#ifdef QUARNEL_KERNELS_NEON
void HeightsRowNeon(const std::uint8_t* pixels, std::uint8_t* heights, std::size_t count);
std::size_t NormalRowNeon(const std::uint8_t* row, const std::uint8_t* next, std::uint8_t* out,
                          std::size_t count, float texelsize);
// The NEON fast path.
std::size_t NormalRowNeonFast(const std::uint8_t* row, const std::uint8_t* next, std::uint8_t* out,
                              std::size_t count, float texelsize);
#endif

#endif
