// What the processor and the operating system let the library run. The one
// place that asks the processor (CPUID, XGETBV); what the answers mean is a
// function of the answers alone, so it can be tested on any machine.
#ifndef QUARNEL_CPUFEATURES_H
#define QUARNEL_CPUFEATURES_H

#include <cstdint>

// Each flag only where the system also saves the registers it needs. The
// dispatch combines them, so what it chooses for any processor can be tested.
// A kernel built with Microsoft's /arch:AVX2 or /arch:AVX512 may use what came
// with those processor generations; the flags ask for that on every compiler,
// so one decoding serves all builds.
struct SCpuFeatures {
    bool sse2;
    // AVX2 with AVX, BMI1 and BMI2, LZCNT, MOVBE and POPCNT.
    bool avx2;
    // Fused multiply-add on 256-bit registers: what the AVX2 fast path adds.
    bool fma;
    // AVX-512 F with DQ and CD; with BW and VL, what the AVX-512 kernels use.
    bool avx512f;
    bool avx512bw;
    bool avx512vl;
};

// The processor's answers: CPUID leaf 1, leaf 7 (subleaf 0) and leaf
// 0x80000001, each register zero where the processor lacks the leaf, and
// the register state the system saves (XCR0, from XGETBV), which means
// something only where leaf 1 reports OSXSAVE.
struct SCpuidValues {
    std::uint32_t leaf1Ecx, leaf1Edx;
    std::uint32_t leaf7Ebx, leaf7Ecx, leaf7Edx;
    std::uint32_t ext1Ecx;
    std::uint64_t xcr0;
};

// What a processor that gives these answers runs.
SCpuFeatures DecodeCpuFeatures(const SCpuidValues& cpu);

// This processor's features; none beyond the baseline but on x86. Asked on
// every call, so the library keeps no state: glibc's answers from when the
// program started where there are any, else at most three CPUIDs.
SCpuFeatures ReadCpuFeatures();

#endif
