#include "NormalMapVariants.h"

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
    case ENormalsVariant::kAvx512:
        return "avx512";
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
#ifdef QUARNEL_NORMALS_AVX512
    if (CpuHasAvx512())
        variants[count++] = ENormalsVariant::kAvx512;
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
#ifdef QUARNEL_NORMALS_AVX512
    case ENormalsVariant::kAvx512:
        return NormalRowAvx512;
#endif
    default:
        return NormalRowScalar;
    }
}

HeightsRowFn HeightsRowKernel(ENormalsVariant variant)
{
#ifdef QUARNEL_NORMALS_AVX2
    if (variant == ENormalsVariant::kAvx2 || variant == ENormalsVariant::kAvx512)
        return HeightsRowAvx2;
#endif
    static_cast<void>(variant);
    return HeightsRowScalar;
}
