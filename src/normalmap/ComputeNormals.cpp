#include "NormalMap.h"

#include <cstddef>

#include "NormalMapVariants.h"
#include "NormalPixel.h"
#include "NormalRows.h"

// The reference every other kernel must match byte for byte.
void NormalRowScalar(const std::uint8_t* row, const std::uint8_t* next, std::uint8_t* out,
                     std::size_t count, float texelsize)
{
    PutNormalRun(row, next, out, count, texelsize);
}

void ComputeNormalsVariant(ENormalsVariant variant, const std::uint8_t* heights, std::uint8_t* normals,
                           int width, int height, float texelsize)
{
    const NormalRowFn kernel = NormalRowKernel(variant);
    const std::size_t w = static_cast<std::size_t>(width);
    const std::size_t h = static_cast<std::size_t>(height);
    for (std::size_t r = 0; r + 1 < h; ++r) {
        const std::uint8_t* row = heights + r * w;
        std::uint8_t* out = normals + 3 * r * w;
        kernel(row, row + w, out, w - 1, texelsize);
        PutFlat(out + 3 * (w - 1));
    }
    std::uint8_t* last = normals + 3 * (h - 1) * w;
    for (std::size_t x = 0; x < w; ++x)
        PutFlat(last + 3 * x);
}

void ComputeNormals(const std::uint8_t* heights, std::uint8_t* normals, int width, int height,
                    float texelsize)
{
    ComputeNormalsVariant(BestNormalsVariant(), heights, normals, width, height, texelsize);
}
