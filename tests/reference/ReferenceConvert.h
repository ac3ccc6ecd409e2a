// Independent, deliberately plain re-derivation of the height-to-normal
// conversion, used by tests to check the library byte for byte.
#ifndef QUARNEL_TESTS_REFERENCE_CONVERT_H
#define QUARNEL_TESTS_REFERENCE_CONVERT_H

#include <cstdint>
#include <vector>

namespace reference {

// Heights: one byte per pixel from BGR pixels.
std::vector<uint8_t> Heights(const std::vector<uint8_t>& bgr, int width, int height);

// Encoded normals (3 bytes per pixel) from heights.
std::vector<uint8_t> Normals(const std::vector<uint8_t>& heights, int width, int height,
                             float texelsize);

// One encoded pixel from three heights c (self), e (right neighbour), u (next-row neighbour).
void NormalPixel(uint8_t c, uint8_t e, uint8_t u, float texelsize, uint8_t out[3]);

// Whole destination file for a valid source file's bytes (header already checked:
// 24-bit, type 2, descriptor 0, positive dimensions, enough pixel data).
std::vector<uint8_t> ConvertFile(const std::vector<uint8_t>& source, float texelsize);

}  // namespace reference

#endif  // QUARNEL_TESTS_REFERENCE_CONVERT_H
