// Whole files against the independent reference. Large images matter: only a
// few hundred of the 16.7 million height triples change when one step runs in
// the wrong precision, so small images would not notice.
#include <gtest/gtest.h>

#include <cstdint>
#include <cstring>
#include <random>
#include <string>
#include <vector>

#include "../src/normalmap/NormalMap.h"
#include "TestSupport.h"
#include "reference/ReferenceConvert.h"

namespace {

using namespace testsupport;

// Grey pixels: the heights are the pixel values, spread evenly over all triples.
Bytes GreyTga(int width, int height, std::uint32_t seed)
{
    std::mt19937 rng(seed);
    Bytes pixels;
    pixels.reserve(3 * static_cast<std::size_t>(width) * static_cast<std::size_t>(height));
    for (int i = 0; i < width * height; ++i)
        pixels.insert(pixels.end(), 3, static_cast<std::uint8_t>(rng() >> 24));
    STgaFields fields;
    fields.width = width;
    fields.height = height;
    return TgaFile(fields, {}, pixels);
}

TEST(Reference, LargeImagesMatchByteForByte)
{
    TempDir tmp;
    const std::string src = tmp.Path("src.tga"), dst = tmp.Path("dst.tga");
    struct SCase {
        const char* kind;
        Bytes source;
    };
    const std::vector<SCase> images = {{"grey 2048x2048", GreyTga(2048, 2048, 21)},
                                       {"colour 1536x1031", RandomTga(1536, 1031, 22)}};
    for (const auto& image : images) {
        WriteFile(src, image.source);
        for (float s : {1.0f, 2.0f, 0.5f, -1.0f, 1.0f / 3.0f, 0.001f, 1000.0f}) {
            SCOPED_TRACE(::testing::Message() << image.kind << " texelsize " << s);
            EXPECT_EQ(RunJobs({Job(src, dst, s)}), std::vector<std::string>{});
            const Bytes out = ReadFile(dst);
            const Bytes expected = reference::ConvertFile(image.source, s);
            ASSERT_EQ(out.size(), expected.size());
            std::size_t differing = 0;
            for (std::size_t i = 0; i < out.size(); ++i)
                differing += out[i] != expected[i];
            EXPECT_EQ(differing, 0u);
        }
    }
}

// Every height triple once for two texel sizes, straight through ComputeNormals.
// In image (c, u) the first row is c 0 c 1 ... c 255 c and the second all u,
// so its even pixels are the triples (c, e, u) for every e.
TEST(Reference, EveryHeightTriple)
{
    constexpr int kWidth = 513;
    Bytes heights(2 * kWidth), got(3 * heights.size());
    for (float s : {1.0f, 0.7f}) {
        std::size_t differing = 0;
        for (int c = 0; c < 256; ++c) {
            for (int i = 0; i < kWidth; ++i)
                heights[static_cast<std::size_t>(i)] = static_cast<std::uint8_t>(i % 2 ? i / 2 : c);
            for (int u = 0; u < 256; ++u) {
                std::memset(heights.data() + kWidth, u, kWidth);
                ComputeNormals(heights.data(), got.data(), kWidth, 2, s);
                for (int e = 0; e < 256; ++e) {
                    std::uint8_t expected[3];
                    reference::NormalPixel(static_cast<std::uint8_t>(c), static_cast<std::uint8_t>(e),
                                           static_cast<std::uint8_t>(u), s, expected);
                    differing += std::memcmp(&got[6 * static_cast<std::size_t>(e)], expected, 3) != 0;
                }
            }
        }
        EXPECT_EQ(differing, 0u) << "texelsize " << s;
    }
}

}  // namespace
