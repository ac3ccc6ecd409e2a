// NEON row kernel through the single-precision fast path: the length by
// frsqrte and two frsqrts steps, each byte proposed by a fused multiply-add
// and kept only where the bound in FastNormalBound.h (derived in
// docs/fast-normals.md) proves it equal to the exact path's. Every other lane
// is recomputed by the scalar kernel, every row outside the covered texel
// sizes by the exact NEON kernel; both live in files built without
// contraction. The only file of an AArch64 build whose code may hold fused
// or approximate instructions.
#include <arm_neon.h>

#include "FastPath.h"
#include "NeonHeights.h"

namespace {

// This file's vectors, for FastPath.h.
struct SLanes {
    static float32x4_t Set(float v) { return vdupq_n_f32(v); }
    static uint32x4_t Set(std::int32_t v) { return vdupq_n_u32(static_cast<std::uint32_t>(v)); }
};
using SFast = SFastConstants<SLanes>;

// All ones in the lanes of lanes whose w lies within kMarginUnits of an
// integer. w carries kMarginUnits of bias, so that is a fraction below
// 2 kMarginUnits: bits log2(2 kMarginUnits) to 14 all clear.
inline uint32x4_t Uncertain(uint32x4_t lanes, float32x4_t w, const SFast& k)
{
    return vbicq_u32(lanes, vtstq_u32(vreinterpretq_u32_f32(w), k.fractionTest));
}

// Four pixels: w of each component (the byte in bits 15 to 22) and the
// lanes whose bytes the bound does not prove.
struct SFast4 {
    uint32x4_t z, y, x, uncertain;
};

inline SFast4 Fast4(float32x4_t c, float32x4_t e, float32x4_t u, const SFast& k)
{
    // nx and ny exactly as the exact path computes them.
    const float32x4_t cs = vmulq_f32(c, k.inv255);
    const float32x4_t nx = vmulq_f32(k.negS, vsubq_f32(vmulq_f32(e, k.inv255), cs));
    const float32x4_t ny = vmulq_f32(k.negS, vsubq_f32(vmulq_f32(u, k.inv255), cs));
    const float32x4_t q = vfmaq_f32(vfmaq_f32(k.z2, ny, ny), nx, nx);
    const float32x4_t r0 = vrsqrteq_f32(q);
    const float32x4_t r1 = vmulq_f32(r0, vrsqrtsq_f32(vmulq_f32(q, r0), r0));
    const float32x4_t r = vmulq_f32(r1, vrsqrtsq_f32(vmulq_f32(q, r1), r1));
    const float32x4_t t = vmulq_f32(r, k.c127);
    const float32x4_t wz = vfmaq_f32(k.bias, k.nz, t);
    const float32x4_t wy = vfmaq_f32(k.bias, ny, t);
    const float32x4_t wx = vfmaq_f32(k.bias, nx, t);

    // Exact shortcuts: a zero component gives w = 384 plus the bias, byte 128; a
    // flat pixel takes the exact path's own z; a non-flat z with w at least
    // topW is 254 (topW is kNoTopW where the texel size rules that out).
    const uint32x4_t someX = vmvnq_u32(vceqzq_f32(nx));
    const uint32x4_t someY = vmvnq_u32(vceqzq_f32(ny));
    const uint32x4_t some = vorrq_u32(someX, someY);
    const uint32x4_t below = vandq_u32(some, vcltq_f32(wz, k.topW));
    SFast4 p;
    p.uncertain = vorrq_u32(vorrq_u32(Uncertain(someX, wx, k), Uncertain(someY, wy, k)), Uncertain(below, wz, k));
    // The constant z bytes where a w holds its byte (hoisted by the compiler).
    const uint32x4_t topZ = vshlq_n_u32(k.topZ, kFractionBits), flatZ = vshlq_n_u32(k.flatZ, kFractionBits);
    p.z = vbslq_u32(below, vreinterpretq_u32_f32(wz), vbslq_u32(some, topZ, flatZ));
    p.y = vreinterpretq_u32_f32(wy);
    p.x = vreinterpretq_u32_f32(wx);
    return p;
}

// The sixteen bytes in bits 15 to 22 of four vectors.
inline uint8x16_t Bytes(uint32x4_t a, uint32x4_t b, uint32x4_t c, uint32x4_t d)
{
    const uint16x8_t lo = vshrn_high_n_u32(vshrn_n_u32(a, kFractionBits), b, kFractionBits);
    const uint16x8_t hi = vshrn_high_n_u32(vshrn_n_u32(c, kFractionBits), d, kFractionBits);
    return vmovn_high_u16(vmovn_u16(lo), hi);
}

// Sixteen pixels, 48 bytes interleaved z, y, x by one store; returns the
// lanes the bound does not prove, lane i as bit i.
inline std::uint32_t Fast16(const std::uint8_t* row, const std::uint8_t* next, std::uint8_t* out,
                            const SFast& k)
{
    float32x4_t c[4], e[4], u[4];
    LoadHeights(row, c);
    LoadHeights(row + 1, e);
    LoadHeights(next, u);
    SFast4 p[4];
    for (int j = 0; j < 4; ++j)
        p[j] = Fast4(c[j], e[j], u[j], k);
    uint8x16x3_t bytes;
    bytes.val[0] = Bytes(p[0].z, p[1].z, p[2].z, p[3].z);
    bytes.val[1] = Bytes(p[0].y, p[1].y, p[2].y, p[3].y);
    bytes.val[2] = Bytes(p[0].x, p[1].x, p[2].x, p[3].x);
    vst3q_u8(out, bytes);
    const uint32x4_t any = vorrq_u32(vorrq_u32(p[0].uncertain, p[1].uncertain),
                                     vorrq_u32(p[2].uncertain, p[3].uncertain));
    if (vmaxvq_u32(any) == 0)
        return 0;
    // About one block in fifty (0.14 % of pixels): the lanes one by one.
    std::uint32_t lanes[16];
    for (int j = 0; j < 4; ++j)
        vst1q_u32(lanes + 4 * j, p[j].uncertain);
    std::uint32_t mask = 0;
    for (unsigned i = 0; i < 16; ++i)
        mask |= (lanes[i] & 1u) << i;
    return mask;
}

// n <= 16 pixels of the row's tail: sixteen as a block; fewer go through
// the kernel that defines them, and are not counted.
inline std::uint32_t Tail16(const std::uint8_t* row, const std::uint8_t* next, std::uint8_t* out, std::size_t n,
                            const SFast& k)
{
    if (n < 16) {
        NormalRowScalar(row, next, out, n, k.texelsize);
        return 0;
    }
    return Fast16(row, next, out, k);
}

}  // namespace

std::size_t NormalRowNeonFast(const std::uint8_t* row, const std::uint8_t* next, std::uint8_t* out,
                              std::size_t count, float texelsize)
{
    return FastRow<SLanes, 16, Fast16, 16, Tail16>(row, next, out, count, texelsize, NormalRowNeon);
}
