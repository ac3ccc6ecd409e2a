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

// The kernel of a variant; the scalar one for a variant this build lacks.
NormalRowFn NormalRowKernel(ENormalsVariant variant);

void NormalRowScalar(const std::uint8_t* row, const std::uint8_t* next, std::uint8_t* out,
                     std::size_t count, float texelsize);
#ifdef QUARNEL_NORMALS_SSE2
void NormalRowSse2(const std::uint8_t* row, const std::uint8_t* next, std::uint8_t* out,
                   std::size_t count, float texelsize);
#endif
#ifdef QUARNEL_NORMALS_AVX2
void NormalRowAvx2(const std::uint8_t* row, const std::uint8_t* next, std::uint8_t* out,
                   std::size_t count, float texelsize);
#endif
#ifdef QUARNEL_NORMALS_AVX512
void NormalRowAvx512(const std::uint8_t* row, const std::uint8_t* next, std::uint8_t* out,
                     std::size_t count, float texelsize);
#endif

#endif
