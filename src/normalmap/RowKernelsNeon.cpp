// NEON row kernels for AArch64, sixteen pixels a step: heights, and normals
// with the scalar kernel's operations in its order and precision (two
// doubles a register). NEON with double-precision vectors is part of every
// AArch64 processor, so nothing is asked of it and nothing extra is enabled.
// Like every exact file it is built without contraction, which GCC would
// otherwise apply to these intrinsics on AArch64.
#include <arm_neon.h>

#include "ExactPath.h"
#include "NeonHeights.h"

namespace {

// This file's vectors, for ExactPath.h.
struct SLanes {
    static float32x4_t Set(float v) { return vdupq_n_f32(v); }
    static float64x2_t Set(double v) { return vdupq_n_f64(v); }
};
using SConsts = SExactConstants<SLanes>;

// EncodeByte(v) of four values. v = n k 127 + 128 with |n k| at most 1 plus
// a few ulps, so a number lies in [0.99, 255.01) and truncates to its byte;
// the only other value is NaN (a zero, infinite or NaN texel size), which
// the conversion turns into 0, as EncodeByte does.
inline uint32x4_t Encode(float64x2_t lo, float64x2_t hi)
{
    return vuzp1q_u32(vreinterpretq_u32_u64(vcvtq_u64_f64(lo)), vreinterpretq_u32_u64(vcvtq_u64_f64(hi)));
}

// v * k * 127 + 128 in double, left to right as the scalar kernel has it.
inline float64x2_t Scaled(float64x2_t v, float64x2_t k, const SConsts& c)
{
    return vaddq_f64(vmulq_f64(vmulq_f64(v, k), c.c127), c.c128);
}

// Four pixels' bytes, z, y and x, one per uint32 lane.
struct SQuad {
    uint32x4_t z, y, x;
};

inline SQuad NormalQuad(float32x4_t nx, float32x4_t ny, const SConsts& c)
{
    float64x2_t k[2];
    float64x2_t x[2] = {vcvt_f64_f32(vget_low_f32(nx)), vcvt_high_f64_f32(nx)};
    float64x2_t y[2] = {vcvt_f64_f32(vget_low_f32(ny)), vcvt_high_f64_f32(ny)};
    for (int h = 0; h < 2; ++h) {
        const float64x2_t q = vaddq_f64(vaddq_f64(c.nz2, vmulq_f64(y[h], y[h])), vmulq_f64(x[h], x[h]));
        k[h] = vdivq_f64(c.one, vsqrtq_f64(q));
    }
    SQuad quad;
    quad.z = Encode(Scaled(c.nz, k[0], c), Scaled(c.nz, k[1], c));
    quad.y = Encode(Scaled(y[0], k[0], c), Scaled(y[1], k[1], c));
    quad.x = Encode(Scaled(x[0], k[0], c), Scaled(x[1], k[1], c));
    return quad;
}

// Sixteen bytes from four vectors of uint32 lanes, each below 256.
inline uint8x16_t Narrow(uint32x4_t a, uint32x4_t b, uint32x4_t c, uint32x4_t d)
{
    const uint16x8_t lo = vuzp1q_u16(vreinterpretq_u16_u32(a), vreinterpretq_u16_u32(b));
    const uint16x8_t hi = vuzp1q_u16(vreinterpretq_u16_u32(c), vreinterpretq_u16_u32(d));
    return vuzp1q_u8(vreinterpretq_u8_u16(lo), vreinterpretq_u8_u16(hi));
}

// Sixteen computed pixels, 48 bytes interleaved z, y, x by one store.
inline void Normal16(const std::uint8_t* row, const std::uint8_t* next, std::uint8_t* out, const SConsts& k)
{
    float32x4_t c[4], e[4], u[4];
    LoadHeights(row, c);
    LoadHeights(row + 1, e);
    LoadHeights(next, u);
    SQuad quad[4];
    for (int j = 0; j < 4; ++j) {
        const float32x4_t cs = vmulq_f32(c[j], k.inv255);
        const float32x4_t nx = vmulq_f32(k.negS, vsubq_f32(vmulq_f32(e[j], k.inv255), cs));
        const float32x4_t ny = vmulq_f32(k.negS, vsubq_f32(vmulq_f32(u[j], k.inv255), cs));
        quad[j] = NormalQuad(nx, ny, k);
    }
    uint8x16x3_t bytes;
    bytes.val[0] = Narrow(quad[0].z, quad[1].z, quad[2].z, quad[3].z);
    bytes.val[1] = Narrow(quad[0].y, quad[1].y, quad[2].y, quad[3].y);
    bytes.val[2] = Narrow(quad[0].x, quad[1].x, quad[2].x, quad[3].x);
    vst3q_u8(out, bytes);
}

// Sixteen pixels' heights: blue, green and red apart; 30 b + 150 g + 76 r
// <= 256 * 255 fits 16 bits.
inline void Heights16(const std::uint8_t* p, std::uint8_t* heights)
{
    const uint8x8_t wb = vdup_n_u8(30), wg = vdup_n_u8(150), wr = vdup_n_u8(76);
    const uint8x16x3_t bgr = vld3q_u8(p);
    uint16x8_t lo = vmull_u8(vget_low_u8(bgr.val[0]), wb);
    lo = vmlal_u8(lo, vget_low_u8(bgr.val[1]), wg);
    lo = vmlal_u8(lo, vget_low_u8(bgr.val[2]), wr);
    uint16x8_t hi = vmull_high_u8(bgr.val[0], vdupq_n_u8(30));
    hi = vmlal_high_u8(hi, bgr.val[1], vdupq_n_u8(150));
    hi = vmlal_high_u8(hi, bgr.val[2], vdupq_n_u8(76));
    vst1q_u8(heights, vcombine_u8(vshrn_n_u16(lo, 8), vshrn_n_u16(hi, 8)));
}

// The row's last pixels as its last sixteen, written again where they
// overlap: the same bytes. A row shorter than sixteen takes the scalar
// kernel's arithmetic.
inline void Tail(const std::uint8_t* row, const std::uint8_t* next, std::uint8_t* out, std::size_t x,
                 std::size_t count, const SConsts& k)
{
    if (count < 16)
        ScalarTail(row, next, out, x, count, k);
    else
        Normal16(row + count - 16, next + count - 16, out + 3 * (count - 16), k);
}

}  // namespace

void HeightsRowNeon(const std::uint8_t* pixels, std::uint8_t* heights, std::size_t count)
{
    ExactHeights<16, Heights16>(pixels, heights, count);
}

std::size_t NormalRowNeon(const std::uint8_t* row, const std::uint8_t* next, std::uint8_t* out, std::size_t count,
                          float texelsize)
{
    return ExactRow<SLanes, 16, Normal16, Tail>(row, next, out, count, texelsize);
}
