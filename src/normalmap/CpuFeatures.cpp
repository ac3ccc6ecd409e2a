#include "CpuFeatures.h"

// GCC and Clang check the operating system's saved register state (XCR0) as
// well as CPUID, so a feature reported here is one that can run. Other
// compilers get the baseline only. Asked on every call: a few loads, nothing
// next to an image, and no state kept in the library.
#if (defined(__GNUC__) || defined(__clang__)) && (defined(__x86_64__) || defined(__i386__))

bool CpuHasSse2()
{
    __builtin_cpu_init();
    return __builtin_cpu_supports("sse2");
}

bool CpuHasAvx2()
{
    __builtin_cpu_init();
    return __builtin_cpu_supports("avx2");
}

bool CpuHasFma()
{
    __builtin_cpu_init();
    return __builtin_cpu_supports("fma");
}

bool CpuHasAvx512()
{
    __builtin_cpu_init();
    return __builtin_cpu_supports("avx512f") && __builtin_cpu_supports("avx512bw") &&
           __builtin_cpu_supports("avx512vl");
}

#else

bool CpuHasSse2()
{
#if defined(_M_X64) || defined(_M_AMD64)
    return true;  // part of x86-64
#else
    return false;
#endif
}

bool CpuHasAvx2()
{
    return false;
}

bool CpuHasFma()
{
    return false;
}

bool CpuHasAvx512()
{
    return false;
}

#endif
