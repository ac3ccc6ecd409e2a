// What the processor and the operating system let the library run. The one
// place with compiler-specific feature detection.
#ifndef QUARNEL_CPUFEATURES_H
#define QUARNEL_CPUFEATURES_H

bool CpuHasSse2();
bool CpuHasAvx2();
// Fused multiply-add on 256-bit registers: what the AVX2 fast path adds.
bool CpuHasFma();
// AVX-512 F, BW and VL: what the AVX-512 kernel uses.
bool CpuHasAvx512();

#endif
