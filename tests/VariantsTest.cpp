// Every vector variant of ComputeNormals against the scalar one, byte for byte:
// all 256^3 height triples at each texel size, and images of awkward shapes
// in buffers of exactly their size (run under AddressSanitizer in CI).
#include <gtest/gtest.h>

#include <algorithm>
#include <cfloat>
#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <limits>
#include <random>
#include <set>
#include <sstream>
#include <string>
#include <vector>

#include "../src/normalmap/NormalMap.h"
#include "../src/normalmap/KernelDispatch.h"
#include "reference/ReferenceConvert.h"

// Variants by name in the tests' messages.
static void PrintTo(EKernelVariant variant, std::ostream* os)
{
    *os << KernelVariantName(variant);
}

namespace {

using Bytes = std::vector<std::uint8_t>;

std::vector<EKernelVariant> Variants()
{
    EKernelVariant variants[kKernelVariantCount];
    const int count = SupportedKernelVariants(variants);
    return std::vector<EKernelVariant>(variants, variants + count);
}

// A cyclic sequence of 65536 heights in which every ordered pair (c, e)
// follows once (de Bruijn, alphabet 256, order 2), with its first height
// repeated at the end so the pairs need no wrap-around.
Bytes EveryPairRow()
{
    Bytes row;
    row.reserve(65537);
    // Lyndon words of length 1 and 2 in order: (a) then (a, b) for b > a.
    for (int a = 0; a < 256; ++a) {
        row.push_back(static_cast<std::uint8_t>(a));
        for (int b = a + 1; b < 256; ++b) {
            row.push_back(static_cast<std::uint8_t>(a));
            row.push_back(static_cast<std::uint8_t>(b));
        }
    }
    row.push_back(row.front());
    return row;
}

// " sse2 avx2" and so on: the features f has.
std::string Names(const SCpuFeatures& f);

// The table as this test reads it.
const struct {
    EKernelVariant variant;
    const char* arch;
    const char* needs;
} kRows[] = {
#define QUARNEL_KERNEL(Id, Name, Arch, Needs, Exact, Heights, Gcc, Msvc) {EKernelVariant::k##Id, Arch, Needs},
#include "../src/normalmap/Kernels.def"
#undef QUARNEL_KERNEL
};

// Whether the space-separated words hold word.
bool Holds(const std::string& words, const std::string& word)
{
    return (" " + words + " ").find(" " + word + " ") != std::string::npos;
}

bool Built(EKernelVariant variant)
{
    return std::string(KernelVariantName(variant)) != "?";
}

// The variants this build has that a processor with features (as Names
// gives them) runs: those whose needs it all has.
std::vector<EKernelVariant> RunsOn(const std::string& features)
{
    std::vector<EKernelVariant> runs;
    for (const auto& row : kRows) {
        std::istringstream needs(row.needs);
        bool all = Built(row.variant);
        for (std::string need; needs >> need;)
            all = all && Holds(features, need);
        if (all)
            runs.push_back(row.variant);
    }
    return runs;
}

// Every row for this architecture is built, and no other: a misspelt
// architecture would leave a variant out without a word.
TEST(NormalsVariants, EveryRowOfThisArchitectureIsBuilt)
{
#if defined(__x86_64__) || defined(_M_X64)
    const char* arch = "x86_64";
#elif defined(__i386__) || defined(_M_IX86)
    const char* arch = "x86";
#elif defined(__aarch64__) || defined(_M_ARM64)
    const char* arch = "aarch64";
#else
    const char* arch = "";
#endif
    for (const auto& row : kRows)
        EXPECT_EQ(Built(row.variant), !*row.arch || (*arch && Holds(row.arch, arch)))
            << static_cast<int>(row.variant) << " for " << row.arch;
}

TEST(NormalsVariants, ScalarComesFirstAndEachVariantOnce)
{
    const auto variants = Variants();
    ASSERT_FALSE(variants.empty());
    EXPECT_EQ(variants.front(), EKernelVariant::kScalar);
    std::string names;
    for (std::size_t i = 0; i < variants.size(); ++i) {
        names += std::string(i ? " " : "") + KernelVariantName(variants[i]);
        if (i > 0) {
            EXPECT_LT(static_cast<int>(variants[i - 1]), static_cast<int>(variants[i]));
        }
    }
    RecordProperty("variants", names);
    std::printf("variants on this processor: %s\n", names.c_str());
    // Runs on emulated processor models name the features each has (in
    // Names' order); the dispatch must choose the fastest variant they run.
    if (const char* expected = std::getenv("QUARNEL_EXPECTED_FEATURES")) {
        const std::string features = *expected ? std::string(" ") + expected : "";
        EXPECT_EQ(Names(ReadCpuFeatures()), features);
        EXPECT_STREQ(KernelVariantName(BestKernelVariant()), KernelVariantName(RunsOn(features).back()));
    }
}

// The dispatch on every kind of processor (each set of features): each
// variant runs only where the processor has all its row in Kernels.def
// needs, the best is the fastest of those, and variants this build lacks
// drop out.
// Each variant has a normals kernel of its own: one that ran another's
// would leave every test of it testing the other.
TEST(NormalsVariants, DispatchOnEveryKindOfProcessor)
{
    for (unsigned bits = 0; bits < 64; ++bits) {
        const auto has = [bits](unsigned i) { return (bits >> i & 1) != 0; };
        const SCpuFeatures cpu = {has(0), has(1), has(2), has(3), has(4), has(5)};
        const std::vector<EKernelVariant> expected = RunsOn(Names(cpu));
        EKernelVariant got[kKernelVariantCount];
        EXPECT_EQ(std::vector<EKernelVariant>(got, got + SupportedKernelVariants(cpu, got)), expected) << Names(cpu);
        EXPECT_EQ(BestKernelVariant(cpu), expected.back()) << Names(cpu);
    }
    std::vector<NormalRowFn> kernels;
    for (int v = 0; v < kKernelVariantCount; ++v)
        if (Built(static_cast<EKernelVariant>(v)))
            kernels.push_back(NormalRowKernel(static_cast<EKernelVariant>(v)));
    EXPECT_EQ(std::set<NormalRowFn>(kernels.begin(), kernels.end()).size(), kernels.size());
}

std::string Names(const SCpuFeatures& f)
{
    std::string names;
    for (const auto& [name, on] : {std::pair{"sse2", f.sse2}, {"avx2", f.avx2}, {"fma", f.fma},
                                   {"avx512f", f.avx512f}, {"avx512bw", f.avx512bw}, {"avx512vl", f.avx512vl}})
        names += on ? std::string(" ") + name : "";
    return names;
}

// The features each processor's own answers give. Leaf 1 and leaf 7's EBX
// as published CPUID dumps of these models show them; leaf 7's ECX and EDX
// and leaf 0x80000001 built from each model's documented features (a bit
// nothing here reads may differ from a given part's dump); XCR0 as Linux
// sets it. A masked feature is a virtual machine's, as QEMU's -cpu
// Haswell,-fma gives it: each one a kernel needs, masked in turn. Each flag
// read under another's name, or not read, fails a row.
// Then the reader on this processor (and each one CI emulates) against the
// compiler's own.
TEST(NormalsVariants, FeaturesFromEachProcessorsAnswers)
{
    const bool t = true, f = false;
    const struct {
        const char* name;
        SCpuidValues cpu;       // leaf 1 ECX, EDX; leaf 7 EBX, ECX, EDX; 0x80000001 ECX; XCR0
        SCpuFeatures features;  // SSE2, AVX2, FMA, AVX-512 F, BW, VL
    } cases[] = {
        {"Westmere (Xeon X5670)", {0x029EE3FF, 0xBFEBFBFF, 0, 0, 0, 0x1, 0}, {t, f, f, f, f, f}},
        {"Sandy Bridge (Core i7-2600K): AVX, no AVX2", {0x1FBAE3FF, 0xBFEBFBFF, 0, 0, 0, 0x1, 0x7}, {t, f, f, f, f, f}},
        {"Haswell (Core i7-4770K)", {0x7FFAFBFF, 0xBFEBFBFF, 0x27AB, 0, 0, 0x21, 0x7}, {t, t, t, f, f, f}},
        {"Haswell, FMA masked", {0x7FFAEBFF, 0xBFEBFBFF, 0x27AB, 0, 0, 0x21, 0x7}, {t, t, f, f, f, f}},
        {"Haswell, system without XSAVE", {0x77FAFBFF, 0xBFEBFBFF, 0x27AB, 0, 0, 0x21, 0x7}, {t, f, f, f, f, f}},
        {"Haswell, system saving no YMM state", {0x7FFAFBFF, 0xBFEBFBFF, 0x27AB, 0, 0, 0x21, 0x3}, {t, f, f, f, f, f}},
        {"Haswell, AVX masked", {0x6FFAFBFF, 0xBFEBFBFF, 0x27AB, 0, 0, 0x21, 0x7}, {t, f, t, f, f, f}},
        {"Haswell, AVX2 masked", {0x7FFAFBFF, 0xBFEBFBFF, 0x278B, 0, 0, 0x21, 0x7}, {t, f, t, f, f, f}},
        {"Haswell, BMI1 masked", {0x7FFAFBFF, 0xBFEBFBFF, 0x27A3, 0, 0, 0x21, 0x7}, {t, f, t, f, f, f}},
        {"Haswell, BMI2 masked", {0x7FFAFBFF, 0xBFEBFBFF, 0x26AB, 0, 0, 0x21, 0x7}, {t, f, t, f, f, f}},
        {"Haswell, LZCNT masked", {0x7FFAFBFF, 0xBFEBFBFF, 0x27AB, 0, 0, 0x01, 0x7}, {t, f, t, f, f, f}},
        {"Haswell, MOVBE masked", {0x7FBAFBFF, 0xBFEBFBFF, 0x27AB, 0, 0, 0x21, 0x7}, {t, f, t, f, f, f}},
        {"Haswell, POPCNT masked", {0x7F7AFBFF, 0xBFEBFBFF, 0x27AB, 0, 0, 0x21, 0x7}, {t, f, t, f, f, f}},
        {"Skylake-X (Core i9-7900X)", {0x7FFEFBFF, 0xBFEBFBFF, 0xD39FFFFB, 0x18, 0, 0x121, 0x2FF}, {t, t, t, t, t, t}},
        {"Skylake-X, system saving no AVX-512 state", {0x7FFEFBFF, 0xBFEBFBFF, 0xD39FFFFB, 0x18, 0, 0x121, 0x7},
         {t, t, t, f, f, f}},
        {"Skylake-X, BW masked", {0x7FFEFBFF, 0xBFEBFBFF, 0x939FFFFB, 0x18, 0, 0x121, 0x2FF}, {t, t, t, t, f, t}},
        {"Skylake-X, VL masked", {0x7FFEFBFF, 0xBFEBFBFF, 0x539FFFFB, 0x18, 0, 0x121, 0x2FF}, {t, t, t, t, t, f}},
        {"Skylake-X, F masked", {0x7FFEFBFF, 0xBFEBFBFF, 0xD39EFFFB, 0x18, 0, 0x121, 0x2FF}, {t, t, t, f, t, t}},
        {"Skylake-X, CD masked", {0x7FFEFBFF, 0xBFEBFBFF, 0xC39FFFFB, 0x18, 0, 0x121, 0x2FF}, {t, t, t, f, t, t}},
        {"Knights Landing (Xeon Phi 7210): F and CD only", {0x7FF8F3BF, 0xBFEBFBFF, 0x1C0D23AB, 0x1, 0, 0x121, 0xE7},
         {t, t, t, f, f, f}},
        {"Zen 4 (Ryzen 9 7950X)", {0x7EF8320B, 0x178BFBFF, 0xF1BF97A9, 0x415FDE, 0, 0x75C237FF, 0x2E7},
         {t, t, t, t, t, t}},
        {"Zen 5 (Ryzen 9 9950X)", {0x7EF8320B, 0x178BFBFF, 0xF1BF97A9, 0x18415FDE, 0x110, 0x75C237FF, 0x2E7},
         {t, t, t, t, t, t}},
    };
    for (const auto& c : cases)
        EXPECT_EQ(Names(DecodeCpuFeatures(c.cpu)), Names(c.features)) << c.name;
#if (defined(__GNUC__) || defined(__clang__)) && (defined(__x86_64__) || defined(__i386__))
    const auto has = [](bool a, bool b, bool c) { return a && b && c; };
    const SCpuFeatures here = ReadCpuFeatures();
    EXPECT_EQ(here.sse2, __builtin_cpu_supports("sse2") != 0);
    EXPECT_EQ(here.avx2, has(__builtin_cpu_supports("avx2"), __builtin_cpu_supports("bmi2"),
                             __builtin_cpu_supports("popcnt")));
    EXPECT_EQ(here.fma, __builtin_cpu_supports("fma") != 0);
    EXPECT_EQ(here.avx512f, has(__builtin_cpu_supports("avx512f"), __builtin_cpu_supports("avx512dq"),
                                __builtin_cpu_supports("avx512cd")));
    EXPECT_EQ(here.avx512bw, __builtin_cpu_supports("avx512bw") != 0);
    EXPECT_EQ(here.avx512vl, __builtin_cpu_supports("avx512vl") != 0);
#endif
}

TEST(NormalsVariants, EveryPairRowHoldsEveryPair)
{
    const Bytes row = EveryPairRow();
    ASSERT_EQ(row.size(), 65537u);
    std::vector<bool> seen(65536, false);
    for (std::size_t x = 0; x + 1 < row.size(); ++x)
        seen[static_cast<std::size_t>(row[x]) * 256 + row[x + 1]] = true;
    for (std::size_t i = 0; i < seen.size(); ++i)
        ASSERT_TRUE(seen[i]) << "pair " << i / 256 << "," << i % 256;
}

class AllTriples : public ::testing::TestWithParam<float> {};

// 256 images of 65537 x 2: row 0 holds every (c, e), row 1 a single u, so the
// computed pixels are each of the 256^3 triples once.
TEST_P(AllTriples, EveryVariantGivesTheScalarBytes)
{
    const float s = GetParam();
    const auto variants = Variants();
    const Bytes pairs = EveryPairRow();
    const int width = static_cast<int>(pairs.size());
    Bytes heights(2 * pairs.size());
    std::memcpy(heights.data(), pairs.data(), pairs.size());
    Bytes expected(3 * heights.size()), got(3 * heights.size());
    for (int u = 0; u < 256; ++u) {
        std::memset(heights.data() + pairs.size(), u, pairs.size());
        ComputeNormalsVariant(EKernelVariant::kScalar, heights.data(), expected.data(), width, 2, s);
        for (EKernelVariant v : variants) {
            if (v == EKernelVariant::kScalar)
                continue;
            std::memset(got.data(), 0xAA, got.size());
            ComputeNormalsVariant(v, heights.data(), got.data(), width, 2, s);
            if (got == expected)
                continue;
            for (std::size_t x = 0; x + 1 < pairs.size(); ++x) {
                ASSERT_EQ(Bytes(&got[3 * x], &got[3 * x + 3]), Bytes(&expected[3 * x], &expected[3 * x + 3]))
                    << KernelVariantName(v) << " c=" << int(pairs[x]) << " e=" << int(pairs[x + 1])
                    << " u=" << u << " s=" << s;
            }
            FAIL() << KernelVariantName(v) << " differs in its flat pixels, u=" << u << " s=" << s;
        }
    }
}

INSTANTIATE_TEST_SUITE_P(TexelSizes, AllTriples,
                         ::testing::Values(1.0f, 2.0f, 0.5f, -1.0f, 0.0f, -0.0f, 0.1f, 3.7f, 1e-30f,
                                           std::numeric_limits<float>::denorm_min(), 1e30f, FLT_MAX,
                                           std::numeric_limits<float>::infinity(),
                                           -std::numeric_limits<float>::infinity(),
                                           std::numeric_limits<float>::quiet_NaN(), 1.0f / 3.0f, 0.001f, 1000.0f));

// The fast path's edges on both sides: the range of texel sizes it covers,
// the largest one at which it settles z near 255 without the exact path; the
// smallest and largest height steps; and sizes at which a few hundred
// pixels lie nearer a byte's edge than the bound without its margin allows,
// one for the AVX-512 fast path and one for the AVX2 one.
INSTANTIATE_TEST_SUITE_P(FastPathEdges, AllTriples,
                         ::testing::Values(0x1p-31f, std::nextafter(0x1p-31f, 0.0f), -0x1p-31f, 0x1p31f,
                                           std::nextafter(0x1p31f, FLT_MAX), -0x1p31f, 0x1p15f,
                                           std::nextafter(0x1p15f, FLT_MAX), 1.0f / 255.0f, 255.0f,
                                           -1.1326014e-05f, 3.37606662e-06f));

// 100 sizes log-uniform over the covered range, alternating in sign, where
// the fast paths' bound is at stake; and 50 random bit patterns, most of them
// outside it, where the exact kernels run. Run by CI as a separate step
// (CTest configuration Exhaustive): some two minutes of CPU time.
std::vector<float> ManyTexelSizes()
{
    std::vector<float> sizes;
    std::mt19937 rng(2026);
    for (int i = 0; i < 50; ++i) {
        const std::uint32_t bits = static_cast<std::uint32_t>(rng());
        float s;
        std::memcpy(&s, &bits, sizeof s);
        sizes.push_back(s);
    }
    for (int i = 0; i < 100; ++i) {
        const float s = std::exp2(-31.0f + 62.0f * (static_cast<float>(i) + 0.5f) / 100.0f);
        sizes.push_back(i % 2 ? -s : s);
    }
    return sizes;
}

INSTANTIATE_TEST_SUITE_P(ManyTexelSizes, AllTriples, ::testing::ValuesIn(ManyTexelSizes()));

// The scalar variant itself, which every other must match, against the
// independent reference: every triple at the texel size most files use,
// where -s dx is exact, and at one where it rounds; every third next-row
// height at other rounding, flat and steep sizes, and at a subnormal one,
// where every single-precision product loses bits and so a step in the wrong
// precision shows. Only a few hundred of the 16.7 million triples change
// when one step runs in the wrong precision.
class ScalarOnEveryTriple : public ::testing::TestWithParam<float> {};

TEST_P(ScalarOnEveryTriple, MatchesTheReference)
{
    const float s = GetParam();
    const Bytes pairs = EveryPairRow();
    const int width = static_cast<int>(pairs.size());
    Bytes heights(2 * pairs.size()), got(6 * pairs.size());
    std::memcpy(heights.data(), pairs.data(), pairs.size());
    for (int u = 0; u < 256; u += s == 1.0f || s == 0.7f ? 1 : 3) {
        std::memset(heights.data() + pairs.size(), u, pairs.size());
        ComputeNormalsVariant(EKernelVariant::kScalar, heights.data(), got.data(), width, 2, s);
        for (std::size_t x = 0; x + 1 < pairs.size(); ++x) {
            std::uint8_t expected[3];
            reference::NormalPixel(pairs[x], pairs[x + 1], static_cast<std::uint8_t>(u), s, expected);
            if (std::memcmp(&got[3 * x], expected, 3) != 0) {
                ASSERT_EQ(Bytes(&got[3 * x], &got[3 * x + 3]), Bytes(expected, expected + 3))
                    << "c=" << int(pairs[x]) << " e=" << int(pairs[x + 1]) << " u=" << u << " s=" << s;
            }
        }
    }
}

INSTANTIATE_TEST_SUITE_P(TexelSizes, ScalarOnEveryTriple,
                         ::testing::Values(1.0f, 0.7f, 3.7f, 0x1p-133f, 2.0f, 0.5f, -1.0f, 0.1f, 1.0f / 3.0f, 1e-5f,
                                           0.001f, 1000.0f, 1e5f));

// Widths on both sides of every vector width, so each kernel's main loop, its
// tail and the flat column meet; the heights fill a heap block of exactly
// their size, and a guard after the normals catches stray stores. Texel
// sizes 3000 and 1e6 send many pixels, in every part of a row, to the exact
// path (z near 255 on either side of the fast path's shortcut for it).
TEST(NormalsVariants, AwkwardShapesInExactBuffers)
{
    constexpr std::size_t kGuard = 64;
    std::mt19937 rng(7);
    for (EKernelVariant v : Variants()) {
        for (int width = 1; width <= 70; ++width) {
            for (int height : {1, 2, 3, 5}) {
                const std::size_t n = static_cast<std::size_t>(width) * static_cast<std::size_t>(height);
                Bytes heights(n);
                for (auto& b : heights)
                    b = static_cast<std::uint8_t>(rng() >> 24);
                for (float s : {1.0f, 0.25f, 0.0f, 3000.0f, 1e6f}) {
                    Bytes expected(3 * n), got(3 * n + kGuard, 0xAA);
                    ComputeNormalsVariant(EKernelVariant::kScalar, heights.data(), expected.data(), width,
                                          height, s);
                    ComputeNormalsVariant(v, heights.data(), got.data(), width, height, s);
                    SCOPED_TRACE(::testing::Message() << KernelVariantName(v) << " " << width << "x"
                                                      << height << " s=" << s);
                    ASSERT_EQ(Bytes(got.begin(), got.begin() + static_cast<std::ptrdiff_t>(3 * n)), expected);
                    ASSERT_EQ(Bytes(got.begin() + static_cast<std::ptrdiff_t>(3 * n), got.end()),
                              Bytes(kGuard, 0xAA));
                }
            }
        }
    }
}

// Every BGR colour once, in an image of exactly its size, through each
// variant's heights against the reference's; and short runs for the tails.
TEST(HeightsVariants, EveryColourAndEveryTail)
{
    Bytes pixels(3u << 24);
    for (std::size_t i = 0; i < (1u << 24); ++i) {
        pixels[3 * i] = static_cast<std::uint8_t>(i);
        pixels[3 * i + 1] = static_cast<std::uint8_t>(i >> 8);
        pixels[3 * i + 2] = static_cast<std::uint8_t>(i >> 16);
    }
    const Bytes expected = reference::Heights(pixels, 4096, 4096);
    for (EKernelVariant v : Variants()) {
        Bytes heights(1u << 24);
        ComputeHeightsVariant(v, pixels.data(), heights.data(), 4096, 4096);
        const auto at = std::mismatch(heights.begin(), heights.end(), expected.begin()).first - heights.begin();
        ASSERT_EQ(at, 1 << 24) << KernelVariantName(v) << " at BGR colour 0x" << std::hex << at;
        for (int width = 1; width <= 40; ++width) {
            const Bytes some(pixels.begin() + 3 * 977, pixels.begin() + 3 * (977 + width));
            Bytes got(static_cast<std::size_t>(width));
            ComputeHeightsVariant(v, some.data(), got.data(), width, 1);
            ASSERT_EQ(got, Bytes(expected.begin() + 977, expected.begin() + 977 + width))
                << KernelVariantName(v) << " width " << width;
        }
    }
}

// The entry the job calls runs one of the variants and so gives their bytes.
TEST(NormalsVariants, ComputeNormalsGivesTheScalarBytes)
{
    constexpr int kWidth = 301, kHeight = 7;
    std::mt19937 rng(11);
    Bytes heights(kWidth * kHeight);
    for (auto& b : heights)
        b = static_cast<std::uint8_t>(rng() >> 24);
    Bytes expected(3 * heights.size()), got(3 * heights.size());
    ComputeNormalsVariant(EKernelVariant::kScalar, heights.data(), expected.data(), kWidth, kHeight, 0.7f);
    ComputeNormals(heights.data(), got.data(), kWidth, kHeight, 0.7f);
    EXPECT_EQ(got, expected);
}

}  // namespace
