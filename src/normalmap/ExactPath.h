// What the exact vector kernels (RowKernelsSse2.cpp, RowKernelsAvx2.cpp,
// RowKernelsAvx512.cpp, RowKernelsNeon.cpp) share, as FastPath.h has it for
// the fast paths: a row's constants, the row loops and the scalar tails.
// Their vector arithmetic differs by instruction set and stays written out
// in each file, which hands ExactRow its vectors (Lanes: Set(float) and
// Set(double) fill one), its block and what does the row's tail.
//
// On x86 each file's Encode gives EncodeByte(v) of its lanes as int32s:
// the conversion yields 0x80000000 for NaN and anything beyond int32, the
// truncated value otherwise; so v in [0, 256) gives its byte, (-1, 0) gives
// 0 as EncodeByte does, and every other v (NaN, below -1, 256 and up) an
// integer outside [0, 255], which Encode clears.
//
// Internal linkage throughout, as NormalPixel.h explains: each file gets a
// copy built for its own instruction set.
#ifndef QUARNEL_EXACTPATH_H
#define QUARNEL_EXACTPATH_H

#include <cstddef>
#include <cstdint>

#include "NormalPixel.h"
#include "Prefetch.h"
#include "RowKernels.h"

namespace {

// A row's constants, each in every lane of a vector: the scalar kernel's
// operands in its precision (NormalPixel.h).
template <class Lanes>
struct SExactConstants {
    using F = decltype(Lanes::Set(0.0f));
    using D = decltype(Lanes::Set(0.0));
    F inv255, negS;
    D nz, nz2, one, c127, c128;
    float texelsize;
};

template <class Lanes>
SExactConstants<Lanes> ExactConstants(float texelsize)
{
    const double nz = static_cast<double>(texelsize) * static_cast<double>(texelsize);
    return {Lanes::Set(kInv255), Lanes::Set(-texelsize), Lanes::Set(nz), Lanes::Set(nz * nz),
            Lanes::Set(1.0), Lanes::Set(127.0), Lanes::Set(128.0), texelsize};
}

// The pixels x to count of a row through the scalar kernel's arithmetic.
template <class Constants>
void ScalarTail(const std::uint8_t* row, const std::uint8_t* next, std::uint8_t* out, std::size_t x,
                std::size_t count, const Constants& k)
{
    PutNormalRun(row + x, next + x, out + 3 * x, count - x, k.texelsize);
}

// The row: Block(row, next, out, k) does kBlock pixels, Tail(row, next, out,
// x, count, k) the pixels x to count of the row, fewer than kBlock.
template <class Lanes, std::size_t kBlock, auto Block, auto Tail = ScalarTail<SExactConstants<Lanes>>>
std::size_t ExactRow(const std::uint8_t* row, const std::uint8_t* next, std::uint8_t* out, std::size_t count,
                     float texelsize)
{
    const SExactConstants<Lanes> k = ExactConstants<Lanes>(texelsize);
    std::size_t x = 0;
    for (; x + kBlock <= count; x += kBlock)
        Block(row + x, next + x, out + 3 * x, k);
    if (x < count)
        Tail(row, next, out, x, count, k);
    return 0;
}

// The heights of count pixels: Block(pixels, heights) does kBlock of them,
// the scalar arithmetic the rest. The hint a page ahead keeps the input on
// its way from memory.
template <std::size_t kBlock, auto Block>
void ExactHeights(const std::uint8_t* pixels, std::uint8_t* heights, std::size_t count)
{
    std::size_t i = 0;
    for (; i + kBlock <= count; i += kBlock) {
        PrefetchAhead(pixels + 3 * i);
        Block(pixels + 3 * i, heights + i);
    }
    HeightsRun(pixels + 3 * i, heights + i, count - i);
}

}  // namespace

#endif
