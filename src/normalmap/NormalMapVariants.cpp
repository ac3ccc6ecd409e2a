#include "NormalMapVariants.h"

#include <cstddef>

#include "CpuFeatures.h"
#include "NormalRows.h"

const char* NormalsVariantName(ENormalsVariant variant)
{
    switch (variant) {
    case ENormalsVariant::kScalar:
        return "scalar";
    case ENormalsVariant::kSse2:
        return "sse2";
    case ENormalsVariant::kAvx2:
        return "avx2";
    case ENormalsVariant::kAvx2Fma:
        return "avx2-fma";
    case ENormalsVariant::kAvx512:
        return "avx512";
    case ENormalsVariant::kAvx512Fast:
        return "avx512-fast";
    }
    return "?";
}

int SupportedNormalsVariants(ENormalsVariant (&variants)[kNormalsVariantCount])
{
    int count = 0;
    variants[count++] = ENormalsVariant::kScalar;
#ifdef QUARNEL_NORMALS_SSE2
    if (CpuHasSse2())
        variants[count++] = ENormalsVariant::kSse2;
#endif
#ifdef QUARNEL_NORMALS_AVX2
    if (CpuHasAvx2())
        variants[count++] = ENormalsVariant::kAvx2;
#endif
#ifdef QUARNEL_NORMALS_AVX2FMA
    if (CpuHasAvx2() && CpuHasFma())
        variants[count++] = ENormalsVariant::kAvx2Fma;
#endif
#ifdef QUARNEL_NORMALS_AVX512
    if (CpuHasAvx512()) {
        variants[count++] = ENormalsVariant::kAvx512;
        variants[count++] = ENormalsVariant::kAvx512Fast;
    }
#endif
    return count;
}

ENormalsVariant BestNormalsVariant()
{
    ENormalsVariant variants[kNormalsVariantCount];
    return variants[SupportedNormalsVariants(variants) - 1];
}

NormalRowFn NormalRowKernel(ENormalsVariant variant)
{
    switch (variant) {
#ifdef QUARNEL_NORMALS_SSE2
    case ENormalsVariant::kSse2:
        return NormalRowSse2;
#endif
#ifdef QUARNEL_NORMALS_AVX2
    case ENormalsVariant::kAvx2:
        return NormalRowAvx2;
#endif
#ifdef QUARNEL_NORMALS_AVX2FMA
    case ENormalsVariant::kAvx2Fma:
        return NormalRowAvx2Fma;
#endif
#ifdef QUARNEL_NORMALS_AVX512
    case ENormalsVariant::kAvx512:
        return NormalRowAvx512;
    case ENormalsVariant::kAvx512Fast:
        return NormalRowAvx512Fast;
#endif
    default:
        return NormalRowScalar;
    }
}

HeightsRowFn HeightsRowKernel(ENormalsVariant variant)
{
#ifdef QUARNEL_NORMALS_AVX2
    if (variant == ENormalsVariant::kAvx2 || variant == ENormalsVariant::kAvx2Fma ||
        variant == ENormalsVariant::kAvx512 || variant == ENormalsVariant::kAvx512Fast)
        return HeightsRowAvx2;
#endif
    static_cast<void>(variant);
    return HeightsRowScalar;
}

namespace {

// A counting row kernel, or null for the variants without a fast path.
using CountedRowFn = std::size_t (*)(const std::uint8_t* row, const std::uint8_t* next, std::uint8_t* out,
                                     std::size_t count, float texelsize);

CountedRowFn CountedRowKernel(ENormalsVariant variant)
{
    switch (variant) {
#ifdef QUARNEL_NORMALS_AVX2FMA
    case ENormalsVariant::kAvx2Fma:
        return NormalRowAvx2FmaCounted;
#endif
#ifdef QUARNEL_NORMALS_AVX512
    case ENormalsVariant::kAvx512Fast:
        return NormalRowAvx512FastCounted;
#endif
    default:
        return nullptr;
    }
}

}  // namespace

long long ComputeNormalsCountingFallbacks(ENormalsVariant variant, const std::uint8_t* heights,
                                          std::uint8_t* normals, int width, int height, float texelsize)
{
    const CountedRowFn counted = CountedRowKernel(variant);
    ComputeNormalsVariant(variant, heights, normals, width, height, texelsize);
    if (counted == nullptr)
        return 0;
    // The counting kernel writes the same bytes again, row by row.
    const std::size_t w = static_cast<std::size_t>(width);
    long long fallbacks = 0;
    for (std::size_t r = 0; r + 1 < static_cast<std::size_t>(height); ++r)
        fallbacks += static_cast<long long>(counted(heights + r * w, heights + (r + 1) * w, normals + 3 * r * w,
                                                    w - 1, texelsize));
    return fallbacks;
}
