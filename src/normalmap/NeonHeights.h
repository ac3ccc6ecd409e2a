// The height load both NEON kernels (RowKernelsNeon.cpp, its fast path
// RowKernelsNeonFast.cpp) run. Internal linkage, as NormalPixel.h explains.
#ifndef QUARNEL_NEONHEIGHTS_H
#define QUARNEL_NEONHEIGHTS_H

#include <arm_neon.h>

#include <cstdint>

namespace {

// Sixteen heights as four vectors of four floats; reads exactly 16 bytes.
inline void LoadHeights(const std::uint8_t* p, float32x4_t (&f)[4])
{
    const uint8x16_t bytes = vld1q_u8(p);
    const uint16x8_t lo = vmovl_u8(vget_low_u8(bytes));
    const uint16x8_t hi = vmovl_high_u8(bytes);
    f[0] = vcvtq_f32_u32(vmovl_u16(vget_low_u16(lo)));
    f[1] = vcvtq_f32_u32(vmovl_high_u16(lo));
    f[2] = vcvtq_f32_u32(vmovl_u16(vget_low_u16(hi)));
    f[3] = vcvtq_f32_u32(vmovl_high_u16(hi));
}

}  // namespace

#endif
