// Every allocation the job makes, failed one at a time. This binary is linked
// with --wrap=malloc and --wrap=free, so the calls its own objects make (the
// library's among them) pass through the counting allocator below; the C
// runtime's internal allocations are not affected. While armed, the Nth call
// returns null and every block handed out is tracked until it is freed.
#include <gtest/gtest.h>

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "TestSupport.h"
#include "reference/ReferenceConvert.h"

extern "C" void* __real_malloc(std::size_t size);
extern "C" void __real_free(void* p);

namespace {

struct SAllocator {
    bool armed = false;
    int calls = 0;
    int failAt = 0;  // 0: none fails
    std::vector<void*>* live = nullptr;
};

SAllocator& Allocator()
{
    static SAllocator a;
    return a;
}

}  // namespace

extern "C" void* __wrap_malloc(std::size_t size)
{
    SAllocator& a = Allocator();
    if (!a.armed)
        return __real_malloc(size);
    if (++a.calls == a.failAt)
        return nullptr;
    void* p = __real_malloc(size);
    if (p != nullptr) {
        a.armed = false;  // the bookkeeping allocates too
        a.live->push_back(p);
        a.armed = true;
    }
    return p;
}

extern "C" void __wrap_free(void* p)
{
    SAllocator& a = Allocator();
    if (a.armed && p != nullptr) {
        for (auto& q : *a.live)
            if (q == p) {
                q = a.live->back();
                a.live->pop_back();
                break;
            }
    }
    __real_free(p);
}

namespace {

using namespace testsupport;
using Strings = std::vector<std::string>;

struct SRun {
    Strings messages;
    int allocations;
    std::size_t leaked;
};

// One job with the failAt-th allocation failing (0: none).
SRun RunWithFailure(const SCreateBumpMap& job, int failAt)
{
    std::vector<void*> live;
    live.reserve(64);
    SRun run;
    const std::string captured = CaptureStderr([&] {
        SAllocator& a = Allocator();
        a.calls = 0;
        a.failAt = failAt;
        a.live = &live;
        a.armed = true;
        SCreateBumpMap copy = job;
        CreateBumpMaps(&copy, 1);
        a.armed = false;
        run.allocations = a.calls;
    });
    run.messages = Messages(captured);
    run.leaked = live.size();
    return run;
}

TEST(Allocation, EachFailedAllocationEndsTheJobCleanly)
{
    TempDir tmp;
    const std::string src = tmp.Path("src.tga"), dst = tmp.Path("dst.tga");
    STgaFields withPrefix;
    withPrefix.width = 7;
    withPrefix.height = 3;
    withPrefix.idlen = 4;
    withPrefix.cmaptype = 1;
    withPrefix.cmaplen = 2;
    withPrefix.cmapbits = 24;
    struct SCase {
        const char* name;
        Bytes source;
    };
    const std::vector<SCase> cases = {
        {"plain", RandomTga(9, 4, 30)},
        {"ID and colour map", TgaFile(withPrefix, Bytes(10, 0x44), RandomPixels(7, 3, 31))},
        {"one pixel", RandomTga(1, 1, 32)},
    };
    const Bytes kept = {'k', 'e', 'p', 't'};
    for (const auto& t : cases) {
        SCOPED_TRACE(t.name);
        WriteFile(src, t.source);
        const SCreateBumpMap job = Job(src, dst);
        const SRun clean = RunWithFailure(job, 0);
        ASSERT_EQ(clean.messages, Strings{});
        ASSERT_GE(clean.allocations, 1);
        EXPECT_EQ(clean.leaked, 0u);
        for (int k = 1; k <= clean.allocations; ++k) {
            SCOPED_TRACE(::testing::Message() << "allocation " << k << " of " << clean.allocations);
            WriteFile(dst, kept);
            const int before = OpenDescriptorCount();
            const SRun run = RunWithFailure(job, k);
            EXPECT_EQ(run.messages, Strings{"'" + src + "' out of memory"});
            EXPECT_EQ(run.leaked, 0u);
            EXPECT_EQ(OpenDescriptorCount(), before);
            EXPECT_EQ(ReadFile(dst), kept);
        }
        // And with nothing failing, the same job still converts.
        EXPECT_EQ(RunWithFailure(job, 0).messages, Strings{});
        EXPECT_EQ(ReadFile(dst), reference::ConvertFile(t.source, 1.0f));
    }
}

}  // namespace
