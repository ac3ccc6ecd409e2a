// Which kernels run: the variants, those this build has and this processor
// runs, the best of them, and each one's row kernels. Knows the kernels and
// the processor's features, nothing of images or of the functions that use it.
#ifndef QUARNEL_KERNELDISPATCH_H
#define QUARNEL_KERNELDISPATCH_H

#include "CpuFeatures.h"
#include "RowKernels.h"

// One variant picks a heights and a normals kernel. Slowest first within an
// architecture. kAvx2, kAvx512 and kNeon compute in double precision
// throughout; kAvx2Fma, kAvx512Fast and kNeonFast propose bytes in single
// precision and send every pixel their error bound cannot prove to the exact
// path.
enum class EKernelVariant : int { kScalar, kSse2, kAvx2, kAvx2Fma, kAvx512, kAvx512Fast, kNeon, kNeonFast };

constexpr int kKernelVariantCount = 8;

const char* KernelVariantName(EKernelVariant variant);

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
