// The arithmetic core on tiny inputs whose bytes are known by hand.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <limits>
#include <vector>

#include "../src/normalmap/NormalMap.h"

namespace {

using Bytes = std::vector<std::uint8_t>;

// The single computed pixel of a 2 x 2 image with heights c, e (right) and u (next row).
Bytes OnePixel(std::uint8_t c, std::uint8_t e, std::uint8_t u, float texelsize)
{
    const Bytes heights = {c, e, u, 0};
    Bytes normals(12, 0xAA);
    ComputeNormals(heights.data(), normals.data(), 2, 2, texelsize);
    return Bytes(normals.begin(), normals.begin() + 3);
}

struct SPixelCase {
    std::uint8_t c, e, u;
    float texelsize;
    Bytes expected;
};

constexpr float kInf = std::numeric_limits<float>::infinity();
constexpr float kNaN = std::numeric_limits<float>::quiet_NaN();

TEST(ComputeNormals, KnownPixels)
{
    const std::vector<SPixelCase> cases = {
        {0, 255, 0, 1.0f, {217, 128, 38}},
        {0, 0, 255, 1.0f, {217, 38, 128}},
        {255, 0, 255, 1.0f, {217, 128, 217}},
        {0, 255, 0, 2.0f, {241, 128, 71}},
        {0, 255, 0, 0.5f, {184, 128, 14}},
        {0, 255, 0, -1.0f, {217, 128, 217}},
        {0, 0, 255, -1.0f, {217, 217, 128}},
        // n = (-1, -1, 1) / sqrt(3): 128 -+ 73.3 truncates to 54 and 201; rounding would give 55.
        {0, 255, 255, 1.0f, {201, 54, 54}},
        // Flat neighbourhoods are flat for any finite nonzero texel size.
        {0, 0, 0, 1.0f, {255, 128, 128}},
        {77, 77, 77, 1e-30f, {255, 128, 128}},
        {200, 200, 200, 3e38f, {255, 128, 128}},
        {13, 13, 13, -7.0f, {255, 128, 128}},
        {1, 1, 1, std::numeric_limits<float>::denorm_min(), {255, 128, 128}},
        // A tiny texel size makes every slope nearly vertical; a huge one flattens it.
        {0, 255, 0, 1e-30f, {128, 128, 1}},
        {0, 255, 0, 1e30f, {255, 128, 128}},
        // No length, or no finite length: every byte of a computed pixel is 0.
        {0, 255, 0, 0.0f, {0, 0, 0}},
        {0, 255, 0, -0.0f, {0, 0, 0}},
        {9, 9, 9, 0.0f, {0, 0, 0}},
        {0, 255, 0, kInf, {0, 0, 0}},
        {0, 255, 0, -kInf, {0, 0, 0}},
        {9, 9, 9, kInf, {0, 0, 0}},
        {0, 255, 0, kNaN, {0, 0, 0}},
        {9, 9, 9, kNaN, {0, 0, 0}},
    };
    for (const auto& t : cases) {
        SCOPED_TRACE(::testing::Message() << "c=" << int(t.c) << " e=" << int(t.e)
                                          << " u=" << int(t.u) << " s=" << t.texelsize);
        EXPECT_EQ(OnePixel(t.c, t.e, t.u, t.texelsize), t.expected);
    }
}

// Which pixels are computed: every pixel but the last column and the last
// row. Each computed pixel sees a full-range step to the right and is not
// flat at texel size 1; at 0 it has no length and is 0, 0, 0.
TEST(ComputeNormals, BorderPixelsAreFlatAndOthersComputed)
{
    const std::pair<int, int> shapes[] = {{1, 1}, {1, 5}, {5, 1}, {2, 2}, {3, 3}, {6, 5}, {17, 3}};
    for (const auto& [width, height] : shapes) {
        const std::size_t n = static_cast<std::size_t>(width * height);
        Bytes heights(n);
        for (std::size_t i = 0; i < n; ++i)
            heights[i] = (i % static_cast<std::size_t>(width)) % 2 == 0 ? 0 : 255;
        for (const float s : {1.0f, 0.0f}) {
            Bytes normals(3 * n, 0xAA);
            ComputeNormals(heights.data(), normals.data(), width, height, s);
            for (int r = 0; r < height; ++r) {
                for (int x = 0; x < width; ++x) {
                    const std::uint8_t* p = &normals[3 * static_cast<std::size_t>(r * width + x)];
                    SCOPED_TRACE(::testing::Message() << width << "x" << height << " x=" << x << " r=" << r
                                                      << " s=" << s);
                    if (x == width - 1 || r == height - 1)
                        EXPECT_EQ(Bytes(p, p + 3), (Bytes{255, 128, 128}));
                    else if (s == 0.0f)
                        EXPECT_EQ(Bytes(p, p + 3), (Bytes{0, 0, 0}));
                    else
                        EXPECT_EQ(Bytes(p, p + 3), (x % 2 == 0 ? Bytes{217, 128, 38} : Bytes{217, 128, 217}));
                }
            }
        }
    }
}

// The weights by hand, and every grey its own height.
TEST(ComputeHeights, LuminanceWeights)
{
    struct SCase {
        Bytes bgr;
        std::uint8_t height;
    };
    std::vector<SCase> cases = {
        {{0, 0, 0}, 0},     {{255, 255, 255}, 255}, {{0, 0, 255}, 75},  {{0, 255, 0}, 149},
        {{255, 0, 0}, 29},  {{10, 20, 30}, 21},     {{1, 2, 3}, 2},     {{255, 255, 0}, 179},
    };
    for (int v = 0; v < 256; ++v)
        cases.push_back({Bytes(3, static_cast<std::uint8_t>(v)), static_cast<std::uint8_t>(v)});
    for (const auto& t : cases) {
        std::uint8_t h = 0xAA;
        ComputeHeights(t.bgr.data(), &h, 1, 1);
        EXPECT_EQ(h, t.height) << int(t.bgr[0]) << "," << int(t.bgr[1]) << "," << int(t.bgr[2]);
    }
}

}  // namespace
