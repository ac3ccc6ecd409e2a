// What the processor and the operating system let the library run. The one
// place with compiler-specific feature detection.
#ifndef QUARNEL_CPUFEATURES_H
#define QUARNEL_CPUFEATURES_H

// Each flag only where the system also saves the registers it needs. The
// dispatch combines them, so what it chooses for any processor can be tested.
struct SCpuFeatures {
    bool sse2;
    // AVX2, and under Microsoft's compilers the rest of what /arch:AVX2 lets
    // the compiler use (BMI1 and BMI2, LZCNT, MOVBE, POPCNT).
    bool avx2;
    // Fused multiply-add on 256-bit registers: what the AVX2 fast path adds.
    bool fma;
    // AVX-512 F (under Microsoft's compilers with DQ and CD, which
    // /arch:AVX512 assumes too), BW and VL: the AVX-512 kernels use all three.
    bool avx512f;
    bool avx512bw;
    bool avx512vl;
};

// Asked on every call: a few instructions, nothing next to an image, and no
// state kept in the library.
SCpuFeatures ReadCpuFeatures();

#endif
