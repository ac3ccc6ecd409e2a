// The row loop and the flat pixels around the kernels the dispatch picks.
#include "NormalMap.h"

#include <cstddef>

#include "KernelDispatch.h"
#include "NormalPixel.h"

void ComputeHeightsVariant(EKernelVariant variant, const std::uint8_t* pixels, std::uint8_t* heights, int width,
                           int height)
{
    const std::size_t n = static_cast<std::size_t>(width) * static_cast<std::size_t>(height);
    HeightsRowKernel(variant)(pixels, heights, n);
}

long long ComputeNormalsVariant(EKernelVariant variant, const std::uint8_t* heights, std::uint8_t* normals,
                                int width, int height, float texelsize)
{
    const NormalRowFn kernel = NormalRowKernel(variant);
    const std::size_t w = static_cast<std::size_t>(width);
    const std::size_t h = static_cast<std::size_t>(height);
    long long fallbacks = 0;
    for (std::size_t r = 0; r + 1 < h; ++r) {
        const std::uint8_t* row = heights + r * w;
        std::uint8_t* out = normals + 3 * r * w;
        fallbacks += static_cast<long long>(kernel(row, row + w, out, w - 1, texelsize));
        PutFlat(out + 3 * (w - 1));
    }
    std::uint8_t* last = normals + 3 * (h - 1) * w;
    for (std::size_t x = 0; x < w; ++x)
        PutFlat(last + 3 * x);
    return fallbacks;
}

void ComputeHeights(const std::uint8_t* pixels, std::uint8_t* heights, int width, int height)
{
    ComputeHeightsVariant(BestKernelVariant(), pixels, heights, width, height);
}

void ComputeNormals(const std::uint8_t* heights, std::uint8_t* normals, int width, int height,
                    float texelsize)
{
    ComputeNormalsVariant(BestKernelVariant(), heights, normals, width, height, texelsize);
}
