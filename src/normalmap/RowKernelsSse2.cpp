// SSE2 row kernel: four pixels a step, two doubles a register. Built with
// -msse2 on its own; the baseline of every x86-64 processor.
#include <emmintrin.h>

#include <cstring>

#include "ExactPath.h"

namespace {

// This file's vectors, for ExactPath.h.
struct SLanes {
    static __m128 Set(float v) { return _mm_set1_ps(v); }
    static __m128d Set(double v) { return _mm_set1_pd(v); }
};
using SConsts = SExactConstants<SLanes>;

// Four heights as four floats.
inline __m128 LoadHeights(const std::uint8_t* p)
{
    std::int32_t bytes;
    std::memcpy(&bytes, p, 4);
    const __m128i zero = _mm_setzero_si128();
    const __m128i v = _mm_unpacklo_epi8(_mm_cvtsi32_si128(bytes), zero);
    return _mm_cvtepi32_ps(_mm_unpacklo_epi16(v, zero));
}

// EncodeByte(v) as ExactPath.h says x86 gives it, in the low two int32 lanes.
inline __m128i Encode(__m128d v)
{
    const __m128i t = _mm_cvttpd_epi32(v);
    const __m128i high = _mm_and_si128(t, _mm_set1_epi32(~0xFF));
    return _mm_and_si128(t, _mm_cmpeq_epi32(high, _mm_setzero_si128()));
}

// Two pixels' bytes z, y, x, each in its own int32 lane's low 64 bits.
inline void NormalPair(__m128d nx, __m128d ny, const SConsts& k, __m128i* bz, __m128i* by, __m128i* bx)
{
    const __m128d q = _mm_add_pd(_mm_add_pd(k.nz2, _mm_mul_pd(ny, ny)), _mm_mul_pd(nx, nx));
    const __m128d len = _mm_div_pd(k.one, _mm_sqrt_pd(q));
    *bz = Encode(_mm_add_pd(_mm_mul_pd(_mm_mul_pd(k.nz, len), k.c127), k.c128));
    *by = Encode(_mm_add_pd(_mm_mul_pd(_mm_mul_pd(ny, len), k.c127), k.c128));
    *bx = Encode(_mm_add_pd(_mm_mul_pd(_mm_mul_pd(nx, len), k.c127), k.c128));
}

// Four pixels, 12 bytes.
inline void Quad(const std::uint8_t* row, const std::uint8_t* next, std::uint8_t* out, const SConsts& k)
{
    const __m128 cs = _mm_mul_ps(LoadHeights(row), k.inv255);
    const __m128 es = _mm_mul_ps(LoadHeights(row + 1), k.inv255);
    const __m128 us = _mm_mul_ps(LoadHeights(next), k.inv255);
    const __m128 nx = _mm_mul_ps(k.negS, _mm_sub_ps(es, cs));
    const __m128 ny = _mm_mul_ps(k.negS, _mm_sub_ps(us, cs));
    __m128i z0, y0, x0, z1, y1, x1;
    NormalPair(_mm_cvtps_pd(nx), _mm_cvtps_pd(ny), k, &z0, &y0, &x0);
    NormalPair(_mm_cvtps_pd(_mm_movehl_ps(nx, nx)), _mm_cvtps_pd(_mm_movehl_ps(ny, ny)), k, &z1, &y1, &x1);
    const __m128i bz = _mm_unpacklo_epi64(z0, z1);
    const __m128i by = _mm_unpacklo_epi64(y0, y1);
    const __m128i bx = _mm_unpacklo_epi64(x0, x1);
    // One int32 per pixel holding z, y, x in its low three bytes.
    const __m128i packed = _mm_or_si128(_mm_or_si128(bz, _mm_slli_epi32(by, 8)), _mm_slli_epi32(bx, 16));
    std::uint8_t lanes[16];
    _mm_storeu_si128(reinterpret_cast<__m128i*>(lanes), packed);
    for (int i = 0; i < 4; ++i)
        std::memcpy(out + 3 * i, lanes + 4 * i, 3);
}

}  // namespace

std::size_t NormalRowSse2(const std::uint8_t* row, const std::uint8_t* next, std::uint8_t* out,
                          std::size_t count, float texelsize)
{
    return ExactRow<SLanes, 4, Quad>(row, next, out, count, texelsize);
}
