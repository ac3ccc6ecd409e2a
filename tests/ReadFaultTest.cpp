// Faults in the middle of a job. This binary is linked with --wrap=fread,
// --wrap=fsync, --wrap=fclose, --wrap=rename and --wrap=open, so the
// library's calls pass through the wrappers below. At a chosen read they cut
// the source short (another program rewriting it while the job runs) or swap
// the stream's descriptor for one that cannot be read (a failing disk). They
// count the flushes a job asks for, and can fail a flush, the destination's
// close or the rename that puts it in place. Where the job creates its
// temporary file, they can take that name first, as another process might,
// and they note a destination opened while the source still is.
#include <gtest/gtest.h>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <tuple>
#include <vector>

#include "TestSupport.h"
#include "reference/ReferenceConvert.h"

extern "C" std::size_t __real_fread(void* data, std::size_t size, std::size_t count, std::FILE* f);
extern "C" int __real_fsync(int fd);
extern "C" int __real_fclose(std::FILE* f);
extern "C" int __real_rename(const char* from, const char* to);
extern "C" int __real_open(const char* path, int flags, ...);

namespace {

enum class EFault { kNone, kCutShort, kReadError };
enum class EStep { kNone, kFlush, kClose, kRename };  // the step of the commit that fails

struct SInjector {
    EFault fault = EFault::kNone;
    int atCall = 0;
    int calls = 0;
    std::string path;
    int flushes = 0;
    EStep fail = EStep::kNone;
    bool takeTempName = false;  // the first temporary name, taken before the job's own create
    std::string taken;
    int tempFd = -1;  // the job's temporary file, made with O_EXCL
    int writesWhileSourceOpen = 0;
};

SInjector& Injector()
{
    static SInjector i;
    return i;
}

// Whether this process has the file at path open for reading.
bool OpenForReading(const std::string& path)
{
    struct stat want, st;
    if (stat(path.c_str(), &want) != 0)
        return false;
    for (int fd = 0; fd < 1024; ++fd)
        if (fstat(fd, &st) == 0 && st.st_dev == want.st_dev && st.st_ino == want.st_ino &&
            (fcntl(fd, F_GETFL) & O_ACCMODE) == O_RDONLY)
            return true;
    return false;
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
    if (Injector().fail != EStep::kFlush)
        return __real_fsync(fd);
    errno = EIO;
    return -1;
}

// Closed all the same: a failed close still releases the descriptor.
extern "C" int __wrap_fclose(std::FILE* f)
{
    const bool fail = Injector().fail == EStep::kClose && fileno(f) == Injector().tempFd;
    const int closed = __real_fclose(f);
    errno = fail ? EIO : errno;
    return fail ? EOF : closed;
}

extern "C" int __wrap_rename(const char* from, const char* to)
{
    if (Injector().fail != EStep::kRename)
        return __real_rename(from, to);
    errno = EIO;
    return -1;
}

extern "C" int __wrap_open(const char* path, int flags, ...)
{
    va_list args;
    va_start(args, flags);
    const mode_t mode = (flags & O_CREAT) != 0 ? static_cast<mode_t>(va_arg(args, int)) : 0;
    va_end(args);
    SInjector& i = Injector();
    if ((flags & O_ACCMODE) != O_RDONLY && !i.path.empty() && OpenForReading(i.path))
        ++i.writesWhileSourceOpen;
    // Only a name that can be made: the usual one may be too long.
    const int theirs = (flags & O_CREAT) != 0 && i.takeTempName && std::string(path).find(".quarnel-") != std::string::npos
                           ? __real_open(path, O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0600)
                           : -1;
    if (theirs >= 0) {
        if (write(theirs, "theirs", 6) != 6 || close(theirs) != 0)
            std::abort();
        i.takeTempName = false;
        i.taken = path;
    }
    const int fd = __real_open(path, flags, mode);
    i.tempFd = (flags & O_EXCL) != 0 && fd >= 0 ? fd : i.tempFd;
    return fd;
}

namespace {

using namespace testsupport;

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
        {"cut before the header", EFault::kCutShort, 1, Quote(src) + " is truncated"},
        {"cut before the pixels", EFault::kCutShort, 2, Quote(src) + " is truncated"},
        {"unreadable before the header", EFault::kReadError, 1, "Cant read " + Quote(src)},
        {"unreadable before the pixels", EFault::kReadError, 2, "Cant read " + Quote(src)},
        {"nothing injected", EFault::kNone, 0, ""},
    };
    for (const auto& t : cases) {
        SCOPED_TRACE(t.name);
        WriteFile(src, source);
        WriteFile(dst, kept);
        SInjector& i = Injector();
        i = SInjector();
        i.fault = t.fault;
        i.atCall = t.atCall;
        i.path = src;
        const Strings messages = RunJobs({Job(src, dst)});
        i.fault = EFault::kNone;
        EXPECT_GE(i.calls, t.atCall);
        EXPECT_EQ(messages, t.message.empty() ? Strings{} : Strings{t.message});
        EXPECT_EQ(ReadFile(dst), t.message.empty() ? reference::ConvertFile(source, 1.0f) : kept);
    }
}

// Only a conversion in place waits for the disk, however the destination
// names the source; a flush, close or rename that fails there leaves the
// source as it was, and no temporary file.
// The source is closed before any destination opens (Windows could not
// replace a file still open), and a temporary name another process took
// first is left to it.
TEST(FlushFault, OnlyConversionsInPlaceAreFlushed)
{
    TempDir tmp;
    const std::string src = tmp.Path("src.tga"), hard = tmp.Path("hard.tga"), again = tmp.Path("sub/../src.tga");
    ASSERT_TRUE(MakeFolder(tmp.Path("sub")));
    ASSERT_EQ(symlink(tmp.dir.c_str(), tmp.Path("alias").c_str()) | symlink("src.tga", tmp.Path("soft").c_str()), 0);
    const Bytes source = RandomTga(6, 5, 51);
    // Destination, the flushes it takes, and the step made to fail.
    const EStep none = EStep::kNone;
    const std::tuple<std::string, int, EStep> cases[] = {
        {tmp.Path("new.tga"), 0, none}, {tmp.Path("old.tga"), 0, none},  // not in place
        {tmp.Path(std::string(250, 'n')), 0, none},  // its temporary name the short one, in the same folder
        {src, 1, none}, {tmp.dir + "/./src.tga", 1, none}, {again, 1, none}, {tmp.Path("alias/src.tga"), 1, none},
        {hard, 1, none}, {tmp.Path("soft"), 1, none},  // written directly
        {src, 1, EStep::kFlush}, {again, 1, EStep::kFlush}, {src, 1, EStep::kClose}, {src, 1, EStep::kRename}};
    for (const auto& [dst, flushes, fail] : cases) {
        SCOPED_TRACE(dst + ", " + std::to_string(flushes) + ", step " + std::to_string(static_cast<int>(fail)));
        WriteFile(src, source);
        WriteFile(tmp.Path("old.tga"), {'o'});
        unlink(hard.c_str());
        ASSERT_EQ(dst == hard ? link(src.c_str(), hard.c_str()) : 0, 0);  // two links: written directly
        Injector() = SInjector{};
        Injector().path = src;
        Injector().fail = fail;
        Injector().takeTempName = true;
        const Strings messages = RunJobs({Job(src, dst)});
        Injector().fail = none;
        EXPECT_EQ(Injector().flushes, flushes);
        EXPECT_EQ(Injector().writesWhileSourceOpen, 0);
        EXPECT_EQ(ReadFile(dst), fail != none ? source : reference::ConvertFile(source, 1.0f));
        // The name taken first stays as its owner left it.
        Strings expected = fail != none ? Strings{"Cant write " + Quote(dst)} : Strings{};
        if (const std::string taken = Injector().taken; !taken.empty()) {
            expected.push_back("(temporary file left: " + taken.substr(taken.rfind('/') + 1) + ")");
            EXPECT_EQ(ReadFile(taken), (Bytes{'t', 'h', 'e', 'i', 'r', 's'}));
            unlink(taken.c_str());
        }
        EXPECT_EQ(messages, expected);
    }
}

}  // namespace
