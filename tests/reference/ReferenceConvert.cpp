#include "ReferenceConvert.h"

#include <cmath>
#include <cstddef>
#include <cstring>
#include <stdexcept>

namespace reference {
namespace {

constexpr std::size_t kHeaderSize = 18;

// Nearest float to 1/255, pinned by bit pattern so no decimal literal can drift.
float InverseOf255() {
    const uint32_t bits = 0x3B808081u;
    float k = 0.0f;
    std::memcpy(&k, &bits, sizeof k);
    return k;
}

// NaN would be undefined behaviour in the integer conversion; it encodes as 0.
uint8_t EncodeComponent(double component, double k) {
    const double scaled = component * k;
    const double stretched = scaled * 127.0;
    const double shifted = stretched + 128.0;
    if (std::isnan(shifted)) {
        return 0;
    }
    return static_cast<uint8_t>(static_cast<int>(shifted));
}

unsigned U8(const std::vector<uint8_t>& bytes, std::size_t at) { return bytes.at(at); }

unsigned U16(const std::vector<uint8_t>& bytes, std::size_t at) {
    return U8(bytes, at) | (U8(bytes, at + 1) << 8);
}

int I16(const std::vector<uint8_t>& bytes, std::size_t at) {
    return static_cast<int16_t>(static_cast<uint16_t>(U16(bytes, at)));
}

}  // namespace

std::vector<uint8_t> Heights(const std::vector<uint8_t>& bgr, int width, int height) {
    std::vector<uint8_t> out;
    for (int y = 0; y < height; ++y) {
        for (int x = 0; x < width; ++x) {
            const std::size_t i = static_cast<std::size_t>(y) * static_cast<std::size_t>(width) +
                                  static_cast<std::size_t>(x);
            const int blue = bgr.at(3 * i);
            const int green = bgr.at(3 * i + 1);
            const int red = bgr.at(3 * i + 2);
            out.push_back(static_cast<uint8_t>((30 * blue + 150 * green + 76 * red) >> 8));
        }
    }
    return out;
}

void NormalPixel(uint8_t c, uint8_t e, uint8_t u, float texelsize, uint8_t out[3]) {
    const float k255 = InverseOf255();
    const float cs = static_cast<float>(c) * k255;
    const float es = static_cast<float>(e) * k255;
    const float us = static_cast<float>(u) * k255;
    const float dx = es - cs;
    const float dy = us - cs;
    const float nx = -texelsize * dx;
    const float ny = -texelsize * dy;
    // nz deliberately stays in double precision.
    const double nz = static_cast<double>(texelsize) * static_cast<double>(texelsize);
    const double nzz = nz * nz;
    const double nyy = static_cast<double>(ny) * static_cast<double>(ny);
    const double nxx = static_cast<double>(nx) * static_cast<double>(nx);
    const double partial = nzz + nyy;
    const double q = partial + nxx;
    const double k = 1.0 / std::sqrt(q);
    out[0] = EncodeComponent(nz, k);
    out[1] = EncodeComponent(static_cast<double>(ny), k);
    out[2] = EncodeComponent(static_cast<double>(nx), k);
}

std::vector<uint8_t> Normals(const std::vector<uint8_t>& heights, int width, int height,
                             float texelsize) {
    const std::size_t w = static_cast<std::size_t>(width);
    std::vector<uint8_t> out;
    for (int r = 0; r < height; ++r) {
        for (int x = 0; x < width; ++x) {
            uint8_t pixel[3] = {255, 128, 128};  // flat: no right or lower neighbour
            if (x < width - 1 && r < height - 1) {
                const std::size_t at = static_cast<std::size_t>(r) * w + static_cast<std::size_t>(x);
                NormalPixel(heights.at(at), heights.at(at + 1), heights.at(at + w), texelsize,
                            pixel);
            }
            out.insert(out.end(), pixel, pixel + 3);
        }
    }
    return out;
}

std::vector<uint8_t> ConvertFile(const std::vector<uint8_t>& source, float texelsize) {
    const std::size_t idlen = U8(source, 0);
    const unsigned cmaptype = U8(source, 1);
    const std::size_t cmaplen = U16(source, 5);
    const std::size_t cmapbytes = (U8(source, 7) + 7u) / 8u;
    const int width = I16(source, 12);
    const int height = I16(source, 14);

    const std::size_t colourmap = cmaptype == 1 ? cmaplen * cmapbytes : 0;
    const std::size_t pixelsAt = kHeaderSize + idlen + colourmap;
    const std::size_t pixelBytes =
        static_cast<std::size_t>(width) * static_cast<std::size_t>(height) * 3u;
    // A short file is a broken test fixture; fail loudly rather than read past the end.
    if (source.size() < pixelsAt + pixelBytes) {
        throw std::out_of_range("reference::ConvertFile: source shorter than its header claims");
    }

    const std::vector<uint8_t> bgr(source.begin() + static_cast<std::ptrdiff_t>(pixelsAt),
                                   source.begin() + static_cast<std::ptrdiff_t>(pixelsAt + pixelBytes));
    const std::vector<uint8_t> normals = Normals(Heights(bgr, width, height), width, height, texelsize);

    // Header, ID and colour map are copied verbatim; trailing bytes are dropped.
    std::vector<uint8_t> out(source.begin(), source.begin() + static_cast<std::ptrdiff_t>(pixelsAt));
    out.insert(out.end(), normals.begin(), normals.end());
    return out;
}

}  // namespace reference
