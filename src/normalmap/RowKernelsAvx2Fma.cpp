// AVX2 row kernel through the single-precision fast path: the length by
// vrsqrtps and one Newton step, each byte proposed by a fused multiply-add
// and kept only where the bound in FastNormalBound.h (derived in
// docs/fast-normals.md) proves it equal to the exact path's. Every other lane
// is recomputed by the scalar kernel, every row outside the covered texel
// sizes by the exact AVX2 kernel; both live in files built without FMA.
// Built with -mavx2 -mfma; runs only where the processor reports both.
#include <immintrin.h>

#include "FastPath.h"

namespace {

// This file's vectors, for FastPath.h.
struct SLanes {
    static __m256 Set(float v) { return _mm256_set1_ps(v); }
    static __m256i Set(std::int32_t v) { return _mm256_set1_epi32(v); }
};
using SFast = SFastConstants<SLanes>;

// Eight heights as eight floats; reads exactly eight bytes.
inline __m256 Heights(const std::uint8_t* p)
{
    const __m128i v = _mm_loadl_epi64(reinterpret_cast<const __m128i*>(p));
    return _mm256_cvtepi32_ps(_mm256_cvtepu8_epi32(v));
}

// All ones in the lanes of lanes whose w lies within kMarginUnits of an
// integer. w carries kMarginUnits of bias, so that is a fraction below
// 2 kMarginUnits: bits log2(2 kMarginUnits) to 14 all clear.
inline __m256i Uncertain(__m256i lanes, __m256i w, const SFast& k)
{
    const __m256i bits = _mm256_and_si256(w, k.fractionTest);
    return _mm256_and_si256(lanes, _mm256_cmpeq_epi32(bits, _mm256_setzero_si256()));
}

// 1 / |(nx, ny, nz)| in single precision: vrsqrtps and one Newton step,
// r = r0 + (r0 / 2) (1 - (q r0) r0), whose error FastNormalBound.h bounds.
inline __m256 InverseLength(__m256 nx, __m256 ny, const SFast& k)
{
    const __m256 q = _mm256_fmadd_ps(nx, nx, _mm256_fmadd_ps(ny, ny, k.z2));
    const __m256 r0 = _mm256_rsqrt_ps(q);
    const __m256 d = _mm256_fnmadd_ps(_mm256_mul_ps(q, r0), r0, k.one);
    return _mm256_fmadd_ps(_mm256_mul_ps(r0, k.half), d, r0);
}

inline SFastPixels<SLanes> Fast8(const std::uint8_t* row, const std::uint8_t* next, const SFast& k)
{
    // nx and ny exactly as the exact path computes them.
    const __m256 cs = _mm256_mul_ps(Heights(row), k.inv255);
    const __m256 nx = _mm256_mul_ps(k.negS, _mm256_sub_ps(_mm256_mul_ps(Heights(row + 1), k.inv255), cs));
    const __m256 ny = _mm256_mul_ps(k.negS, _mm256_sub_ps(_mm256_mul_ps(Heights(next), k.inv255), cs));
    const __m256 t = _mm256_mul_ps(InverseLength(nx, ny, k), k.c127);
    const __m256 wzf = _mm256_fmadd_ps(k.nz, t, k.bias);
    const __m256i wz = _mm256_castps_si256(wzf);
    const __m256i wy = _mm256_castps_si256(_mm256_fmadd_ps(ny, t, k.bias));
    const __m256i wx = _mm256_castps_si256(_mm256_fmadd_ps(nx, t, k.bias));

    // Exact shortcuts: a zero component gives w = 384 plus the bias, byte 128; a
    // flat pixel takes the exact path's own z; a non-flat z with w at least
    // topW is 254 (topW is kNoTopW where the texel size rules that out).
    const __m256i someX = _mm256_castps_si256(_mm256_cmp_ps(nx, _mm256_setzero_ps(), _CMP_NEQ_UQ));
    const __m256i someY = _mm256_castps_si256(_mm256_cmp_ps(ny, _mm256_setzero_ps(), _CMP_NEQ_UQ));
    const __m256i some = _mm256_or_si256(someX, someY);
    const __m256i below = _mm256_and_si256(some, _mm256_castps_si256(_mm256_cmp_ps(wzf, k.topW, _CMP_LT_OQ)));
    const __m256i uncertain =
        _mm256_or_si256(_mm256_or_si256(Uncertain(someX, wx, k), Uncertain(someY, wy, k)), Uncertain(below, wz, k));

    // Bytes in place: w >> 15 holds the byte in bits 0-7, w >> 7 in bits
    // 8-15, w << 1 in bits 16-23.
    const __m256i other = _mm256_blendv_epi8(k.flatZ, k.topZ, some);
    const __m256i z = _mm256_blendv_epi8(other, _mm256_srli_epi32(wz, kFractionBits), below);
    const __m256i yx = _mm256_blendv_epi8(_mm256_slli_epi32(wx, 16 - kFractionBits),
                                          _mm256_srli_epi32(wy, kFractionBits - 8), k.byteY);
    const __m256i pixels = _mm256_blendv_epi8(yx, z, k.byteZ);
    return {pixels, static_cast<unsigned>(_mm256_movemask_ps(_mm256_castsi256_ps(uncertain)))};
}

// Drops the fourth byte of each int32 within each 128-bit lane: 12 bytes
// (dwords 0-2 and 4-6) per lane.
inline __m256i Squeeze(__m256i pixels)
{
    const __m256i squeeze = _mm256_setr_epi8(0, 1, 2, 4, 5, 6, 8, 9, 10, 12, 13, 14, -1, -1, -1, -1,  //
                                             0, 1, 2, 4, 5, 6, 8, 9, 10, 12, 13, 14, -1, -1, -1, -1);
    return _mm256_shuffle_epi8(pixels, squeeze);
}

// Thirty-two pixels: four sets of eight, 96 bytes in three full stores.
inline std::uint32_t Block32(const std::uint8_t* row, const std::uint8_t* next, std::uint8_t* out,
                             const SFast& k)
{
    SFastPixels<SLanes> p[4];
    for (int j = 0; j < 4; ++j)
        p[j] = Fast8(row + 8 * j, next + 8 * j, k);
    const __m256i a = Squeeze(p[0].pixels), b = Squeeze(p[1].pixels), c = Squeeze(p[2].pixels),
                  d = Squeeze(p[3].pixels);
    // Valid dwords of a squeezed set: 0, 1, 2, 4, 5, 6; -1 marks a lane the
    // blend takes from the other set.
    const auto perm = [](__m256i v, int i0, int i1, int i2, int i3, int i4, int i5, int i6, int i7) {
        return _mm256_permutevar8x32_epi32(v, _mm256_setr_epi32(i0, i1, i2, i3, i4, i5, i6, i7));
    };
    const __m256i v0 = _mm256_blend_epi32(perm(a, 0, 1, 2, 4, 5, 6, 0, 0), perm(b, 0, 0, 0, 0, 0, 0, 0, 1), 0xC0);
    const __m256i v1 = _mm256_blend_epi32(perm(b, 2, 4, 5, 6, 0, 0, 0, 0), perm(c, 0, 0, 0, 0, 0, 1, 2, 4), 0xF0);
    const __m256i v2 = _mm256_blend_epi32(perm(c, 5, 6, 0, 0, 0, 0, 0, 0), perm(d, 0, 0, 0, 1, 2, 4, 5, 6), 0xFC);
    _mm256_storeu_si256(reinterpret_cast<__m256i*>(out), v0);
    _mm256_storeu_si256(reinterpret_cast<__m256i*>(out + 32), v1);
    _mm256_storeu_si256(reinterpret_cast<__m256i*>(out + 64), v2);
    return p[0].uncertain | p[1].uncertain << 8 | p[2].uncertain << 16 | p[3].uncertain << 24;
}

// n <= 8 pixels of the row's tail. Eight take a 16- and an 8-byte store;
// fewer go through the kernel that defines them, and are not counted.
inline std::uint32_t Tail8(const std::uint8_t* row, const std::uint8_t* next, std::uint8_t* out, std::size_t n,
                           const SFast& k)
{
    if (n < 8) {
        NormalRowScalar(row, next, out, n, k.texelsize);
        return 0;
    }
    const auto p = Fast8(row, next, k);
    const __m256i bytes =
        _mm256_permutevar8x32_epi32(Squeeze(p.pixels), _mm256_setr_epi32(0, 1, 2, 4, 5, 6, 3, 7));
    _mm_storeu_si128(reinterpret_cast<__m128i*>(out), _mm256_castsi256_si128(bytes));
    _mm_storel_epi64(reinterpret_cast<__m128i*>(out + 16), _mm256_extracti128_si256(bytes, 1));
    return p.uncertain;
}

}  // namespace

std::size_t NormalRowAvx2Fma(const std::uint8_t* row, const std::uint8_t* next, std::uint8_t* out,
                             std::size_t count, float texelsize)
{
    return FastRow<SLanes, 32, Block32, 8, Tail8>(row, next, out, count, texelsize, NormalRowAvx2);
}
