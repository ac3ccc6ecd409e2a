#include "KernelDispatch.h"

#include "CpuFeatures.h"

// Every variant from AVX2 up computes heights with the AVX2 kernel: every
// processor with AVX-512 has AVX2.
#if (defined(QUARNEL_KERNELS_AVX2FMA) || defined(QUARNEL_KERNELS_AVX512)) && !defined(QUARNEL_KERNELS_AVX2)
#error "the AVX2 fast path and the AVX-512 kernels need the AVX2 kernels"
#endif

namespace {

struct SVariant {
    EKernelVariant variant;
    const char* name;
    bool (*runs)();  // whether this processor runs it
    HeightsRowFn heights;
    NormalRowFn normals;
};

bool Always()
{
    return true;
}

#ifdef QUARNEL_KERNELS_AVX2FMA
bool HasAvx2AndFma()
{
    return CpuHasAvx2() && CpuHasFma();
}
#endif

// The variants this build has, slowest first.
constexpr SVariant kVariants[] = {
    {EKernelVariant::kScalar, "scalar", Always, HeightsRowScalar, NormalRowScalar},
#ifdef QUARNEL_KERNELS_SSE2
    {EKernelVariant::kSse2, "sse2", CpuHasSse2, HeightsRowScalar, NormalRowSse2},
#endif
#ifdef QUARNEL_KERNELS_AVX2
    {EKernelVariant::kAvx2, "avx2", CpuHasAvx2, HeightsRowAvx2, NormalRowAvx2},
#endif
#ifdef QUARNEL_KERNELS_AVX2FMA
    {EKernelVariant::kAvx2Fma, "avx2-fma", HasAvx2AndFma, HeightsRowAvx2, NormalRowAvx2Fma},
#endif
#ifdef QUARNEL_KERNELS_AVX512
    {EKernelVariant::kAvx512, "avx512", CpuHasAvx512, HeightsRowAvx2, NormalRowAvx512},
    {EKernelVariant::kAvx512Fast, "avx512-fast", CpuHasAvx512, HeightsRowAvx2, NormalRowAvx512Fast},
#endif
#ifdef QUARNEL_KERNELS_NEON
    // Part of every AArch64 processor: nothing to ask.
    {EKernelVariant::kNeon, "neon", Always, HeightsRowNeon, NormalRowNeon},
    {EKernelVariant::kNeonFast, "neon-fast", Always, HeightsRowNeon, NormalRowNeonFast},
#endif
};

static_assert(sizeof kVariants / sizeof kVariants[0] <= kKernelVariantCount, "kKernelVariantCount too small");

// The row of variant; the scalar one where this build lacks it.
const SVariant& Find(EKernelVariant variant)
{
    for (const SVariant& v : kVariants) {
        if (v.variant == variant)
            return v;
    }
    return kVariants[0];
}

}  // namespace

const char* KernelVariantName(EKernelVariant variant)
{
    const SVariant& v = Find(variant);
    return v.variant == variant ? v.name : "?";
}

int SupportedKernelVariants(EKernelVariant (&variants)[kKernelVariantCount])
{
    int count = 0;
    for (const SVariant& v : kVariants) {
        if (v.runs())
            variants[count++] = v.variant;
    }
    return count;
}

EKernelVariant BestKernelVariant()
{
    EKernelVariant variants[kKernelVariantCount];
    return variants[SupportedKernelVariants(variants) - 1];
}

HeightsRowFn HeightsRowKernel(EKernelVariant variant)
{
    return Find(variant).heights;
}

NormalRowFn NormalRowKernel(EKernelVariant variant)
{
    return Find(variant).normals;
}
