#include "KernelDispatch.h"

// Every variant from AVX2 up computes heights with the AVX2 kernel: every
// processor with AVX-512 has AVX2.
#if (defined(QUARNEL_KERNELS_AVX2FMA) || defined(QUARNEL_KERNELS_AVX512)) && !defined(QUARNEL_KERNELS_AVX2)
#error "the AVX2 fast path and the AVX-512 kernels need the AVX2 kernels"
#endif

namespace {

struct SVariant {
    EKernelVariant variant;
    const char* name;
    bool (*runs)(const SCpuFeatures& cpu);  // whether a processor with cpu runs it
    HeightsRowFn heights;
    NormalRowFn normals;
};

bool Always(const SCpuFeatures&)
{
    return true;
}

#ifdef QUARNEL_KERNELS_SSE2
bool HasSse2(const SCpuFeatures& cpu)
{
    return cpu.sse2;
}
#endif

#ifdef QUARNEL_KERNELS_AVX2
bool HasAvx2(const SCpuFeatures& cpu)
{
    return cpu.avx2;
}
#endif

#ifdef QUARNEL_KERNELS_AVX2FMA
bool HasAvx2AndFma(const SCpuFeatures& cpu)
{
    return cpu.avx2 && cpu.fma;
}
#endif

#ifdef QUARNEL_KERNELS_AVX512
// With the AVX2 heights kernel.
bool HasAvx512(const SCpuFeatures& cpu)
{
    return cpu.avx2 && cpu.avx512f && cpu.avx512bw && cpu.avx512vl;
}
#endif

// The variants this build has, slowest first.
constexpr SVariant kVariants[] = {
    {EKernelVariant::kScalar, "scalar", Always, HeightsRowScalar, NormalRowScalar},
#ifdef QUARNEL_KERNELS_SSE2
    {EKernelVariant::kSse2, "sse2", HasSse2, HeightsRowScalar, NormalRowSse2},
#endif
#ifdef QUARNEL_KERNELS_AVX2
    {EKernelVariant::kAvx2, "avx2", HasAvx2, HeightsRowAvx2, NormalRowAvx2},
#endif
#ifdef QUARNEL_KERNELS_AVX2FMA
    {EKernelVariant::kAvx2Fma, "avx2-fma", HasAvx2AndFma, HeightsRowAvx2, NormalRowAvx2Fma},
#endif
#ifdef QUARNEL_KERNELS_AVX512
    {EKernelVariant::kAvx512, "avx512", HasAvx512, HeightsRowAvx2, NormalRowAvx512},
    {EKernelVariant::kAvx512Fast, "avx512-fast", HasAvx512, HeightsRowAvx2, NormalRowAvx512Fast},
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

int SupportedKernelVariants(const SCpuFeatures& cpu, EKernelVariant (&variants)[kKernelVariantCount])
{
    int count = 0;
    for (const SVariant& v : kVariants) {
        if (v.runs(cpu))
            variants[count++] = v.variant;
    }
    return count;
}

int SupportedKernelVariants(EKernelVariant (&variants)[kKernelVariantCount])
{
    return SupportedKernelVariants(ReadCpuFeatures(), variants);
}

EKernelVariant BestKernelVariant(const SCpuFeatures& cpu)
{
    EKernelVariant variants[kKernelVariantCount];
    return variants[SupportedKernelVariants(cpu, variants) - 1];
}

EKernelVariant BestKernelVariant()
{
    return BestKernelVariant(ReadCpuFeatures());
}

HeightsRowFn HeightsRowKernel(EKernelVariant variant)
{
    return Find(variant).heights;
}

NormalRowFn NormalRowKernel(EKernelVariant variant)
{
    return Find(variant).normals;
}
