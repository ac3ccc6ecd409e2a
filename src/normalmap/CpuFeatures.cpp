#include "CpuFeatures.h"

#if defined(_MSC_VER) && (defined(_M_X64) || defined(_M_IX86))

// Microsoft's compilers (clang-cl among them) have CPUID and XGETBV as
// intrinsics but no runtime behind __builtin_cpu_supports.
#include <intrin.h>

namespace {

// The CPUID leaves asked about, read afresh for each query: 1, 7 (subleaf 0)
// and 0x80000001, each as EAX, EBX, ECX, EDX; zeros where the processor lacks one.
enum ELeaf { kLeaf1, kLeaf7, kLeafExt1, kLeafCount };

struct SCpuid {
    int regs[kLeafCount][4];
};

// One feature flag: leaf, register (0 EAX, 1 EBX, 2 ECX, 3 EDX), bit.
struct SCpuidBit {
    ELeaf leaf;
    int reg;
    int bit;
};

constexpr SCpuidBit kSse2{kLeaf1, 3, 26};
constexpr SCpuidBit kFma{kLeaf1, 2, 12};
constexpr SCpuidBit kMovbe{kLeaf1, 2, 22};
constexpr SCpuidBit kPopcnt{kLeaf1, 2, 23};
constexpr SCpuidBit kOsxsave{kLeaf1, 2, 27};
constexpr SCpuidBit kAvx{kLeaf1, 2, 28};
constexpr SCpuidBit kBmi1{kLeaf7, 1, 3};
constexpr SCpuidBit kAvx2{kLeaf7, 1, 5};
constexpr SCpuidBit kBmi2{kLeaf7, 1, 8};
constexpr SCpuidBit kAvx512f{kLeaf7, 1, 16};
constexpr SCpuidBit kAvx512dq{kLeaf7, 1, 17};
constexpr SCpuidBit kAvx512cd{kLeaf7, 1, 28};
constexpr SCpuidBit kAvx512bw{kLeaf7, 1, 30};
constexpr SCpuidBit kAvx512vl{kLeaf7, 1, 31};
constexpr SCpuidBit kLzcnt{kLeafExt1, 2, 5};

// /arch:AVX2 and /arch:AVX512 let the compiler use what came with those
// processor generations (BMI shifts, LZCNT, MOVBE), so a kernel built with
// them runs only where all of it is. FMA came with them too, but the build
// forbids contraction and a test disassembles the kernels: only the fast
// path, which asks for FMA itself, holds any.
constexpr SCpuidBit kAvx2Kernel[] = {kAvx, kAvx2, kBmi1, kBmi2, kLzcnt, kMovbe, kPopcnt};
constexpr SCpuidBit kAvx512Kernel[] = {kAvx512f, kAvx512dq, kAvx512cd};

// Register state (XCR0) the operating system saves on a thread switch: the
// XMM and YMM halves for AVX, plus the opmask and both ZMM parts for AVX-512.
constexpr unsigned long long kYmmState = 0x6;
constexpr unsigned long long kZmmState = 0xe6;

SCpuid ReadCpuid()
{
    SCpuid cpu = {};
    int regs[4];
    __cpuid(regs, 0);
    if (regs[0] >= 1)
        __cpuid(cpu.regs[kLeaf1], 1);
    if (regs[0] >= 7)
        __cpuidex(cpu.regs[kLeaf7], 7, 0);
    __cpuid(regs, static_cast<int>(0x80000000u));
    if (static_cast<unsigned>(regs[0]) >= 0x80000001u)
        __cpuid(cpu.regs[kLeafExt1], static_cast<int>(0x80000001u));
    return cpu;
}

bool Has(const SCpuid& cpu, SCpuidBit feature)
{
    return ((static_cast<unsigned>(cpu.regs[feature.leaf][feature.reg]) >> feature.bit) & 1u) != 0;
}

template <int N>
bool HasAll(const SCpuid& cpu, const SCpuidBit (&features)[N])
{
    for (const SCpuidBit& feature : features) {
        if (!Has(cpu, feature))
            return false;
    }
    return true;
}

// XGETBV faults unless the operating system has enabled it (OSXSAVE).
bool OsSaves(const SCpuid& cpu, unsigned long long state)
{
    return Has(cpu, kOsxsave) && (_xgetbv(0) & state) == state;
}

}  // namespace

SCpuFeatures ReadCpuFeatures()
{
    const SCpuid cpu = ReadCpuid();
    const bool ymm = OsSaves(cpu, kYmmState), zmm = OsSaves(cpu, kZmmState);
    SCpuFeatures f = {};
    f.sse2 = Has(cpu, kSse2);
    f.avx2 = ymm && HasAll(cpu, kAvx2Kernel);
    f.fma = ymm && Has(cpu, kFma);
    f.avx512f = zmm && HasAll(cpu, kAvx512Kernel);
    f.avx512bw = zmm && Has(cpu, kAvx512bw);
    f.avx512vl = zmm && Has(cpu, kAvx512vl);
    return f;
}

#elif (defined(__GNUC__) || defined(__clang__)) && (defined(__x86_64__) || defined(__i386__))

// GCC and Clang check the operating system's saved register state (XCR0) as
// well as CPUID, so a feature reported here is one that can run.
SCpuFeatures ReadCpuFeatures()
{
    __builtin_cpu_init();
    SCpuFeatures f = {};
    f.sse2 = __builtin_cpu_supports("sse2");
    f.avx2 = __builtin_cpu_supports("avx2");
    f.fma = __builtin_cpu_supports("fma");
    f.avx512f = __builtin_cpu_supports("avx512f");
    f.avx512bw = __builtin_cpu_supports("avx512bw");
    f.avx512vl = __builtin_cpu_supports("avx512vl");
    return f;
}

#else

// Other compilers and processors get the baseline only.
SCpuFeatures ReadCpuFeatures()
{
    return SCpuFeatures{};
}

#endif
