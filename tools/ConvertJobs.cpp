#include "ConvertJobs.h"

#include <cstdio>
#include <cstring>
#include <string>

namespace {

// Longer than a clock tick of any file system that stores sub-second times;
// those that store whole seconds (FAT: two) get kWholeSecondMargin.
constexpr std::int64_t kMargin = 50000000;
constexpr std::int64_t kWholeSecondMargin = 2000000000;

// "dir/rock_n.tga" for "textures/rock.tga".
std::string DestinationFor(const char* dir, const char* src)
{
    const char* name = src + std::strlen(src);
    while (name != src && !IsPathSeparator(name[-1]))
        --name;
    std::string stem = name;
    const std::size_t dot = stem.rfind('.');
    if (dot != std::string::npos && dot != 0)
        stem.erase(dot);
    std::string dst = dir;
    if (!dst.empty() && !IsPathSeparator(dst.back()))
        dst += '/';
    return dst + stem + "_n.tga";
}

unsigned ReadU16(const unsigned char* p)
{
    return static_cast<unsigned>(p[0] | p[1] << 8);
}

// The size of what the module writes for this source: header, ID field,
// colour map and three bytes a pixel; -1 when the header cannot be read.
// Only a plain file is opened: a FIFO would block (the module refuses it).
long long ExpectedSize(const char* src)
{
    unsigned char h[18];
    std::FILE* f = ReadFileStamp(src).regular ? std::fopen(src, "rb") : nullptr;
    if (f == nullptr)
        return -1;
    const bool ok = std::fread(h, 1, sizeof h, f) == sizeof h;
    std::fclose(f);
    if (!ok)
        return -1;
    const long long cmap = h[1] == 1 ? static_cast<long long>(ReadU16(h + 5)) * ((h[7] + 7) / 8) : 0;
    return 18 + h[0] + cmap + 3LL * ReadU16(h + 12) * ReadU16(h + 14);
}

// A write during the call must get a later time than the file has now.
// File times come from a clock that may lag the one Now() reads by a tick,
// so a file written moments ago (by an earlier run) is waited past first.
void WaitPast(const FileStamp& before)
{
    if (!before.exists)
        return;
    const std::int64_t margin = before.time % 1000000000 == 0 ? kWholeSecondMargin : kMargin;
    const std::int64_t wait = before.time + margin - Now();
    if (wait > 0)
        SleepNanoseconds(wait < margin ? wait : margin);
}

}  // namespace

bool SetPath(char (&field)[512], const char* path)
{
    const std::size_t len = std::strlen(path);
    if (len >= sizeof field) {
        std::fprintf(stderr, "quarnel-convert: path longer than %zu bytes: %s\n", sizeof field - 1, path);
        return false;
    }
    std::memcpy(field, path, len + 1);
    return true;
}

bool MakeDirJobs(const char* dir, const std::vector<const char*>& sources, float texelsize,
                 std::vector<SCreateBumpMap>& jobs)
{
    jobs.assign(sources.size(), SCreateBumpMap{});
    for (std::size_t j = 0; j < jobs.size(); ++j) {
        const std::string dst = DestinationFor(dir, sources[j]);
        if (!SetPath(jobs[j].srcpath, sources[j]) || !SetPath(jobs[j].dstpath, dst.c_str()))
            return false;
        jobs[j].texelsize = texelsize;
        // The later source would overwrite the earlier's normal map.
        for (std::size_t k = 0; k < j; ++k) {
            if (std::strcmp(jobs[k].dstpath, jobs[j].dstpath) == 0) {
                std::fprintf(stderr, "quarnel-convert: %s and %s would both write %s\n", sources[k], sources[j],
                             jobs[j].dstpath);
                return false;
            }
        }
    }
    return true;
}

int RunDirJobs(CreateBumpMapsFn createBumpMaps, std::vector<SCreateBumpMap>& jobs)
{
    int unwritten = 0;
    for (std::size_t j = 0; j < jobs.size(); ++j) {
        std::printf("[%zu/%zu] %s\n", j + 1, jobs.size(), jobs[j].srcpath);
        std::fflush(stdout);
        const FileStamp before = ReadFileStamp(jobs[j].dstpath);
        WaitPast(before);
        const long long expected = ExpectedSize(jobs[j].srcpath);
        createBumpMaps(&jobs[j], 1);
        // The module reports a failed job to the user but returns no status:
        // what it wrote is read back instead. An untouched older file keeps
        // its time and size; one cut short by a failed write has the wrong size.
        const FileStamp after = ReadFileStamp(jobs[j].dstpath);
        const bool changed = !before.exists || after.time != before.time || after.size != before.size;
        if (!after.exists || !changed || expected < 0 || after.size != static_cast<unsigned long long>(expected)) {
            std::fprintf(stderr, "quarnel-convert: %s was not written\n", jobs[j].dstpath);
            ++unwritten;
        }
    }
    return unwritten;
}
