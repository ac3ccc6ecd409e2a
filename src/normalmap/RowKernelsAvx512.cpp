// AVX-512 row kernel: sixteen pixels a step, eight doubles a register, and the
// row's tail in the same code under a mask. Built with -mavx512f -mavx512bw
// -mavx512vl; runs only where the processor reports all three.
#include "Avx512Intrinsics.h"

#include "ExactPath.h"

namespace {

// This file's vectors, for ExactPath.h.
struct SLanes {
    static __m512 Set(float v) { return _mm512_set1_ps(v); }
    static __m512d Set(double v) { return _mm512_set1_pd(v); }
};
using SConsts = SExactConstants<SLanes>;

// EncodeByte(v) as ExactPath.h says x86 gives it.
inline __m256i Encode(__m512d v)
{
    const __m256i t = _mm512_cvttpd_epi32(v);
    return _mm256_maskz_mov_epi32(_mm256_testn_epi32_mask(t, _mm256_set1_epi32(~0xFF)), t);
}

// Eight pixels, one int32 each holding z, y, x in its low three bytes.
inline __m256i NormalOctet(__m512d nx, __m512d ny, const SConsts& k)
{
    const __m512d q = _mm512_add_pd(_mm512_add_pd(k.nz2, _mm512_mul_pd(ny, ny)), _mm512_mul_pd(nx, nx));
    const __m512d len = _mm512_div_pd(k.one, _mm512_sqrt_pd(q));
    const __m256i bz = Encode(_mm512_add_pd(_mm512_mul_pd(_mm512_mul_pd(k.nz, len), k.c127), k.c128));
    const __m256i by = Encode(_mm512_add_pd(_mm512_mul_pd(_mm512_mul_pd(ny, len), k.c127), k.c128));
    const __m256i bx = Encode(_mm512_add_pd(_mm512_mul_pd(_mm512_mul_pd(nx, len), k.c127), k.c128));
    return _mm256_or_si256(_mm256_or_si256(bz, _mm256_slli_epi32(by, 8)), _mm256_slli_epi32(bx, 16));
}

inline __m512d LowHalf(__m512 v)
{
    return _mm512_cvtps_pd(_mm512_castps512_ps256(v));
}

inline __m512d HighHalf(__m512 v)
{
    return _mm512_cvtps_pd(_mm256_castpd_ps(_mm512_extractf64x4_pd(_mm512_castps_pd(v), 1)));
}

// n <= 16 pixels at x: loads only their heights and stores only their bytes,
// so the tail needs no scalar code and nothing past a row is touched.
inline void Step(const std::uint8_t* row, const std::uint8_t* next, std::uint8_t* out, unsigned n,
                 const SConsts& k)
{
    const __mmask16 in = static_cast<__mmask16>((1u << n) - 1);
    const __m512 c = _mm512_cvtepi32_ps(_mm512_cvtepu8_epi32(_mm_maskz_loadu_epi8(in, row)));
    const __m512 e = _mm512_cvtepi32_ps(_mm512_cvtepu8_epi32(_mm_maskz_loadu_epi8(in, row + 1)));
    const __m512 u = _mm512_cvtepi32_ps(_mm512_cvtepu8_epi32(_mm_maskz_loadu_epi8(in, next)));
    const __m512 cs = _mm512_mul_ps(c, k.inv255);
    const __m512 nx = _mm512_mul_ps(k.negS, _mm512_sub_ps(_mm512_mul_ps(e, k.inv255), cs));
    const __m512 ny = _mm512_mul_ps(k.negS, _mm512_sub_ps(_mm512_mul_ps(u, k.inv255), cs));
    const __m256i lo = NormalOctet(LowHalf(nx), LowHalf(ny), k);
    const __m256i hi = NormalOctet(HighHalf(nx), HighHalf(ny), k);
    const __m512i pixels = _mm512_inserti64x4(_mm512_castsi256_si512(lo), hi, 1);
    // Drop the fourth byte of each int32 within each 128-bit lane, then gather
    // the four lanes' twelve bytes into the low 48.
    const __m512i squeeze = _mm512_broadcast_i32x4(
        _mm_setr_epi8(0, 1, 2, 4, 5, 6, 8, 9, 10, 12, 13, 14, -1, -1, -1, -1));
    const __m512i gather = _mm512_setr_epi32(0, 1, 2, 4, 5, 6, 8, 9, 10, 12, 13, 14, 3, 7, 11, 15);
    const __m512i bytes = _mm512_permutexvar_epi32(gather, _mm512_shuffle_epi8(pixels, squeeze));
    const __mmask64 outMask = (std::uint64_t{1} << (3 * n)) - 1;
    _mm512_mask_storeu_epi8(out, outMask, bytes);
}

inline void Block16(const std::uint8_t* row, const std::uint8_t* next, std::uint8_t* out, const SConsts& k)
{
    Step(row, next, out, 16, k);
}

// The row's tail in the same code, under a mask.
inline void Tail(const std::uint8_t* row, const std::uint8_t* next, std::uint8_t* out, std::size_t x,
                 std::size_t count, const SConsts& k)
{
    Step(row + x, next + x, out + 3 * x, static_cast<unsigned>(count - x), k);
}

}  // namespace

std::size_t NormalRowAvx512(const std::uint8_t* row, const std::uint8_t* next, std::uint8_t* out,
                            std::size_t count, float texelsize)
{
    return ExactRow<SLanes, 16, Block16, Tail>(row, next, out, count, texelsize);
}
