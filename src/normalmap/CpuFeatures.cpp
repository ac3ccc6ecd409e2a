#include "CpuFeatures.h"

#if defined(_MSC_VER) && (defined(_M_X64) || defined(_M_IX86))
// Microsoft's compilers (clang-cl among them) have CPUID and XGETBV as intrinsics.
#include <intrin.h>
#define QUARNEL_CPUID 1
#elif (defined(__GNUC__) || defined(__clang__)) && (defined(__x86_64__) || defined(__i386__))
#include <cpuid.h>
#define QUARNEL_CPUID 1
// glibc asks CPUID once, as a program starts, and keeps the answers.
#if defined(__GLIBC__) && defined(__has_include)
#if __has_include(<sys/platform/x86.h>)
// Its inline helpers return C's _Bool, which Clang's C++ does not know.
#define _Bool bool
#include <sys/platform/x86.h>
#undef _Bool
#define QUARNEL_GLIBC_CPUID 1
#endif
#endif
#endif

namespace {

// One feature flag: the register that holds it, and its bit.
struct SCpuidBit {
    std::uint32_t SCpuidValues::*reg;
    int bit;
};

constexpr SCpuidBit kSse2{&SCpuidValues::leaf1Edx, 26};
constexpr SCpuidBit kFma{&SCpuidValues::leaf1Ecx, 12};
constexpr SCpuidBit kMovbe{&SCpuidValues::leaf1Ecx, 22};
constexpr SCpuidBit kPopcnt{&SCpuidValues::leaf1Ecx, 23};
constexpr SCpuidBit kOsxsave{&SCpuidValues::leaf1Ecx, 27};
constexpr SCpuidBit kAvx{&SCpuidValues::leaf1Ecx, 28};
constexpr SCpuidBit kBmi1{&SCpuidValues::leaf7Ebx, 3};
constexpr SCpuidBit kAvx2{&SCpuidValues::leaf7Ebx, 5};
constexpr SCpuidBit kBmi2{&SCpuidValues::leaf7Ebx, 8};
constexpr SCpuidBit kAvx512f{&SCpuidValues::leaf7Ebx, 16};
constexpr SCpuidBit kAvx512dq{&SCpuidValues::leaf7Ebx, 17};
constexpr SCpuidBit kAvx512cd{&SCpuidValues::leaf7Ebx, 28};
constexpr SCpuidBit kAvx512bw{&SCpuidValues::leaf7Ebx, 30};
constexpr SCpuidBit kAvx512vl{&SCpuidValues::leaf7Ebx, 31};
constexpr SCpuidBit kLzcnt{&SCpuidValues::ext1Ecx, 5};

// /arch:AVX2 and /arch:AVX512 let the compiler use what came with those
// processor generations (BMI shifts, LZCNT, MOVBE), so a kernel built with
// them runs only where all of it is. FMA came with them too, but the build
// forbids contraction and a test disassembles the kernels: only the fast
// path, which asks for FMA itself, holds any.
constexpr SCpuidBit kAvx2Kernel[] = {kAvx, kAvx2, kBmi1, kBmi2, kLzcnt, kMovbe, kPopcnt};
constexpr SCpuidBit kAvx512Kernel[] = {kAvx512f, kAvx512dq, kAvx512cd};

// Register state (XCR0) the operating system saves on a thread switch: the
// XMM and YMM halves for AVX, plus the opmask and both ZMM parts for AVX-512.
constexpr std::uint64_t kYmmState = 0x6;
constexpr std::uint64_t kZmmState = 0xe6;

bool Has(const SCpuidValues& cpu, SCpuidBit feature)
{
    return ((cpu.*feature.reg >> feature.bit) & 1u) != 0;
}

template <int N>
bool HasAll(const SCpuidValues& cpu, const SCpuidBit (&features)[N])
{
    for (const SCpuidBit& feature : features) {
        if (!Has(cpu, feature))
            return false;
    }
    return true;
}

// XCR0 is the system's word only where it has enabled XGETBV (OSXSAVE).
bool Saves(const SCpuidValues& cpu, std::uint64_t state)
{
    return Has(cpu, kOsxsave) && (cpu.xcr0 & state) == state;
}

#if defined(QUARNEL_CPUID) && !defined(QUARNEL_GLIBC_CPUID)
// Registers EAX, EBX, ECX, EDX of a leaf and subleaf.
struct SRegs {
    std::uint32_t r[4];
};

SRegs Cpuid(std::uint32_t leaf, std::uint32_t subleaf)
{
    SRegs out = {};
#if defined(_MSC_VER)
    int regs[4];
    __cpuidex(regs, static_cast<int>(leaf), static_cast<int>(subleaf));
    for (int i = 0; i < 4; ++i)
        out.r[i] = static_cast<std::uint32_t>(regs[i]);
#else
    __cpuid_count(leaf, subleaf, out.r[0], out.r[1], out.r[2], out.r[3]);
#endif
    return out;
}
#endif

#ifdef QUARNEL_CPUID
std::uint64_t ReadXcr0()
{
#if defined(_MSC_VER)
    return _xgetbv(0);
#else
    std::uint32_t low = 0, high = 0;
    __asm__ volatile("xgetbv" : "=a"(low), "=d"(high) : "c"(0));
    return (std::uint64_t{high} << 32) | low;
#endif
}

// In a virtual machine every CPUID stops the processor for the hypervisor
// (8.6 us apiece measured on one, against 0.01 us for XGETBV), and a small
// image's job is not much longer than a few of them. So glibc's answers
// serve where there are any, and otherwise only the leaves that can matter
// are asked, without the range queries: leaf 1 is there on every processor
// with SSE2, which the library needs; XSAVE (on every processor with AVX)
// implies leaf 0xD and so leaf 7; and LZCNT, in leaf 0x80000001, counts
// only with AVX2.
SCpuidValues ReadCpuidValues()
{
    SCpuidValues cpu = {};
#ifdef QUARNEL_GLIBC_CPUID
    const unsigned* leaf1 = __x86_get_cpuid_feature_leaf(CPUID_INDEX_1)->cpuid_array;
    const unsigned* leaf7 = __x86_get_cpuid_feature_leaf(CPUID_INDEX_7)->cpuid_array;
    const unsigned* ext1 = __x86_get_cpuid_feature_leaf(CPUID_INDEX_80000001)->cpuid_array;
    cpu.leaf1Ecx = leaf1[2];
    cpu.leaf1Edx = leaf1[3];
    cpu.leaf7Ebx = leaf7[1];
    cpu.leaf7Ecx = leaf7[2];
    cpu.leaf7Edx = leaf7[3];
    cpu.ext1Ecx = ext1[2];
#else
    constexpr SCpuidBit kXsave{&SCpuidValues::leaf1Ecx, 26};
    const SRegs leaf1 = Cpuid(1, 0);
    cpu.leaf1Ecx = leaf1.r[2];
    cpu.leaf1Edx = leaf1.r[3];
    if (Has(cpu, kXsave)) {
        const SRegs leaf7 = Cpuid(7, 0);
        cpu.leaf7Ebx = leaf7.r[1];
        cpu.leaf7Ecx = leaf7.r[2];
        cpu.leaf7Edx = leaf7.r[3];
    }
    if (Has(cpu, kAvx2))
        cpu.ext1Ecx = Cpuid(0x80000001u, 0).r[2];
#endif
    // XGETBV faults unless the system has enabled it.
    if (Has(cpu, kOsxsave))
        cpu.xcr0 = ReadXcr0();
    return cpu;
}
#endif

}  // namespace

SCpuFeatures DecodeCpuFeatures(const SCpuidValues& cpu)
{
    const bool ymm = Saves(cpu, kYmmState), zmm = Saves(cpu, kZmmState);
    SCpuFeatures f = {};
    f.sse2 = Has(cpu, kSse2);
    f.avx2 = ymm && HasAll(cpu, kAvx2Kernel);
    f.fma = ymm && Has(cpu, kFma);
    f.avx512f = zmm && HasAll(cpu, kAvx512Kernel);
    f.avx512bw = zmm && Has(cpu, kAvx512bw);
    f.avx512vl = zmm && Has(cpu, kAvx512vl);
    return f;
}

SCpuFeatures ReadCpuFeatures()
{
#ifdef QUARNEL_CPUID
    return DecodeCpuFeatures(ReadCpuidValues());
#else
    // Other processors: the baseline only (64-bit ARM always has NEON).
    return SCpuFeatures{};
#endif
}
