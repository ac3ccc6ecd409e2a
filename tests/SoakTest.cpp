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
using Strings = std::vector<std::string>;

constexpr int kBatches = 20;
constexpr int kJobsPerBatch = 50;
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
    std::vector<SKind> kinds;
    auto quoted = [](const std::string& s) { return "'" + s + "'"; };
    auto addValid = [&](const std::string& name, const Bytes& file, const Bytes& expected) {
        WriteFile(tmp.Path(name), file);
        kinds.push_back({tmp.Path(name), tmp.Path(name + ".out"), "", expected});
    };
    auto addBad = [&](const std::string& name, const Bytes& file, const std::string& message) {
        WriteFile(tmp.Path(name), file);
        kinds.push_back({tmp.Path(name), tmp.Path(name + ".out"), quoted(tmp.Path(name)) + message, {}});
    };

    const Bytes plain = RandomTga(37, 23, 40);
    addValid("plain.tga", plain, reference::ConvertFile(plain, 1.0f));
    const Bytes tall = RandomTga(1, 61, 41);
    addValid("tall.tga", tall, reference::ConvertFile(tall, 1.0f));
    STgaFields mapped;
    mapped.width = 16;
    mapped.height = 9;
    mapped.idlen = 7;
    mapped.cmaptype = 1;
    mapped.cmaplen = 5;
    mapped.cmapbits = 24;
    const Bytes withPrefix = TgaFile(mapped, Bytes(22, 0x3C), RandomPixels(16, 9, 42));
    addValid("prefix.tga", withPrefix, reference::ConvertFile(withPrefix, 1.0f));
    Bytes withFooter = plain;
    const char footer[] = "\0\0\0\0\0\0\0\0TRUEVISION-XFILE.";
    withFooter.insert(withFooter.end(), footer, footer + sizeof footer);
    addValid("footer.tga", withFooter, reference::ConvertFile(plain, 1.0f));

    auto headerFault = [&](int at, std::uint8_t value) {
        Bytes b = plain;
        b[static_cast<std::size_t>(at)] = value;
        return b;
    };
    addBad("pixsize.tga", headerFault(16, 32), " tgaHeader.pixsize!=24 (pixsize==32)");
    addBad("imgtype.tga", headerFault(2, 10), " tgaHeader.imgtype!=2 (imgtype==10)");
    addBad("desc.tga", headerFault(17, 32), " tgaHeader.desc!=0 (desc==32)");
    addBad("width.tga", headerFault(13, 0x80), " tgaHeader.width<1 (width==-32731)");
    addBad("height.tga", headerFault(15, 0xFF), " tgaHeader.height<1 (height==-233)");
    addBad("short.tga", Bytes(plain.begin(), plain.end() - 1), " is truncated");
    addBad("tiny.tga", Bytes(plain.begin(), plain.begin() + 17), " is truncated");
    STgaFields huge;
    huge.width = 32767;
    huge.height = 32767;
    addBad("huge.tga", TgaFile(huge, {}, RandomPixels(8, 8, 43)), " is truncated");

    const std::string missing = tmp.Path("missing.tga"), folder = tmp.Path("folder");
    ASSERT_EQ(mkdir(folder.c_str(), 0700), 0);
    kinds.push_back({missing, tmp.Path("missing.out"), "Cant open " + quoted(missing) + " for reading", {}});
    kinds.push_back({folder, tmp.Path("folder.out"), "Cant open " + quoted(folder) + " for reading", {}});
    const std::string fifo = tmp.Path("fifo");
    ASSERT_EQ(mkfifo(fifo.c_str(), 0600), 0);
    kinds.push_back({fifo, tmp.Path("fifo.out"), "Cant open " + quoted(fifo) + " for reading", {}});
    const std::string nowhere = tmp.Path("nowhere") + "/x.tga";
    kinds.push_back({tmp.Path("plain.tga"), nowhere, "Cant open " + quoted(nowhere) + " for writing", {}});
    kinds.push_back({tmp.Path("plain.tga"), folder, "Cant open " + quoted(folder) + " for writing", {}});
    const std::string full = Device(tmp, "full");
    kinds.push_back({tmp.Path("plain.tga"), full, "Cant write " + quoted(full), {}});
    kinds.push_back({"", "", "srcpath is not terminated within 512 bytes", {}, true});

    // One batch of records, every kind in turn, and the messages it must give.
    std::vector<SCreateBumpMap> batch;
    Strings expectedMessages;
    for (int i = 0; i < kJobsPerBatch; ++i) {
        const SKind& k = kinds[static_cast<std::size_t>(i) % kinds.size()];
        SCreateBumpMap job = Job(k.src, k.dst);
        if (k.unterminated)
            std::memset(job.srcpath, 'a', sizeof job.srcpath);
        batch.push_back(job);
        if (!k.message.empty())
            expectedMessages.push_back(k.message);
    }

    std::size_t heapAfterWarmUp = 0;
    int descriptorsAfterWarmUp = 0;
    for (int b = 0; b < kBatches; ++b) {
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
    RecordProperty("jobs", kBatches * kJobsPerBatch);
    RecordProperty("heap_in_use", static_cast<int>(heapAfterWarmUp));
    RecordProperty("descriptors", descriptorsAfterWarmUp);
}

}  // namespace
