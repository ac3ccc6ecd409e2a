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

// The library's CreateBumpMaps with its allocations counted, the failAt-th
// failing (0: none), and every block it keeps afterwards in Allocator().live.
void ArmedCreateBumpMaps(SCreateBumpMap* maps, int count)
{
    SAllocator& a = Allocator();
    a.calls = 0;
    a.live->clear();
    a.armed = true;
    CreateBumpMaps(maps, count);
    a.armed = false;
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
    const std::pair<const char*, Bytes> cases[] = {
        {"plain", RandomTga(9, 4, 30)},
        {"ID and colour map", TgaFile(withPrefix, Bytes(10, 0x44), RandomPixels(7, 3, 31))},
        {"one pixel", RandomTga(1, 1, 32)},
    };
    std::vector<void*> live;
    live.reserve(64);
    SAllocator& a = Allocator();
    a.live = &live;
    const Bytes kept = {'k', 'e', 'p', 't'};
    for (const auto& [name, source] : cases) {
        SCOPED_TRACE(name);
        WriteFile(src, source);
        a.failAt = 0;
        ASSERT_EQ(RunJobs({Job(src, dst)}, ArmedCreateBumpMaps), Strings{});
        const int allocations = a.calls;
        ASSERT_GE(allocations, 1);
        EXPECT_EQ(live.size(), 0u);
        for (a.failAt = 1; a.failAt <= allocations; ++a.failAt) {
            SCOPED_TRACE(::testing::Message() << "allocation " << a.failAt << " of " << allocations);
            WriteFile(dst, kept);
            EXPECT_EQ(RunJobs({Job(src, dst)}, ArmedCreateBumpMaps), Strings{Quote(src) + " out of memory"});
            EXPECT_EQ(live.size(), 0u);
            EXPECT_EQ(ReadFile(dst), kept);
        }
        // And with nothing failing, the same job still converts.
        a.failAt = 0;
        EXPECT_EQ(RunJobs({Job(src, dst)}, ArmedCreateBumpMaps), Strings{});
        EXPECT_EQ(ReadFile(dst), reference::ConvertFile(source, 1.0f));
    }
}

}  // namespace
