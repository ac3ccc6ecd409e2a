// The arithmetic core on tiny inputs whose bytes are known by hand.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <limits>
#include <vector>

#include "../src/normalmap/NormalMap.h"
#include "reference/ReferenceConvert.h"

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

// A sweep of height triples and step sizes against the independent reference,
// so a precision slip in any step shows.
TEST(ComputeNormals, MatchesReferenceOnEveryStepSize)
{
    for (float s : {1.0f, 2.0f, 0.5f, -1.0f, 0.1f, 3.7f, 1e-5f, 1e5f}) {
        for (int c = 0; c < 256; c += 5) {
            for (int e = 0; e < 256; e += 3) {
                std::uint8_t expected[3];
                const auto cu = static_cast<std::uint8_t>(c);
                const auto eu = static_cast<std::uint8_t>(e);
                const auto uu = static_cast<std::uint8_t>(255 - e);
                reference::NormalPixel(cu, eu, uu, s, expected);
                ASSERT_EQ(OnePixel(cu, eu, uu, s), Bytes(expected, expected + 3))
                    << "c=" << c << " e=" << e << " s=" << s;
            }
        }
    }
}

TEST(ComputeNormals, TruncatesTowardZero)
{
    // c=0, e=u=255 at s=1: n = (-1, -1, 1)/sqrt(3) -> 128 - 73.3 = 54.67 -> 54,
    // and z 128 + 73.3 = 201.3 -> 201. Rounding would give 55 and 201.
    EXPECT_EQ(OnePixel(0, 255, 255, 1.0f), (Bytes{201, 54, 54}));
}

struct SShapeCase {
    int width, height;
};

// Which pixels are computed: every pixel but the last column and the last row.
TEST(ComputeNormals, BorderPixelsAreFlatAndOthersComputed)
{
    const std::vector<SShapeCase> shapes = {{1, 1}, {1, 5}, {5, 1}, {2, 2}, {3, 3}, {6, 5}, {17, 3}};
    for (const auto& shape : shapes) {
        const std::size_t n = static_cast<std::size_t>(shape.width * shape.height);
        // Every computed pixel sees a full-range step to the right and is not flat.
        Bytes heights(n);
        for (std::size_t i = 0; i < n; ++i)
            heights[i] = (i % static_cast<std::size_t>(shape.width)) % 2 == 0 ? 0 : 255;
        Bytes normals(3 * n, 0xAA);
        ComputeNormals(heights.data(), normals.data(), shape.width, shape.height, 1.0f);
        for (int r = 0; r < shape.height; ++r) {
            for (int x = 0; x < shape.width; ++x) {
                const std::uint8_t* p = &normals[3 * static_cast<std::size_t>(r * shape.width + x)];
                const bool flat = x == shape.width - 1 || r == shape.height - 1;
                const Bytes got(p, p + 3);
                SCOPED_TRACE(::testing::Message() << shape.width << "x" << shape.height << " x=" << x
                                                  << " r=" << r);
                if (flat)
                    EXPECT_EQ(got, (Bytes{255, 128, 128}));
                else
                    EXPECT_EQ(got, (x % 2 == 0 ? Bytes{217, 128, 38} : Bytes{217, 128, 217}));
            }
        }
    }
}

TEST(ComputeNormals, ZeroTexelSizeOnThreeByThree)
{
    const Bytes heights = {1, 2, 3, 4, 5, 6, 7, 8, 9};
    Bytes normals(27, 0xAA);
    ComputeNormals(heights.data(), normals.data(), 3, 3, 0.0f);
    const Bytes zero = {0, 0, 0}, flat = {255, 128, 128};
    const std::vector<Bytes> expected = {zero, zero, flat, zero, zero, flat, flat, flat, flat};
    for (std::size_t i = 0; i < 9; ++i)
        EXPECT_EQ(Bytes(&normals[3 * i], &normals[3 * i + 3]), expected[i]) << "pixel " << i;
}

TEST(ComputeHeights, LuminanceWeights)
{
    struct SCase {
        Bytes bgr;
        std::uint8_t height;
    };
    const std::vector<SCase> cases = {
        {{0, 0, 0}, 0},     {{255, 255, 255}, 255}, {{0, 0, 255}, 75},  {{0, 255, 0}, 149},
        {{255, 0, 0}, 29},  {{10, 20, 30}, 21},     {{1, 2, 3}, 2},     {{255, 255, 0}, 179},
    };
    for (const auto& t : cases) {
        std::uint8_t h = 0xAA;
        ComputeHeights(t.bgr.data(), &h, 1, 1);
        EXPECT_EQ(h, t.height) << int(t.bgr[0]) << "," << int(t.bgr[1]) << "," << int(t.bgr[2]);
    }
}

TEST(ComputeHeights, GreyIsItsOwnHeight)
{
    Bytes pixels, heights(256);
    for (int v = 0; v < 256; ++v)
        pixels.insert(pixels.end(), 3, static_cast<std::uint8_t>(v));
    ComputeHeights(pixels.data(), heights.data(), 16, 16);
    for (int v = 0; v < 256; ++v)
        EXPECT_EQ(heights[static_cast<std::size_t>(v)], v);
}

}  // namespace
