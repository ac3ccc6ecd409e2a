// Timing of the whole conversion against what its design costs apart from
// the arithmetic, and of each ComputeNormals variant against the scalar one.
//
//   quarnel-bench [--dir DIR] [--repeat N] [--wall | --batch]
//
// Writes random 1024², 2048² and 4096² sources into DIR (a fresh temporary
// folder by default, removed afterwards) and reports medians of N alternated
// rounds: the whole call and its floors in elapsed time, which is what a
// host waits for, the disk included; the kernels in process CPU time, or
// with --wall in elapsed time.
#include <algorithm>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <random>
#include <string>
#include <vector>

#ifdef _WIN32
#include <windows.h>
#else
#include <fcntl.h>
#include <time.h>
#include <unistd.h>
#endif

#include "BatchBench.h"
#include "../src/batch/Platform.h"
#include "../src/normalmap/NormalMap.h"
#include "../src/normalmap/KernelDispatch.h"
#include "Quarnel.h"

namespace {

// CPU time of the process (user and system) by default: on a machine shared
// with other work it is not inflated by time spent waiting for a core, and
// with the files in the page cache the job never waits for the disk.
bool useWallClock = false;

#ifdef _WIN32
// Windows counts CPU time in scheduler ticks (10 to 16 ms), so one sample
// repeats the call until it spans many ticks and takes the mean.
constexpr double kCpuSampleSeconds = 0.5;

double Now()
{
    if (useWallClock)
        return std::chrono::duration<double>(std::chrono::steady_clock::now().time_since_epoch()).count();
    FILETIME created, exited, kernel, user;
    GetProcessTimes(GetCurrentProcess(), &created, &exited, &kernel, &user);
    const auto ticks = [](const FILETIME& t) {
        return static_cast<double>((static_cast<std::uint64_t>(t.dwHighDateTime) << 32) | t.dwLowDateTime);
    };
    return (ticks(kernel) + ticks(user)) * 1e-7;
}
#else
constexpr double kCpuSampleSeconds = 0.0;

double Now()
{
    if (useWallClock)
        return std::chrono::duration<double>(std::chrono::steady_clock::now().time_since_epoch()).count();
    timespec t;
    clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &t);
    return static_cast<double>(t.tv_sec) + static_cast<double>(t.tv_nsec) * 1e-9;
}
#endif

// A fresh folder of the bench's own for its files.
bool MakeTempDir(std::string& dir)
{
#ifdef _WIN32
    char base[MAX_PATH + 1];
    const DWORD n = GetTempPathA(sizeof base, base);
    if (n == 0 || n >= sizeof base)
        return false;
    for (unsigned i = 0; i < 100; ++i) {
        dir = std::string(base) + "quarnel-bench-" + std::to_string(GetCurrentProcessId()) + "-" + std::to_string(i);
        if (CreateDirectoryA(dir.c_str(), nullptr))
            return true;
    }
    return false;
#else
    const char* tmp = std::getenv("TMPDIR");
    std::string pattern = std::string(tmp != nullptr && *tmp != '\0' ? tmp : "/tmp") + "/quarnel-bench-XXXXXX";
    if (mkdtemp(pattern.data()) == nullptr)
        return false;
    dir = pattern;
    return true;
#endif
}

void RemoveDir(const std::string& dir)
{
#ifdef _WIN32
    RemoveDirectoryA(dir.c_str());
#else
    rmdir(dir.c_str());
#endif
}
using Bytes = std::vector<std::uint8_t>;

constexpr int kHeaderSize = 18;

double Median(std::vector<double> times)
{
    std::sort(times.begin(), times.end());
    return times[times.size() / 2];
}

template <typename Fn>
double MedianSeconds(int repeat, Fn fn)
{
    std::vector<double> times;
    const double minimum = useWallClock ? 0.0 : kCpuSampleSeconds;
    for (int i = 0; i < repeat; ++i) {
        const double start = Now();
        double elapsed = 0.0;
        int calls = 0;
        do {
            fn();
            ++calls;
            elapsed = Now() - start;
        } while (elapsed < minimum);
        times.push_back(elapsed / calls);
    }
    return Median(times);
}

bool WriteSource(const std::string& path, int size, std::uint32_t seed)
{
    Bytes file(kHeaderSize + 3 * static_cast<std::size_t>(size) * static_cast<std::size_t>(size));
    file[2] = 2;  // uncompressed true colour
    file[12] = static_cast<std::uint8_t>(size & 0xFF);
    file[13] = static_cast<std::uint8_t>(size >> 8);
    file[14] = file[12];
    file[15] = file[13];
    file[16] = 24;
    std::mt19937 rng(seed);
    for (std::size_t i = kHeaderSize; i < file.size(); ++i)
        file[i] = static_cast<std::uint8_t>(rng() >> 24);
    std::FILE* f = std::fopen(path.c_str(), "wb");
    if (f == nullptr)
        return false;
    const bool ok = std::fwrite(file.data(), 1, file.size(), f) == file.size();
    return std::fclose(f) == 0 && ok;
}

// What any conversion of the file must do: read it into a buffer already
// touched and write as many bytes over an existing file, with the job's stdio
// calls.
bool IoFloor(const std::string& src, const std::string& dst, Bytes& buffer)
{
    std::FILE* in = std::fopen(src.c_str(), "rb");
    if (in == nullptr)
        return false;
    bool ok = std::fread(buffer.data(), 1, buffer.size(), in) == buffer.size();
    std::fclose(in);
    std::FILE* out = ok ? std::fopen(dst.c_str(), "wb") : nullptr;
    ok = out != nullptr && std::fwrite(buffer.data(), 1, buffer.size(), out) == buffer.size();
    if (out != nullptr && std::fclose(out) != 0)
        ok = false;
    return ok;
}

// Waits, untimed, until what a step wrote to path is on disk, so that the
// next step starts with the disk idle and no step waits for another's
// writeback (on ext4 a rename over a file still being written waits for it).
void Settle(const std::string& path)
{
#ifdef _WIN32
    const HANDLE file = CreateFileA(path.c_str(), GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                                    OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file != INVALID_HANDLE_VALUE) {
        FlushFileBuffers(file);
        CloseHandle(file);
    }
#else
    const int fd = open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd >= 0) {
        fsync(fd);
        close(fd);
    }
#endif
}

// A buffer on the pages the job's own are on, released with std::free.
struct SImageBuffer {
    std::uint8_t* data;
    explicit SImageBuffer(std::size_t size) : data(static_cast<std::uint8_t*>(AllocateImageBuffer(size))) {}
    ~SImageBuffer() { std::free(data); }
    SImageBuffer(const SImageBuffer&) = delete;
    SImageBuffer& operator=(const SImageBuffer&) = delete;
};

// What the job's design costs apart from the arithmetic: the source read
// into a fresh buffer, the two other fresh buffers touched (a byte a page,
// which has the system clear each page as the kernels' first write would),
// and as many bytes written to a temporary file renamed over the old one;
// the buffers from the job's allocator, on its pages.
bool DesignFloor(const std::string& src, const std::string& dst, std::size_t n)
{
    std::FILE* in = std::fopen(src.c_str(), "rb");
    if (in == nullptr)
        return false;
    std::uint8_t header[kHeaderSize];
    SImageBuffer pixels(3 * n), normals(3 * n), heights(n);
    bool ok = pixels.data != nullptr && normals.data != nullptr && heights.data != nullptr &&
              std::fread(header, 1, sizeof header, in) == sizeof header &&
              std::fread(pixels.data, 1, 3 * n, in) == 3 * n;
    std::fclose(in);
    // Volatile: the heights are never read, and a store before a free may go.
    for (std::size_t i = 0; ok && i < 3 * n; i += 4096)
        static_cast<volatile std::uint8_t*>(normals.data)[i] = 1;
    for (std::size_t i = 0; ok && i < n; i += 4096)
        static_cast<volatile std::uint8_t*>(heights.data)[i] = 1;
    const std::string temp = dst + ".tmp";
    std::FILE* out = ok ? std::fopen(temp.c_str(), "wb") : nullptr;
    ok = out != nullptr && std::fwrite(header, 1, sizeof header, out) == sizeof header &&
         std::fwrite(normals.data, 1, 3 * n, out) == 3 * n;
    if (out != nullptr && std::fclose(out) != 0)
        ok = false;
    ok = ok && std::rename(temp.c_str(), dst.c_str()) == 0;
    if (!ok)
        std::remove(temp.c_str());
    return ok;
}

// Index of the exact kernel a fast variant is measured against, or -1.
int ExactCounterpart(const EKernelVariant* variants, int count, int v)
{
    const EKernelVariant exact = ExactKernelVariant(variants[v]);
    for (int i = 0; exact != variants[v] && i < count; ++i)
        if (variants[i] == exact)
            return i;
    return -1;
}

double Mps(std::size_t pixels, double seconds)
{
    return static_cast<double>(pixels) / seconds / 1e6;
}

}  // namespace

int main(int argc, char** argv)
{
    std::string dir;
    int repeat = 0;  // by default 9 rounds, and 7 of the batch
    bool batch = false;
    for (int i = 1; i < argc; ++i) {
        if (std::strcmp(argv[i], "--dir") == 0 && i + 1 < argc) {
            dir = argv[++i];
        } else if (std::strcmp(argv[i], "--batch") == 0) {
            batch = true;
        } else if (std::strcmp(argv[i], "--wall") == 0) {
            useWallClock = true;
        } else if (std::strcmp(argv[i], "--repeat") == 0 && i + 1 < argc) {
            repeat = std::max(1, std::atoi(argv[++i]));
        } else {
            std::fprintf(stderr, "usage: %s [--dir DIR] [--repeat N] [--wall | --batch]\n", argv[0]);
            return 2;
        }
    }
    const bool ownDir = dir.empty();
    if (ownDir && !MakeTempDir(dir)) {
        std::fprintf(stderr, "cannot make a temporary folder\n");
        return 1;
    }
    if (batch) {
        const int status = RunBatchBench(dir, repeat > 0 ? repeat : 7);
        if (ownDir)
            RemoveDir(dir);
        return status;
    }

    repeat = repeat > 0 ? repeat : 9;
    EKernelVariant variants[kKernelVariantCount];
    const int variantCount = SupportedKernelVariants(variants);
    std::printf("variants: ");
    for (int v = 0; v < variantCount; ++v)
        std::printf("%s%s", v ? " " : "", KernelVariantName(variants[v]));
    std::printf(" (ComputeNormals uses %s); medians of %d alternated rounds: calls and floor in elapsed time, "
                "kernels in %s time\n\n",
                KernelVariantName(variants[variantCount - 1]), repeat, useWallClock ? "elapsed" : "CPU");

    int status = 0;
    for (int size : {1024, 2048, 4096}) {
        const std::size_t n = static_cast<std::size_t>(size) * static_cast<std::size_t>(size);
        const std::string src = dir + "/bench-" + std::to_string(size) + ".tga";
        const std::string dst = dir + "/bench-" + std::to_string(size) + "-normals.tga";
        const std::string floorDst = dir + "/bench-" + std::to_string(size) + "-floor.tga";
        const std::string designDst = dir + "/bench-" + std::to_string(size) + "-design.tga";
        if (!WriteSource(src, size, static_cast<std::uint32_t>(size))) {
            std::fprintf(stderr, "cannot write %s\n", src.c_str());
            status = 1;
            break;
        }
        // The same image converted in place, flushed before it replaces itself.
        const std::string self = dir + "/bench-" + std::to_string(size) + "-self.tga";
        if (!WriteSource(self, size, static_cast<std::uint32_t>(size))) {
            std::fprintf(stderr, "cannot write %s\n", self.c_str());
            status = 1;
            break;
        }
        SCreateBumpMap jobs[2];
        std::memset(jobs, 0, sizeof jobs);
        std::snprintf(jobs[0].srcpath, sizeof jobs[0].srcpath, "%s", src.c_str());
        std::snprintf(jobs[0].dstpath, sizeof jobs[0].dstpath, "%s", dst.c_str());
        std::snprintf(jobs[1].srcpath, sizeof jobs[1].srcpath, "%s", self.c_str());
        std::snprintf(jobs[1].dstpath, sizeof jobs[1].dstpath, "%s", self.c_str());
        jobs[0].texelsize = jobs[1].texelsize = 1.0f;

        // One untimed round of each brings the files into the page cache and
        // leaves the floors' destinations in place.
        Bytes buffer(kHeaderSize + 3 * n, 1);
        bool floorOk = IoFloor(src, floorDst, buffer) && DesignFloor(src, designDst, n);
        CreateBumpMaps(jobs, 2);
        // Alternated, so the calls and the floors see the same page cache and
        // the same load, and each started with the disk idle. The call in
        // place has rounds of its own: its flush commits the file system's
        // journal.
        const bool wall = useWallClock;
        useWallClock = true;
        std::vector<double> floorTimes, designTimes, existingTimes, newTimes, selfFloorTimes, selfTimes;
        const auto floorRound = [&] { floorOk = IoFloor(src, floorDst, buffer) && floorOk; };
        for (int i = 0; i < repeat; ++i) {
            designTimes.push_back(MedianSeconds(1, [&] { floorOk = DesignFloor(src, designDst, n) && floorOk; }));
            Settle(designDst);
            existingTimes.push_back(MedianSeconds(1, [&] { CreateBumpMaps(&jobs[0], 1); }));
            Settle(dst);
            floorTimes.push_back(MedianSeconds(1, floorRound));
            Settle(floorDst);
            std::remove(dst.c_str());
            newTimes.push_back(MedianSeconds(1, [&] { CreateBumpMaps(&jobs[0], 1); }));
            Settle(dst);
        }
        for (int i = 0; i < repeat; ++i) {
            selfFloorTimes.push_back(MedianSeconds(1, floorRound));
            Settle(floorDst);
            selfTimes.push_back(MedianSeconds(1, [&] { CreateBumpMaps(&jobs[1], 1); }));
        }
        useWallClock = wall;
        const double floor = Median(floorTimes), design = Median(designTimes);
        if (!floorOk) {
            std::fprintf(stderr, "a floor failed on %s\n", src.c_str());
            status = 1;
        }

        // The arithmetic alone, on buffers already touched, on the job's pages.
        SImageBuffer pixels(3 * n), heights(n), normals(3 * n);
        if (pixels.data == nullptr || heights.data == nullptr || normals.data == nullptr) {
            std::fprintf(stderr, "out of memory\n");
            return 1;
        }
        std::mt19937 rng(static_cast<std::uint32_t>(size));
        for (std::size_t i = 0; i < 3 * n; ++i)
            pixels.data[i] = static_cast<std::uint8_t>(rng() >> 24);
        std::memset(heights.data, 0, n);
        std::memset(normals.data, 0, 3 * n);
        const int w = size;
        const double tHeights = MedianSeconds(repeat, [&] { ComputeHeights(pixels.data, heights.data, w, w); });
        // Alternated, so every variant sees the same share of the machine's other load.
        std::vector<std::vector<double>> normalsTimes(static_cast<std::size_t>(variantCount));
        for (int i = 0; i < repeat; ++i)
            for (int v = 0; v < variantCount; ++v)
                normalsTimes[static_cast<std::size_t>(v)].push_back(MedianSeconds(1, [&] {
                    ComputeNormalsVariant(variants[v], heights.data, normals.data, w, w, 1.0f);
                }));
        std::vector<double> tNormals;
        for (const auto& times : normalsTimes)
            tNormals.push_back(Median(times));
        // What the call adds to its design floor: the kernels it runs.
        const double kernels = tHeights + tNormals.back();

        std::printf("%d x %d\n", size, size);
        std::printf("  %-27s %8.1f ms  %7.1f MP/s  (into a buffer touched before, over the file)\n", "I/O floor",
                    floor * 1e3, Mps(n, floor));
        std::printf("  %-27s %8.1f ms  %7.1f MP/s  (fresh buffers; a temporary file renamed over the old)\n",
                    "design floor", design * 1e3, Mps(n, design));
        const char* names[] = {"over an existing file", "as a new file", "in place, flushed"};
        const std::vector<double>* calls[] = {&existingTimes, &newTimes, &selfTimes};
        for (int c = 0; c < 2; ++c) {
            const double t = Median(*calls[c]);
            std::printf("  call %-22s %8.1f ms  %7.1f MP/s  / I/O floor %5.2f  / design floor %5.2f"
                        "  / (design floor + kernels %.1f ms) %5.2f\n",
                        names[c], t * 1e3, Mps(n, t), t / floor, t / design, kernels * 1e3, t / (design + kernels));
        }
        const double inPlace = Median(selfTimes), selfFloor = Median(selfFloorTimes);
        std::printf("  call %-22s %8.1f ms  %7.1f MP/s  / I/O floor %5.2f  (rounds of its own, floor %.1f ms)\n",
                    names[2], inPlace * 1e3, Mps(n, inPlace), inPlace / selfFloor, selfFloor * 1e3);
        std::printf("  %-27s %8.1f ms  %7.1f MP/s\n", "ComputeHeights", tHeights * 1e3, Mps(n, tHeights));
        for (int v = 0; v < variantCount; ++v) {
            const double t = tNormals[static_cast<std::size_t>(v)];
            std::printf("  ComputeNormals %-12s %8.1f ms  %7.1f MP/s  scalar / this %5.2f",
                        KernelVariantName(variants[v]), t * 1e3, Mps(n, t), tNormals[0] / t);
            // A fast path against the exact kernel of its instruction set, and
            // how many pixels of this image it left to the exact path.
            const int exact = ExactCounterpart(variants, variantCount, v);
            if (exact >= 0) {
                const long long fallbacks =
                    ComputeNormalsVariant(variants[v], heights.data, normals.data, w, w, 1.0f);
                std::printf("  %s / this %5.2f  exact path %lld px (%.3f %%)", KernelVariantName(variants[exact]),
                            tNormals[static_cast<std::size_t>(exact)] / t, fallbacks,
                            100.0 * static_cast<double>(fallbacks) / static_cast<double>((size - 1) * (size - 1)));
            }
            std::printf("\n");
        }
        std::printf("\n");
        std::remove(src.c_str());
        std::remove(dst.c_str());
        std::remove(floorDst.c_str());
        std::remove(designDst.c_str());
        std::remove(self.c_str());
    }
    if (ownDir)
        RemoveDir(dir);
    return status;
}
