// AVX-512 row kernel through the single-precision fast path: the length by
// vrsqrt14ps and one Newton step, each byte proposed by a fused multiply-add
// and kept only where the bound in FastNormalBound.h (derived in
// docs/fast-normals.md) proves it equal to the exact path's. Every other lane
// is recomputed by the scalar kernel, every row outside the covered texel
// sizes by the exact AVX-512 kernel; both live in files built without FMA.
// Built with -mavx512f -mavx512bw -mavx512vl.
#include "Avx512Intrinsics.h"

#include "FastPath.h"

namespace {

// This file's vectors, for FastPath.h.
struct SLanes {
    static __m512 Set(float v) { return _mm512_set1_ps(v); }
    static __m512i Set(std::int32_t v) { return _mm512_set1_epi32(v); }
};
using SFast = SFastConstants<SLanes>;

inline __m512 Heights(__m128i bytes)
{
    return _mm512_cvtepi32_ps(_mm512_cvtepu8_epi32(bytes));
}

// Among lanes, those whose w lies within kMarginUnits of an integer. w
// carries kMarginUnits of bias, so that is a fraction below 2 kMarginUnits:
// bits log2(2 kMarginUnits) to 14 all clear.
inline __mmask16 Uncertain(__mmask16 lanes, __m512i w, const SFast& k)
{
    return _mm512_mask_testn_epi32_mask(lanes, w, k.fractionTest);
}

// 1 / |(nx, ny, nz)| in single precision: vrsqrt14ps and one Newton step,
// r = r0 + (r0 / 2) (1 - (q r0) r0), whose error FastNormalBound.h bounds.
inline __m512 InverseLength(__m512 nx, __m512 ny, const SFast& k)
{
    const __m512 q = _mm512_fmadd_ps(nx, nx, _mm512_fmadd_ps(ny, ny, k.z2));
    const __m512 r0 = _mm512_rsqrt14_ps(q);
    const __m512 d = _mm512_fnmadd_ps(_mm512_mul_ps(q, r0), r0, k.one);
    return _mm512_fmadd_ps(_mm512_mul_ps(r0, k.half), d, r0);
}

inline SFastPixels<SLanes> Fast16(__m512 c, __m512 e, __m512 u, const SFast& k)
{
    // nx and ny exactly as the exact path computes them.
    const __m512 cs = _mm512_mul_ps(c, k.inv255);
    const __m512 nx = _mm512_mul_ps(k.negS, _mm512_sub_ps(_mm512_mul_ps(e, k.inv255), cs));
    const __m512 ny = _mm512_mul_ps(k.negS, _mm512_sub_ps(_mm512_mul_ps(u, k.inv255), cs));
    const __m512 t = _mm512_mul_ps(InverseLength(nx, ny, k), k.c127);
    const __m512 wzf = _mm512_fmadd_ps(k.nz, t, k.bias);
    const __m512i wz = _mm512_castps_si512(wzf);
    const __m512i wy = _mm512_castps_si512(_mm512_fmadd_ps(ny, t, k.bias));
    const __m512i wx = _mm512_castps_si512(_mm512_fmadd_ps(nx, t, k.bias));

    // Exact shortcuts: a zero component gives w = 384 plus the bias, byte 128; a
    // flat pixel takes the exact path's own z; a non-flat z with w at least
    // topW is 254 (topW is kNoTopW where the texel size rules that out).
    const __mmask16 someX = _mm512_cmp_ps_mask(nx, _mm512_setzero_ps(), _CMP_NEQ_UQ);
    const __mmask16 someY = _mm512_cmp_ps_mask(ny, _mm512_setzero_ps(), _CMP_NEQ_UQ);
    const __mmask16 below = _mm512_mask_cmp_ps_mask(someX | someY, wzf, k.topW, _CMP_LT_OQ);
    const __mmask16 uncertain = Uncertain(someX, wx, k) | Uncertain(someY, wy, k) | Uncertain(below, wz, k);

    // Bytes in place: w >> 15 holds the byte in bits 0-7, w >> 7 in bits
    // 8-15, w << 1 in bits 16-23; 0xCA selects by its first operand.
    const __m512i other = _mm512_mask_mov_epi32(k.flatZ, someX | someY, k.topZ);
    const __m512i z = _mm512_mask_mov_epi32(other, below, _mm512_srli_epi32(wz, kFractionBits));
    const __m512i yx = _mm512_ternarylogic_epi32(k.byteY, _mm512_srli_epi32(wy, kFractionBits - 8),
                                                 _mm512_slli_epi32(wx, 16 - kFractionBits), 0xCA);
    return {_mm512_ternarylogic_epi32(k.byteZ, z, yx, 0xCA), uncertain};
}

// Drops the fourth byte of each int32 within each 128-bit lane: 12 bytes
// (dwords 0-2, 4-6, 8-10, 12-14) per lane.
inline __m512i Squeeze(__m512i pixels)
{
    const __m512i squeeze = _mm512_broadcast_i32x4(
        _mm_setr_epi8(0, 1, 2, 4, 5, 6, 8, 9, 10, 12, 13, 14, -1, -1, -1, -1));
    return _mm512_shuffle_epi8(pixels, squeeze);
}

// Sixty-four pixels: four sets of sixteen, 192 bytes in three full stores.
inline std::uint64_t Block64(const std::uint8_t* row, const std::uint8_t* next, std::uint8_t* out,
                             const SFast& k)
{
    SFastPixels<SLanes> p[4];
    for (int j = 0; j < 4; ++j) {
        const __m128i c = _mm_loadu_si128(reinterpret_cast<const __m128i*>(row + 16 * j));
        const __m128i e = _mm_loadu_si128(reinterpret_cast<const __m128i*>(row + 16 * j + 1));
        const __m128i u = _mm_loadu_si128(reinterpret_cast<const __m128i*>(next + 16 * j));
        p[j] = Fast16(Heights(c), Heights(e), Heights(u), k);
    }
    const __m512i a = Squeeze(p[0].pixels), b = Squeeze(p[1].pixels), c = Squeeze(p[2].pixels),
                  d = Squeeze(p[3].pixels);
    // Dword indices into (first, second + 16) of the twelve valid dwords.
    const __m512i i0 = _mm512_setr_epi32(0, 1, 2, 4, 5, 6, 8, 9, 10, 12, 13, 14, 16, 17, 18, 20);
    const __m512i i1 = _mm512_setr_epi32(5, 6, 8, 9, 10, 12, 13, 14, 16, 17, 18, 20, 21, 22, 24, 25);
    const __m512i i2 = _mm512_setr_epi32(10, 12, 13, 14, 16, 17, 18, 20, 21, 22, 24, 25, 26, 28, 29, 30);
    _mm512_storeu_si512(out, _mm512_permutex2var_epi32(a, i0, b));
    _mm512_storeu_si512(out + 64, _mm512_permutex2var_epi32(b, i1, c));
    _mm512_storeu_si512(out + 128, _mm512_permutex2var_epi32(c, i2, d));
    return static_cast<std::uint64_t>(p[0].uncertain) | static_cast<std::uint64_t>(p[1].uncertain) << 16 |
           static_cast<std::uint64_t>(p[2].uncertain) << 32 | static_cast<std::uint64_t>(p[3].uncertain) << 48;
}

// n <= 16 pixels of the row's tail: loads only their heights, stores only
// their bytes.
inline std::uint64_t Tail16(const std::uint8_t* row, const std::uint8_t* next, std::uint8_t* out, std::size_t n,
                            const SFast& k)
{
    const __mmask16 in = static_cast<__mmask16>((1u << n) - 1);
    const auto p = Fast16(Heights(_mm_maskz_loadu_epi8(in, row)), Heights(_mm_maskz_loadu_epi8(in, row + 1)),
                               Heights(_mm_maskz_loadu_epi8(in, next)), k);
    const __m512i gather = _mm512_setr_epi32(0, 1, 2, 4, 5, 6, 8, 9, 10, 12, 13, 14, 3, 7, 11, 15);
    const __m512i bytes = _mm512_permutexvar_epi32(gather, Squeeze(p.pixels));
    _mm512_mask_storeu_epi8(out, (std::uint64_t{1} << (3 * n)) - 1, bytes);
    return p.uncertain & in;
}

}  // namespace

std::size_t NormalRowAvx512Fast(const std::uint8_t* row, const std::uint8_t* next, std::uint8_t* out,
                                std::size_t count, float texelsize)
{
    return FastRow<SLanes, 64, Block64, 16, Tail16>(row, next, out, count, texelsize, NormalRowAvx512);
}
