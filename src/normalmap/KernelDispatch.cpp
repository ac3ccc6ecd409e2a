#include "KernelDispatch.h"

#include <cstddef>

namespace {

// The features a row of Kernels.def may need, as it spells them; feature i
// is bit i of a feature set.
constexpr struct {
    const char* name;
    bool SCpuFeatures::*has;
} kFeatures[] = {
    {"sse2", &SCpuFeatures::sse2},         {"avx2", &SCpuFeatures::avx2},
    {"fma", &SCpuFeatures::fma},           {"avx512f", &SCpuFeatures::avx512f},
    {"avx512bw", &SCpuFeatures::avx512bw}, {"avx512vl", &SCpuFeatures::avx512vl},
};

// In the set of a row that needs a feature not among them.
constexpr unsigned kUnknownFeature = 1u << 31;

// The set of a row's needs: space-separated names.
constexpr unsigned FeatureSet(const char* needs)
{
    unsigned set = 0;
    while (*needs != '\0') {
        std::size_t n = 0;
        while (needs[n] != '\0' && needs[n] != ' ')
            ++n;
        unsigned bit = n == 0 ? 0 : kUnknownFeature;
        for (std::size_t i = 0; i < sizeof kFeatures / sizeof kFeatures[0]; ++i) {
            const char* name = kFeatures[i].name;
            std::size_t j = 0;
            while (j < n && name[j] == needs[j])
                ++j;
            if (j == n && name[j] == '\0')
                bit = 1u << i;
        }
        set |= bit;
        needs += n + (needs[n] == ' ');
    }
    return set;
}

unsigned FeatureSet(const SCpuFeatures& cpu)
{
    unsigned set = 0;
    for (std::size_t i = 0; i < sizeof kFeatures / sizeof kFeatures[0]; ++i)
        set |= cpu.*kFeatures[i].has ? 1u << i : 0;
    return set;
}

constexpr bool Within(unsigned set, unsigned of)
{
    return (set & ~of) == 0;
}

struct SRow {
    const char* name;
    unsigned needs;
    EKernelVariant exact, heights;
};

// Every row, in EKernelVariant's order.
constexpr SRow kRows[] = {
#define QUARNEL_KERNEL(Id, Name, Arch, Needs, Exact, Heights, Gcc, Msvc) \
    {Name, FeatureSet(Needs), EKernelVariant::k##Exact, EKernelVariant::k##Heights},
#include "Kernels.def"
#undef QUARNEL_KERNEL
};

constexpr const SRow& Row(EKernelVariant variant)
{
    return kRows[static_cast<int>(variant)];
}

// A variant runs its heights and its exact variant's kernels as well, and
// so must need all that they need; the exact one must be exact, and the
// heights variant's heights kernel its own.
#define QUARNEL_KERNEL(Id, Name, Arch, Needs, Exact, Heights, Gcc, Msvc)                                     \
    static_assert(!(FeatureSet(Needs) & kUnknownFeature), "Kernels.def: " #Id " needs what SCpuFeatures lacks"); \
    static_assert(Within(Row(EKernelVariant::k##Exact).needs, FeatureSet(Needs)) &&                            \
                      Within(Row(EKernelVariant::k##Heights).needs, FeatureSet(Needs)),                        \
                  "Kernels.def: " #Id " must need all its exact and heights variants need");                   \
    static_assert(Row(EKernelVariant::k##Exact).exact == EKernelVariant::k##Exact &&                           \
                      Row(EKernelVariant::k##Heights).heights == EKernelVariant::k##Heights,                   \
                  "Kernels.def: " #Id "'s exact variant must be exact, its heights variant's heights its own");
#include "Kernels.def"
#undef QUARNEL_KERNEL

struct SVariant {
    EKernelVariant variant;
    HeightsRowFn heights;
    NormalRowFn normals;
};

// The rows this build compiles, as cmake/QuarnelKernels.cmake copied them
// from Kernels.def for its architecture and compiler.
constexpr SVariant kVariants[] = {
#define QUARNEL_KERNEL(Id, Name, Arch, Needs, Exact, Heights, Gcc, Msvc) \
    {EKernelVariant::k##Id, HeightsRow##Heights, NormalRow##Id},
#include "KernelsBuilt.def"
#undef QUARNEL_KERNEL
};

static_assert(QUARNEL_KERNEL_ROWS == kKernelVariantCount, "CMake and the compiler read Kernels.def differently");

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
    return Find(variant).variant == variant ? Row(variant).name : "?";
}

EKernelVariant ExactKernelVariant(EKernelVariant variant)
{
    return Row(variant).exact;
}

int SupportedKernelVariants(const SCpuFeatures& cpu, EKernelVariant (&variants)[kKernelVariantCount])
{
    const unsigned has = FeatureSet(cpu);
    int count = 0;
    for (const SVariant& v : kVariants) {
        if (Within(Row(v.variant).needs, has))
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
