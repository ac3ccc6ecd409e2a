// A hint ahead of the kernels' input. A processor's own prefetchers follow a
// stream only within its 4 KiB page, and on an image beyond the caches a
// kernel then waits for memory at every page: the heights kernel took three
// times as long as its arithmetic (docs/performance.md). Asking a page ahead
// keeps the next page on its way. A hint only: it changes no byte and never
// faults, so it may name memory past a buffer's end.
//
// Internal linkage, as NormalPixel.h explains.
#ifndef QUARNEL_PREFETCH_H
#define QUARNEL_PREFETCH_H

#include <cstddef>
#include <cstdint>
#if defined(_MSC_VER) && !defined(__clang__)
#include <intrin.h>
#endif

namespace {

constexpr std::size_t kPrefetchAhead = 4096;

// The cache line kPrefetchAhead bytes past p. The address is formed as an
// integer: past a buffer's end no pointer may be.
inline void PrefetchAhead(const std::uint8_t* p)
{
    const auto* ahead = reinterpret_cast<const char*>(reinterpret_cast<std::uintptr_t>(p) + kPrefetchAhead);
#if defined(_MSC_VER) && !defined(__clang__) && defined(_M_ARM64)
    __prefetch(ahead);
#elif defined(_MSC_VER) && !defined(__clang__)
    _mm_prefetch(ahead, _MM_HINT_T0);
#else
    __builtin_prefetch(ahead);
#endif
}

}  // namespace

#endif
