#include "NormalMap.h"

#include <cmath>
#include <cstddef>

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

}  // namespace

void ComputeNormals(const std::uint8_t* heights, std::uint8_t* normals, int width, int height,
                    float texelsize)
{
    const std::size_t w = static_cast<std::size_t>(width);
    const std::size_t h = static_cast<std::size_t>(height);
    for (std::size_t r = 0; r + 1 < h; ++r) {
        const std::uint8_t* row = heights + r * w;
        const std::uint8_t* next = row + w;
        std::uint8_t* out = normals + 3 * r * w;
        for (std::size_t x = 0; x + 1 < w; ++x)
            PutNormal(row[x], row[x + 1], next[x], texelsize, out + 3 * x);
        PutFlat(out + 3 * (w - 1));
    }
    std::uint8_t* last = normals + 3 * (h - 1) * w;
    for (std::size_t x = 0; x < w; ++x)
        PutFlat(last + 3 * x);
}
