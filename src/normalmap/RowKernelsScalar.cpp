// The scalar kernels: the arithmetic of NormalPixel.h, one pixel at a time.
// Built with the baseline flags; the vector kernels' fallbacks call these.
#include "NormalPixel.h"
#include "RowKernels.h"

void HeightsRowScalar(const std::uint8_t* pixels, std::uint8_t* heights, std::size_t count)
{
    HeightsRun(pixels, heights, count);
}

std::size_t NormalRowScalar(const std::uint8_t* row, const std::uint8_t* next, std::uint8_t* out,
                            std::size_t count, float texelsize)
{
    PutNormalRun(row, next, out, count, texelsize);
    return 0;
}
