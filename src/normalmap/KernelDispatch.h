// Which kernels run: the variants, those this build has and this processor
// runs, the best of them, and each one's row kernels. Knows the kernels and
// the processor's features, nothing of images or of the functions that use it.
#ifndef QUARNEL_KERNELDISPATCH_H
#define QUARNEL_KERNELDISPATCH_H

#include "CpuFeatures.h"
#include "RowKernels.h"

// One variant picks a heights and a normals kernel: a row of Kernels.def,
// which says what each needs and whether it computes exactly. Every row,
// whether this build has it or not.
enum class EKernelVariant : int {
#define QUARNEL_KERNEL(Id, Name, Arch, Needs, Exact, Heights, Gcc, Msvc) k##Id,
#include "Kernels.def"
#undef QUARNEL_KERNEL
};

constexpr int kKernelVariantCount = 0
#define QUARNEL_KERNEL(...) +1
#include "Kernels.def"
#undef QUARNEL_KERNEL
    ;

// "?" for a variant this build lacks.
const char* KernelVariantName(EKernelVariant variant);

// The exact variant whose bytes variant gives: itself, or for a fast path
// the exact kernel behind it.
EKernelVariant ExactKernelVariant(EKernelVariant variant);

// The variants this build contains and a processor with cpu runs, scalar
// first and the fastest last; returns how many were written to variants.
int SupportedKernelVariants(const SCpuFeatures& cpu, EKernelVariant (&variants)[kKernelVariantCount]);
// The same for this processor.
int SupportedKernelVariants(EKernelVariant (&variants)[kKernelVariantCount]);

// The last of SupportedKernelVariants: on this processor, what ComputeHeights
// and ComputeNormals run.
EKernelVariant BestKernelVariant(const SCpuFeatures& cpu);
EKernelVariant BestKernelVariant();

// The kernels of a variant; the scalar ones for a variant this build lacks.
HeightsRowFn HeightsRowKernel(EKernelVariant variant);
NormalRowFn NormalRowKernel(EKernelVariant variant);

#endif
