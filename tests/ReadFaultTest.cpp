// Read faults in the middle of a job. This binary is linked with --wrap=fread,
// so the library's reads pass through the wrapper below, which, at a chosen
// call, either cuts the source short (another program rewriting it while the
// job runs) or swaps the stream's descriptor for one that cannot be read (a
// failing disk), then lets the read go ahead. With --wrap=fsync it also
// counts the flushes a job asks for, and can fail them.
#include <gtest/gtest.h>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>

#include <cstdio>
#include <string>
#include <vector>

#include "TestSupport.h"
#include "reference/ReferenceConvert.h"

extern "C" std::size_t __real_fread(void* data, std::size_t size, std::size_t count, std::FILE* f);
extern "C" int __real_fsync(int fd);

namespace {

enum class EFault { kNone, kCutShort, kReadError };

struct SInjector {
    EFault fault = EFault::kNone;
    int atCall = 0;
    int calls = 0;
    std::string path;
    int flushes = 0;
    bool failFlush = false;
};

SInjector& Injector()
{
    static SInjector i;
    return i;
}

}  // namespace

extern "C" std::size_t __wrap_fread(void* data, std::size_t size, std::size_t count, std::FILE* f)
{
    SInjector& i = Injector();
    if (i.fault != EFault::kNone && ++i.calls == i.atCall) {
        if (i.fault == EFault::kCutShort) {
            if (truncate(i.path.c_str(), 40) != 0)
                std::abort();
        } else {
            const int unreadable = open("/dev/null", O_WRONLY | O_CLOEXEC);
            if (unreadable < 0 || dup2(unreadable, fileno(f)) < 0)
                std::abort();
            close(unreadable);
        }
    }
    return __real_fread(data, size, count, f);
}

extern "C" int __wrap_fsync(int fd)
{
    ++Injector().flushes;
    if (!Injector().failFlush)
        return __real_fsync(fd);
    errno = EIO;
    return -1;
}

namespace {

using namespace testsupport;
using Strings = std::vector<std::string>;

TEST(ReadFault, SourceChangingOrFailingMidJobIsReportedAndWritesNothing)
{
    TempDir tmp;
    const std::string src = tmp.Path("src.tga"), dst = tmp.Path("dst.tga");
    // Larger than a stdio buffer, so the pixels are read after the header.
    const Bytes source = RandomTga(100, 100, 50);
    const Bytes kept = {'k', 'e', 'p', 't'};
    struct SCase {
        const char* name;
        EFault fault;
        int atCall;
        std::string message;
    };
    const std::vector<SCase> cases = {
        {"cut before the header", EFault::kCutShort, 1, "'" + src + "' is truncated"},
        {"cut before the pixels", EFault::kCutShort, 2, "'" + src + "' is truncated"},
        {"unreadable before the header", EFault::kReadError, 1, "Cant read '" + src + "'"},
        {"unreadable before the pixels", EFault::kReadError, 2, "Cant read '" + src + "'"},
    };
    for (const auto& t : cases) {
        SCOPED_TRACE(t.name);
        WriteFile(src, source);
        WriteFile(dst, kept);
        SInjector& i = Injector();
        i = SInjector{t.fault, t.atCall, 0, src};
        const int before = OpenDescriptorCount();
        const Strings messages = RunJobs({Job(src, dst)});
        i.fault = EFault::kNone;
        EXPECT_GE(i.calls, t.atCall);
        EXPECT_EQ(messages, Strings{t.message});
        EXPECT_EQ(ReadFile(dst), kept);
        EXPECT_EQ(OpenDescriptorCount(), before);
    }
    // Nothing injected: the same job converts.
    WriteFile(src, source);
    EXPECT_EQ(RunJobs({Job(src, dst)}), Strings{});
    EXPECT_EQ(ReadFile(dst), reference::ConvertFile(source, 1.0f));
}

// Only a conversion in place waits for the disk, however the destination
// names the source; a flush that fails there leaves the source as it was.
TEST(FlushFault, OnlyConversionsInPlaceAreFlushed)
{
    TempDir tmp;
    const std::string src = tmp.Path("src.tga"), hard = tmp.Path("hard.tga"), again = tmp.Path("sub/../src.tga");
    ASSERT_EQ(mkdir(tmp.Path("sub").c_str(), 0700), 0);
    ASSERT_EQ(symlink(tmp.dir.c_str(), tmp.Path("alias").c_str()) | symlink("src.tga", tmp.Path("soft").c_str()), 0);
    const Bytes source = RandomTga(6, 5, 51);
    // Destination and the flushes it takes; -1: one, and it fails.
    const std::pair<std::string, int> cases[] = {
        {tmp.Path("new.tga"), 0}, {tmp.Path("old.tga"), 0},                                 // not in place
        {src, 1}, {tmp.dir + "/./src.tga", 1}, {again, 1}, {tmp.Path("alias/src.tga"), 1},  // in place
        {hard, 1}, {tmp.Path("soft"), 1}, {src, -1}, {again, -1}};  // written directly; failing flushes
    for (const auto& [dst, flushes] : cases) {
        SCOPED_TRACE(dst + ", " + std::to_string(flushes));
        WriteFile(src, source);
        WriteFile(tmp.Path("old.tga"), {'o'});
        unlink(hard.c_str());
        ASSERT_EQ(dst == hard ? link(src.c_str(), hard.c_str()) : 0, 0);  // two links: written directly
        Injector() = SInjector{};
        Injector().failFlush = flushes < 0;
        EXPECT_EQ(RunJobs({Job(src, dst)}), flushes < 0 ? Strings{"Cant write '" + dst + "'"} : Strings{});
        EXPECT_EQ(Injector().flushes, std::abs(flushes));
        EXPECT_EQ(ReadFile(dst), flushes < 0 ? source : reference::ConvertFile(source, 1.0f));
        for (const auto& name : FolderNames(tmp.dir))
            EXPECT_EQ(name.find(".quarnel-"), std::string::npos) << name;
    }
}

}  // namespace
