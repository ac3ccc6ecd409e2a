// The scalar arithmetic of heights and normals, shared by the scalar variant and the
// tails of the vector variants so every variant rounds the same way.
//
// Everything here has internal linkage on purpose: this header is compiled
// into files built for AVX2 and AVX-512 as well, and an inline function with
// external linkage could be merged across them by the linker, handing
// AVX-512 code to a processor without it.
#ifndef QUARNEL_NORMALPIXEL_H
#define QUARNEL_NORMALPIXEL_H

#include <cmath>
#include <cstddef>
#include <cstdint>

namespace {

// Nearest single to 1/255 (0.003921569, bit pattern 0x3B808081), written in hex so
// no decimal conversion can pick a neighbour; 255 * kInv255 rounds to exactly 1.
constexpr float kInv255 = 0x1.010102p-8f;

// truncate(v) for a component already scaled to [1, 255]. Not-a-number (a zero,
// infinite or NaN texel size) becomes 0; the range test also keeps the
// conversion defined for any other value.
inline std::uint8_t EncodeByte(double v)
{
    if (!(v >= 0.0 && v < 256.0))
        return 0;
    return static_cast<std::uint8_t>(v);
}

inline void PutFlat(std::uint8_t* out)
{
    out[0] = 255;  // z = +1
    out[1] = 128;  // y = 0
    out[2] = 128;  // x = 0
}

// One computed pixel. The precision of every step is part of the output: the
// products and differences are single, nz and everything after it double.
inline void PutNormal(unsigned c, unsigned e, unsigned u, float s, std::uint8_t* out)
{
    const float cs = static_cast<float>(c) * kInv255;
    const float es = static_cast<float>(e) * kInv255;
    const float us = static_cast<float>(u) * kInv255;
    const float dx = es - cs;
    const float dy = us - cs;
    // Cross product of (s, 0, dx) and (0, s, dy).
    const float nx = -s * dx;
    const float ny = -s * dy;
    const double nz = static_cast<double>(s) * static_cast<double>(s);
    const double q = nz * nz + static_cast<double>(ny) * ny + static_cast<double>(nx) * nx;
    const double k = 1.0 / std::sqrt(q);
    out[0] = EncodeByte(nz * k * 127.0 + 128.0);
    out[1] = EncodeByte(static_cast<double>(ny) * k * 127.0 + 128.0);
    out[2] = EncodeByte(static_cast<double>(nx) * k * 127.0 + 128.0);
}

// count computed pixels of one row: heights row[0 .. count], next[0 .. count - 1].
inline void PutNormalRun(const std::uint8_t* row, const std::uint8_t* next, std::uint8_t* out,
                         std::size_t count, float s)
{
    for (std::size_t x = 0; x < count; ++x)
        PutNormal(row[x], row[x + 1], next[x], s, out + 3 * x);
}

// heights[i] = luminance of BGR pixel i. The weights sum to 256, so white
// stays 255 and the shift never overflows a byte.
inline void HeightsRun(const std::uint8_t* pixels, std::uint8_t* heights, std::size_t count)
{
    for (std::size_t i = 0; i < count; ++i) {
        const unsigned b = pixels[3 * i];
        const unsigned g = pixels[3 * i + 1];
        const unsigned r = pixels[3 * i + 2];
        heights[i] = static_cast<std::uint8_t>((30 * b + 150 * g + 76 * r) >> 8);
    }
}

}  // namespace

#endif
