#include "NormalMap.h"

#include <cstddef>

void ComputeHeights(const std::uint8_t* pixels, std::uint8_t* heights, int width, int height)
{
    const std::size_t n = static_cast<std::size_t>(width) * static_cast<std::size_t>(height);
    for (std::size_t i = 0; i < n; ++i) {
        const unsigned b = pixels[3 * i];
        const unsigned g = pixels[3 * i + 1];
        const unsigned r = pixels[3 * i + 2];
        // The weights sum to 256, so white stays 255 and the shift never overflows a byte.
        heights[i] = static_cast<std::uint8_t>((30 * b + 150 * g + 76 * r) >> 8);
    }
}
