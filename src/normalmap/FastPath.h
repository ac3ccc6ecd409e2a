// What the fast paths (RowKernelsAvx2Fma.cpp, RowKernelsAvx512Fast.cpp,
// RowKernelsNeonFast.cpp) share: the texel sizes they cover, their
// constants, the row loop and the fallback of uncertain lanes to the scalar
// kernel. Their vector arithmetic differs by instruction set and stays
// written out in each file, which hands FastRow its vectors (Lanes:
// Set(float) and Set(std::int32_t) fill one), its blocks and its exact
// kernel.
//
// Internal linkage throughout, as NormalPixel.h explains: each fast-path file
// gets a copy built for its own instruction set.
#ifndef QUARNEL_FASTPATH_H
#define QUARNEL_FASTPATH_H

#include <cmath>
#include <cstddef>
#include <cstdint>
#if defined(_MSC_VER) && !defined(__clang__)
#include <intrin.h>
#endif

#include "FastNormalBound.h"
#include "NormalPixel.h"
#include "Prefetch.h"
#include "RowKernels.h"

namespace {

using namespace fastnormal;

// A row's constants, each in every lane of a vector.
template <class Lanes>
struct SFastConstants {
    using F = decltype(Lanes::Set(0.0f));
    using I = decltype(Lanes::Set(std::int32_t{0}));
    F inv255, negS, z2, nz, half, one, c127, bias, topW;
    I fractionTest, byteY, byteZ, flatZ, topZ;
    float texelsize;
};

// Computed pixels, one int32 each holding z, y, x in bytes 0 to 2 (byte 3
// is left over and dropped when packed), and the lanes whose bytes the
// bound does not prove.
template <class Lanes>
struct SFastPixels {
    decltype(Lanes::Set(std::int32_t{0})) pixels;
    std::uint32_t uncertain;
};

// The texel sizes whose rows the fast path takes (FastNormalBound.h).
inline bool Covered(float texelsize)
{
    const float a = std::fabs(texelsize);
    return a >= kMinTexel && a <= kMaxTexel;
}

// The constants of a row at this texel size.
template <class Lanes>
SFastConstants<Lanes> FastConstants(float texelsize)
{
    SFastConstants<Lanes> k;
    k.inv255 = Lanes::Set(kInv255);
    k.negS = Lanes::Set(-texelsize);
    const double nz = static_cast<double>(texelsize) * static_cast<double>(texelsize);
    k.z2 = Lanes::Set(static_cast<float>(nz * nz));
    k.nz = Lanes::Set(texelsize * texelsize);
    k.half = Lanes::Set(0.5f);
    k.one = Lanes::Set(1.0f);
    k.c127 = Lanes::Set(127.0f);
    k.bias = Lanes::Set(kBiasWithMargin);
    // Beyond kTopTexel no z is known to stay below 255; kNoTopW
    // leaves every z to the bound.
    k.topW = Lanes::Set(std::fabs(texelsize) <= kTopTexel ? kTopW : kNoTopW);
    k.fractionTest = Lanes::Set(static_cast<std::int32_t>(kFractionMask & ~(2 * kMarginUnits - 1)));
    // Byte masks for blends that take the high bit of each byte.
    k.byteY = Lanes::Set(std::int32_t{0xFF00});
    k.byteZ = Lanes::Set(std::int32_t{0xFF});
    // The flat pixel's z as the exact path gives it at this texel size.
    const std::uint8_t zeros[2] = {0, 0};
    std::uint8_t flat[3];
    NormalRowScalar(zeros, zeros, flat, 1, texelsize);
    k.flatZ = Lanes::Set(std::int32_t{flat[0]});
    k.topZ = Lanes::Set(std::int32_t{254});
    k.texelsize = texelsize;
    return k;
}

// Index of the lowest set bit of a non-zero lane mask: the next lane the
// exact path recomputes.
inline unsigned LowestLane(std::uint64_t mask)
{
#if defined(_MSC_VER) && !defined(__clang__)
    unsigned long i;
    if (_BitScanForward(&i, static_cast<unsigned long>(mask)))
        return i;
    _BitScanForward(&i, static_cast<unsigned long>(mask >> 32));
    return 32 + i;
#else
    return static_cast<unsigned>(__builtin_ctzll(mask));
#endif
}

// Recomputes the uncertain lanes through the scalar kernel, which defines
// the bytes. Called after the fast bytes are stored, so its bytes win.
inline std::size_t Fallback(std::uint64_t uncertain, const std::uint8_t* row, const std::uint8_t* next,
                            std::uint8_t* out, float texelsize)
{
    std::size_t count = 0;
    for (; uncertain != 0; uncertain &= uncertain - 1, ++count) {
        const unsigned i = LowestLane(uncertain);
        NormalRowScalar(row + i, next + i, out + 3 * i, 1, texelsize);
    }
    return count;
}

// The row, and how many of its pixels the fast path left to the exact one.
// Block(row, next, out, k) does kBlock pixels, Step(row, next, out, n, k)
// n <= kStep of the row's tail; each stores its pixels' bytes and returns
// the mask of the lanes whose bytes the bound does not prove. Rows outside
// the covered texel sizes go to exact whole.
template <class Lanes, std::size_t kBlock, auto Block, std::size_t kStep, auto Step>
std::size_t FastRow(const std::uint8_t* row, const std::uint8_t* next, std::uint8_t* out, std::size_t count,
                    float texelsize, NormalRowFn exact)
{
    if (!Covered(texelsize)) {
        exact(row, next, out, count, texelsize);
        return count;
    }
    const SFastConstants<Lanes> k = FastConstants<Lanes>(texelsize);
    std::size_t fallbacks = 0;
    std::size_t x = 0;
    for (; x + kBlock <= count; x += kBlock) {
        // Ahead in next only: row was next a row before, and is cached.
        for (std::size_t b = 0; b < kBlock; b += 64)
            PrefetchAhead(next + x + b);
        const std::uint64_t uncertain = Block(row + x, next + x, out + 3 * x, k);
        if (uncertain != 0)
            fallbacks += Fallback(uncertain, row + x, next + x, out + 3 * x, texelsize);
    }
    for (; x < count; x += kStep) {
        const std::size_t n = count - x < kStep ? count - x : kStep;
        const std::uint64_t uncertain = Step(row + x, next + x, out + 3 * x, n, k);
        if (uncertain != 0)
            fallbacks += Fallback(uncertain, row + x, next + x, out + 3 * x, texelsize);
    }
    return fallbacks;
}

}  // namespace

#endif
