// The row kernels: one file per variant (RowKernels<Id>.cpp), each compiled
// for its own instruction set, declared here for every row of Kernels.def;
// a build defines those of the rows it compiles.
//
// A normals kernel writes the count computed pixels of one row (3 bytes each)
// from heights row[0 .. count] and next[0 .. count - 1], reading nothing
// beyond them, and gives the scalar kernel's bytes exactly. It returns how
// many of those pixels a fast path left to the exact one (all of them for a
// texel size it does not cover); 0 for an exact kernel.
//
// A heights kernel writes count heights from count BGR pixels.
//
// NormalRowScalar and HeightsRowScalar are the reference every other kernel
// must match byte for byte.
#ifndef QUARNEL_ROWKERNELS_H
#define QUARNEL_ROWKERNELS_H

#include <cstddef>
#include <cstdint>

using NormalRowFn = std::size_t (*)(const std::uint8_t* row, const std::uint8_t* next, std::uint8_t* out,
                                    std::size_t count, float texelsize);
using HeightsRowFn = void (*)(const std::uint8_t* pixels, std::uint8_t* heights, std::size_t count);

// A heights kernel is declared once for each row that runs it.
#define QUARNEL_KERNEL(Id, Name, Arch, Needs, Exact, Heights, Gcc, Msvc)                             \
    std::size_t NormalRow##Id(const std::uint8_t* row, const std::uint8_t* next, std::uint8_t* out,     \
                              std::size_t count, float texelsize);                                    \
    void HeightsRow##Heights(const std::uint8_t* pixels, std::uint8_t* heights, std::size_t count);
#include "Kernels.def"
#undef QUARNEL_KERNEL

#endif
