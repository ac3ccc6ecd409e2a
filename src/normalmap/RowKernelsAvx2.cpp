// AVX2 row kernels: heights sixteen pixels a step (the heights kernel of
// every variant from AVX2 up), normals eight pixels a step, four doubles a
// register. Built with -mavx2 and nothing more (no -mfma): only this file's
// code needs AVX2, and it runs only where the processor reports it.
#include <immintrin.h>

#include "ExactPath.h"

namespace {

// This file's vectors, for ExactPath.h.
struct SLanes {
    static __m256 Set(float v) { return _mm256_set1_ps(v); }
    static __m256d Set(double v) { return _mm256_set1_pd(v); }
};
using SConsts = SExactConstants<SLanes>;

// Eight heights as eight floats; reads exactly eight bytes.
inline __m256 LoadHeights(const std::uint8_t* p)
{
    const __m128i v = _mm_loadl_epi64(reinterpret_cast<const __m128i*>(p));
    return _mm256_cvtepi32_ps(_mm256_cvtepu8_epi32(v));
}

// EncodeByte(v) as ExactPath.h says x86 gives it.
inline __m128i Encode(__m256d v)
{
    const __m128i t = _mm256_cvttpd_epi32(v);
    const __m128i high = _mm_and_si128(t, _mm_set1_epi32(~0xFF));
    return _mm_and_si128(t, _mm_cmpeq_epi32(high, _mm_setzero_si128()));
}

// Four pixels, one int32 each holding z, y, x in its low three bytes.
inline __m128i NormalQuad(__m256d nx, __m256d ny, const SConsts& k)
{
    const __m256d q = _mm256_add_pd(_mm256_add_pd(k.nz2, _mm256_mul_pd(ny, ny)), _mm256_mul_pd(nx, nx));
    const __m256d len = _mm256_div_pd(k.one, _mm256_sqrt_pd(q));
    const __m128i bz = Encode(_mm256_add_pd(_mm256_mul_pd(_mm256_mul_pd(k.nz, len), k.c127), k.c128));
    const __m128i by = Encode(_mm256_add_pd(_mm256_mul_pd(_mm256_mul_pd(ny, len), k.c127), k.c128));
    const __m128i bx = Encode(_mm256_add_pd(_mm256_mul_pd(_mm256_mul_pd(nx, len), k.c127), k.c128));
    return _mm_or_si128(_mm_or_si128(bz, _mm_slli_epi32(by, 8)), _mm_slli_epi32(bx, 16));
}

// Sixteen BGR pixels' blue, green or red bytes out of three 16-byte blocks:
// byte 3 i + channel of the 48 goes to lane i.
inline __m128i Channel(__m128i a, __m128i b, __m128i c, int channel)
{
    alignas(16) std::int8_t masks[3][16];
    for (int v = 0; v < 3; ++v)
        for (int i = 0; i < 16; ++i) {
            const int at = 3 * i + channel - 16 * v;
            masks[v][i] = static_cast<std::int8_t>(at >= 0 && at < 16 ? at : -1);
        }
    const auto mask = [&](int v) { return _mm_load_si128(reinterpret_cast<const __m128i*>(masks[v])); };
    return _mm_or_si128(_mm_or_si128(_mm_shuffle_epi8(a, mask(0)), _mm_shuffle_epi8(b, mask(1))),
                        _mm_shuffle_epi8(c, mask(2)));
}

// (30 b + 150 g + 76 r) >> 8 for eight pixels in 16 bits: at most 256 * 255,
// so nothing wraps.
inline __m128i Luminance(__m128i b, __m128i g, __m128i r)
{
    const __m128i sum = _mm_add_epi16(_mm_add_epi16(_mm_mullo_epi16(b, _mm_set1_epi16(30)),
                                                    _mm_mullo_epi16(g, _mm_set1_epi16(150))),
                                      _mm_mullo_epi16(r, _mm_set1_epi16(76)));
    return _mm_srli_epi16(sum, 8);
}

// Sixteen pixels' heights.
inline void Heights16(const std::uint8_t* p, std::uint8_t* heights)
{
    const __m128i zero = _mm_setzero_si128();
    const __m128i a = _mm_loadu_si128(reinterpret_cast<const __m128i*>(p));
    const __m128i b = _mm_loadu_si128(reinterpret_cast<const __m128i*>(p + 16));
    const __m128i c = _mm_loadu_si128(reinterpret_cast<const __m128i*>(p + 32));
    const __m128i blue = Channel(a, b, c, 0), green = Channel(a, b, c, 1), red = Channel(a, b, c, 2);
    const __m128i lo = Luminance(_mm_unpacklo_epi8(blue, zero), _mm_unpacklo_epi8(green, zero),
                                 _mm_unpacklo_epi8(red, zero));
    const __m128i hi = Luminance(_mm_unpackhi_epi8(blue, zero), _mm_unpackhi_epi8(green, zero),
                                 _mm_unpackhi_epi8(red, zero));
    _mm_storeu_si128(reinterpret_cast<__m128i*>(heights), _mm_packus_epi16(lo, hi));
}

// Eight pixels, 24 bytes.
inline void Octet(const std::uint8_t* row, const std::uint8_t* next, std::uint8_t* out, const SConsts& k)
{
    // Drops the fourth byte of each int32 within each 128-bit lane, then
    // gathers the two lanes' twelve bytes into the low 24.
    const __m256i squeeze = _mm256_setr_epi8(0, 1, 2, 4, 5, 6, 8, 9, 10, 12, 13, 14, -1, -1, -1, -1,  //
                                             0, 1, 2, 4, 5, 6, 8, 9, 10, 12, 13, 14, -1, -1, -1, -1);
    const __m256i gather = _mm256_setr_epi32(0, 1, 2, 4, 5, 6, 3, 7);
    const __m256 cs = _mm256_mul_ps(LoadHeights(row), k.inv255);
    const __m256 es = _mm256_mul_ps(LoadHeights(row + 1), k.inv255);
    const __m256 us = _mm256_mul_ps(LoadHeights(next), k.inv255);
    const __m256 nx = _mm256_mul_ps(k.negS, _mm256_sub_ps(es, cs));
    const __m256 ny = _mm256_mul_ps(k.negS, _mm256_sub_ps(us, cs));
    const __m128i lo =
        NormalQuad(_mm256_cvtps_pd(_mm256_castps256_ps128(nx)), _mm256_cvtps_pd(_mm256_castps256_ps128(ny)), k);
    const __m128i hi =
        NormalQuad(_mm256_cvtps_pd(_mm256_extractf128_ps(nx, 1)), _mm256_cvtps_pd(_mm256_extractf128_ps(ny, 1)), k);
    const __m256i packed =
        _mm256_permutevar8x32_epi32(_mm256_shuffle_epi8(_mm256_set_m128i(hi, lo), squeeze), gather);
    _mm_storeu_si128(reinterpret_cast<__m128i*>(out), _mm256_castsi256_si128(packed));
    _mm_storel_epi64(reinterpret_cast<__m128i*>(out + 16), _mm256_extracti128_si256(packed, 1));
}

}  // namespace

void HeightsRowAvx2(const std::uint8_t* pixels, std::uint8_t* heights, std::size_t count)
{
    ExactHeights<16, Heights16>(pixels, heights, count);
}

std::size_t NormalRowAvx2(const std::uint8_t* row, const std::uint8_t* next, std::uint8_t* out,
                          std::size_t count, float texelsize)
{
    return ExactRow<SLanes, 8, Octet>(row, next, out, count, texelsize);
}
