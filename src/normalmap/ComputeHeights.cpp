#include <cstddef>

#include "NormalMap.h"
#include "NormalMapVariants.h"
#include "NormalPixel.h"
#include "NormalRows.h"

void HeightsRowScalar(const std::uint8_t* pixels, std::uint8_t* heights, std::size_t count)
{
    HeightsRun(pixels, heights, count);
}

void ComputeHeightsVariant(ENormalsVariant variant, const std::uint8_t* pixels, std::uint8_t* heights, int width,
                           int height)
{
    const std::size_t n = static_cast<std::size_t>(width) * static_cast<std::size_t>(height);
    HeightsRowKernel(variant)(pixels, heights, n);
}

void ComputeHeights(const std::uint8_t* pixels, std::uint8_t* heights, int width, int height)
{
    ComputeHeightsVariant(BestNormalsVariant(), pixels, heights, width, height);
}
