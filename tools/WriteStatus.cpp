#include "WriteStatus.h"

#include <cstdio>

namespace {

// Longer than a clock tick of any file system that stores sub-second times.
constexpr std::int64_t kMargin = 50000000;
constexpr std::int64_t kWholeSecondMargin = 2000000000;

unsigned ReadU16(const unsigned char* p)
{
    return static_cast<unsigned>(p[0] | p[1] << 8);
}

}  // namespace

std::int64_t WaitBeforeCall(const FileStamp& before, std::int64_t now)
{
    if (!before.exists)
        return 0;
    // A time of whole seconds is taken for one of such a file system.
    const std::int64_t margin = before.time % 1000000000 == 0 ? kWholeSecondMargin : kMargin;
    const std::int64_t wait = before.time + margin - now;
    return wait <= 0 ? 0 : wait < margin ? wait : margin;
}

bool DestinationWritten(const FileStamp& before, const FileStamp& after, long long expected)
{
    const bool changed = !before.exists || after.time != before.time || after.size != before.size;
    return after.exists && changed && expected >= 0 && after.size == static_cast<unsigned long long>(expected);
}

long long ConvertedSize(const unsigned char (&h)[18])
{
    const long long cmap = h[1] == 1 ? static_cast<long long>(ReadU16(h + 5)) * ((h[7] + 7) / 8) : 0;
    return 18 + h[0] + cmap + 3LL * ReadU16(h + 12) * ReadU16(h + 14);
}

long long ExpectedSize(const char* src)
{
    unsigned char h[18];
    std::FILE* f = ReadFileStamp(src).regular ? std::fopen(src, "rb") : nullptr;
    if (f == nullptr)
        return -1;
    const bool ok = std::fread(h, 1, sizeof h, f) == sizeof h;
    std::fclose(f);
    return ok ? ConvertedSize(h) : -1;
}

bool UpToDate(const FileStamp& src, const FileStamp& dst)
{
    return src.exists && dst.exists && dst.time >= src.time;
}
