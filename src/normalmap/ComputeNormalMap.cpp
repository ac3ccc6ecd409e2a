#include <cstddef>

#include "NormalMap.h"
#include "NormalMapVariants.h"
#include "NormalPixel.h"
#include "NormalRows.h"

// Row r of normals takes the place of row r of pixels, whose heights were
// taken one step earlier; row r + 1 of pixels is still intact when its
// heights are taken. So the image needs one buffer, already touched by the
// read, instead of three fresh ones.
void ComputeNormalMapVariant(ENormalsVariant variant, std::uint8_t* pixels, std::uint8_t* scratch, int width,
                             int height, float texelsize)
{
    const NormalRowFn kernel = NormalRowKernel(variant);
    const HeightsRowFn heightsKernel = HeightsRowKernel(variant);
    const std::size_t w = static_cast<std::size_t>(width);
    const std::size_t h = static_cast<std::size_t>(height);
    std::uint8_t* heights = scratch;
    std::uint8_t* nextHeights = scratch + w;
    heightsKernel(pixels, heights, w);
    for (std::size_t r = 0; r + 1 < h; ++r) {
        std::uint8_t* out = pixels + 3 * r * w;
        heightsKernel(out + 3 * w, nextHeights, w);
        kernel(heights, nextHeights, out, w - 1, texelsize);
        PutFlat(out + 3 * (w - 1));
        std::uint8_t* done = heights;
        heights = nextHeights;
        nextHeights = done;
    }
    std::uint8_t* last = pixels + 3 * (h - 1) * w;
    for (std::size_t x = 0; x < w; ++x)
        PutFlat(last + 3 * x);
}

void ComputeNormalMap(std::uint8_t* pixels, std::uint8_t* scratch, int width, int height, float texelsize)
{
    ComputeNormalMapVariant(BestNormalsVariant(), pixels, scratch, width, height, texelsize);
}
