// A folder's worth of conversions through the batch engine quarnel-convert
// runs on: one job at a time, on two workers, against bare calls of the
// module on two threads (what the engine's planning, admission and message
// route cost), and against the parallel I/O floor, that is the same reads and
// writes on as many threads with nothing computed.
#include "BatchBench.h"

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <random>
#include <vector>

#include "BenchThreads.h"
#include "Quarnel.h"
#include "QuarnelBatch.h"

namespace {

constexpr int kWorkers = 2;
constexpr int kHeaderSize = 18;

struct SFile {
    std::string src, dst, floorDst;
    std::size_t bytes;  // of the source
};

double Seconds()
{
    return std::chrono::duration<double>(std::chrono::steady_clock::now().time_since_epoch()).count();
}

bool WriteSource(const SFile& f, int size, std::uint32_t seed)
{
    std::vector<std::uint8_t> file(f.bytes);
    file[2] = 2;
    file[12] = file[14] = static_cast<std::uint8_t>(size & 0xFF);
    file[13] = file[15] = static_cast<std::uint8_t>(size >> 8);
    file[16] = 24;
    std::mt19937 rng(seed);
    for (std::size_t i = kHeaderSize; i < file.size(); ++i)
        file[i] = static_cast<std::uint8_t>(rng() >> 24);
    std::FILE* out = std::fopen(f.src.c_str(), "wb");
    if (out == nullptr)
        return false;
    const bool ok = std::fwrite(file.data(), 1, file.size(), out) == file.size();
    return std::fclose(out) == 0 && ok;
}

// One file's share of the floor: the job's reads into a fresh buffer, a
// write of as many bytes.
bool CopyFile(const SFile& f)
{
    std::FILE* in = std::fopen(f.src.c_str(), "rb");
    if (in == nullptr)
        return false;
    auto* data = static_cast<std::uint8_t*>(std::malloc(f.bytes));
    bool ok = data != nullptr && std::fread(data, 1, kHeaderSize, in) == kHeaderSize &&
              std::fread(data + kHeaderSize, 1, f.bytes - kHeaderSize, in) == f.bytes - kHeaderSize;
    std::fclose(in);
    std::FILE* out = ok ? std::fopen(f.floorDst.c_str(), "wb") : nullptr;
    ok = out != nullptr && std::fwrite(data, 1, kHeaderSize, out) == kHeaderSize &&
         std::fwrite(data + kHeaderSize, 1, f.bytes - kHeaderSize, out) == f.bytes - kHeaderSize;
    if (out != nullptr && std::fclose(out) != 0)
        ok = false;
    std::free(data);
    return ok;
}

// Two threads taking files in turn: the floor's copies, or the module's
// calls without the batch around them.
struct SPool {
    const std::vector<SFile>* files;
    std::vector<SCreateBumpMap>* jobs;  // null for the floor
    std::atomic<std::size_t> next;
    std::atomic<bool> ok;
};

void TakeFiles(void* context)
{
    auto* pool = static_cast<SPool*>(context);
    for (std::size_t i; (i = pool->next++) < pool->files->size();) {
        if (pool->jobs != nullptr)
            CreateBumpMaps(&(*pool->jobs)[i], 1);
        else if (!CopyFile((*pool->files)[i]))
            pool->ok = false;
    }
}

double Median(std::vector<double> v)
{
    std::sort(v.begin(), v.end());
    return v[v.size() / 2];
}

}  // namespace

int RunBatchBench(const std::string& dir, int repeat)
{
    std::vector<SFile> files;
    std::vector<SCreateBumpMap> jobs;
    std::size_t total = 0;
    // Every fifth source is the large one, so both workers meet both sizes.
    for (int i = 0; i < 80; ++i) {
        const int size = i % 5 == 4 ? 2048 : 1024;
        const std::string name = dir + "/batch-" + std::to_string(i);
        files.push_back({name + ".tga", name + "_n.tga", name + "_floor.tga",
                         kHeaderSize + 3 * static_cast<std::size_t>(size) * static_cast<std::size_t>(size)});
        total += files.back().bytes;
        SCreateBumpMap job = {};
        std::snprintf(job.srcpath, sizeof job.srcpath, "%s", files.back().src.c_str());
        std::snprintf(job.dstpath, sizeof job.dstpath, "%s", files.back().dst.c_str());
        job.texelsize = 1.0f;
        jobs.push_back(job);
        if (!WriteSource(files.back(), size, static_cast<std::uint32_t>(i))) {
            std::fprintf(stderr, "cannot write %s\n", files.back().src.c_str());
            return 1;
        }
    }

    int failed = 0;
    // The pair form, as quarnel-convert SRC DST ... runs it; the clock runs
    // from the plan's check to the last job's end.
    const auto batch = [&](int workers) {
        SQuarnelBatchOptions options;
        QuarnelBatchInitOptions(&options);
        options.workers = workers;
        QuarnelBatch* b = QuarnelBatchCreate(&options);
        for (const SFile& f : files) {
            QuarnelBatchAdd(b, f.src.c_str());
            QuarnelBatchAdd(b, f.dst.c_str());
        }
        SQuarnelBatchCounts counts = {sizeof counts, 0, 0, 0, 0, 0, 0, 0, 0};
        const double start = Seconds();
        const int status = QuarnelBatchRun(b, &counts);
        const double seconds = Seconds() - start;
        failed += status != QUARNEL_BATCH_DONE ? std::max(counts.failed, 1) : 0;
        QuarnelBatchDestroy(b);
        return seconds;
    };
    SPool floor, direct;
    floor.files = direct.files = &files;
    floor.jobs = nullptr;
    direct.jobs = &jobs;
    floor.ok = true;
    const auto pool = [&](SPool& p, int threads) {
        const double start = Seconds();
        p.next = 0;
        RunThreads(threads, TakeFiles, &p);
        return Seconds() - start;
    };
    // One untimed round of each, then all alternated, so each sees the same
    // page cache, writeback and load of the machine.
    batch(kWorkers);
    pool(floor, kWorkers);
    std::vector<double> one, two, calls, ioOne, io, speedup, ioSpeedup, overFloor, overCalls;
    for (int r = 0; r < repeat; ++r) {
        one.push_back(batch(1));
        two.push_back(batch(kWorkers));
        calls.push_back(pool(direct, kWorkers));
        ioOne.push_back(pool(floor, 1));
        io.push_back(pool(floor, kWorkers));
        // Ratios within a round, where the machine's other load is alike.
        speedup.push_back(one.back() / two.back());
        ioSpeedup.push_back(ioOne.back() / io.back());
        overFloor.push_back(two.back() / io.back());
        overCalls.push_back(two.back() / calls.back());
    }
    if (failed != 0 || !floor.ok) {
        std::fprintf(stderr, "batch: %d jobs failed, I/O floor %s\n", failed, floor.ok ? "ok" : "failed");
        return 1;
    }

    const double mb = static_cast<double>(total) / 1e6;
    const auto line = [&](const char* what, double t) {
        std::printf("  %-22s %7.2f s  %6.1f files/s  %6.0f MB/s", what, t, static_cast<double>(files.size()) / t,
                    mb / t);
    };
    std::printf("batch: 64 sources of 1024^2 and 16 of 2048^2 (%.0f MB), median of %d rounds, wall-clock time\n", mb,
                repeat);
    line("one at a time", Median(one));
    std::printf("\n");
    line("2 workers", Median(two));
    std::printf("  x one at a time %4.2f\n", Median(speedup));
    line("bare calls, 2 threads", Median(calls));
    std::printf("  2 workers / bare %4.2f\n", Median(overCalls));
    // How far the same file traffic alone gains from a second thread: the
    // most two workers could gain where the disk and memory are the limit.
    line("I/O floor, one thread", Median(ioOne));
    std::printf("\n");
    line("I/O floor, 2 threads", Median(io));
    std::printf("  x one thread %4.2f  2 workers / floor %4.2f\n", Median(ioSpeedup), Median(overFloor));
    for (const SFile& f : files) {
        std::remove(f.src.c_str());
        std::remove(f.dst.c_str());
        std::remove(f.floorDst.c_str());
    }
    return 0;
}
