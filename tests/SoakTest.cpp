// A long-running host in miniature: one process runs 1,000 mixed jobs, good
// and bad, in batches, and checks after each batch that the open descriptors
// and the heap in use are where they were after a warm-up, and that every
// valid job wrote exactly the bytes the reference computes. Its own binary, so
// nothing else in the process moves the heap. Under AddressSanitizer the heap
// figure is the sanitizer's business: LeakSanitizer fails the run on a leak.
#include <gtest/gtest.h>
#include <malloc.h>
#include <sys/stat.h>

#include <cstring>
#include <string>
#include <vector>

#include "TestSupport.h"
#include "reference/ReferenceConvert.h"

namespace {

using namespace testsupport;

constexpr int kJobs = 1000;
constexpr int kWarmUp = 2;

struct SKind {
    std::string src, dst;
    std::string message;  // empty for a job that must convert
    Bytes expected;       // the destination of a converting job
    bool unterminated = false;
};

std::size_t HeapInUse()
{
    return mallinfo2().uordblks;
}

TEST(Soak, ThousandMixedJobsLeaveDescriptorsAndHeapFlat)
{
    TempDir tmp;
    // Every source the hosts convert or refuse, and every file that cannot be
    // opened, read or written.
    std::vector<SKind> kinds;
    for (const SAccepted& a : AcceptedSources()) {
        const std::string src = tmp.Path(std::to_string(kinds.size()) + ".tga");
        WriteFile(src, a.file);
        kinds.push_back({src, src + ".out", "", reference::ConvertFile(a.file, 1.0f)});
    }
    for (const SRefused& r : RefusedSources()) {
        const std::string src = tmp.Path(std::to_string(kinds.size()) + ".tga");
        WriteFile(src, r.file);
        kinds.push_back({src, src + ".out", Quote(src) + r.message, {}});
    }
    const std::string valid = kinds.front().src, missing = tmp.Path("missing.tga"), folder = tmp.Path("folder");
    const std::string fifo = tmp.Path("fifo"), nowhere = tmp.Path("nowhere") + "/x.tga", full = Device(tmp, "full");
    ASSERT_TRUE(MakeFolder(folder));
    ASSERT_EQ(mkfifo(fifo.c_str(), 0600), 0);
    for (const std::string& unreadable : {missing, folder, fifo})
        kinds.push_back({unreadable, tmp.Path("unread.out"), "Cant open " + Quote(unreadable) + " for reading", {}});
    for (const std::string& unwritable : {nowhere, folder})
        kinds.push_back({valid, unwritable, "Cant open " + Quote(unwritable) + " for writing", {}});
    kinds.push_back({valid, full, "Cant write " + Quote(full), {}});
    kinds.push_back({"", "", "srcpath is not terminated within 512 bytes", {}, true});

    // One batch of records, every kind once, and the messages it must give.
    std::vector<SCreateBumpMap> batch;
    Strings expectedMessages;
    for (const SKind& k : kinds) {
        batch.push_back(Job(k.src, k.dst));
        if (k.unterminated)
            std::memset(batch.back().srcpath, 'a', sizeof batch.back().srcpath);
        if (!k.message.empty())
            expectedMessages.push_back(k.message);
    }

    const int batches = (kJobs + static_cast<int>(batch.size()) - 1) / static_cast<int>(batch.size());
    std::size_t heapAfterWarmUp = 0;
    int descriptorsAfterWarmUp = 0;
    for (int b = 0; b < batches; ++b) {
        SCOPED_TRACE(::testing::Message() << "batch " << b);
        for (const SKind& k : kinds)
            if (k.message.empty())
                std::remove(k.dst.c_str());
        ASSERT_EQ(RunJobs(batch), expectedMessages);
        for (const SKind& k : kinds) {
            if (k.message.empty()) {
                ASSERT_EQ(ReadFile(k.dst), k.expected) << k.src;
            }
        }
        const std::size_t heap = HeapInUse();
        const int descriptors = OpenDescriptorCount();
        if (b + 1 == kWarmUp) {
            heapAfterWarmUp = heap;
            descriptorsAfterWarmUp = descriptors;
        } else if (b + 1 > kWarmUp) {
            ASSERT_EQ(descriptors, descriptorsAfterWarmUp);
#if !defined(QUARNEL_ASAN)
            ASSERT_EQ(heap, heapAfterWarmUp);
#endif
        }
    }
    RecordProperty("jobs", batches * static_cast<int>(batch.size()));
    RecordProperty("heap_in_use", static_cast<int>(heapAfterWarmUp));
    RecordProperty("descriptors", descriptorsAfterWarmUp);
}

}  // namespace
