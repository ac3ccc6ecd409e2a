// The conversion job end to end through CreateBumpMaps: messages, files and
// the behaviours chosen where the TGA header and the file disagree.
#include <gtest/gtest.h>

#include <fcntl.h>
#include <poll.h>
#include <sched.h>
#include <signal.h>
#include <sys/inotify.h>
#include <sys/mount.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <functional>
#include <string>
#include <thread>
#include <vector>

#include "TestSupport.h"
#include "reference/ReferenceConvert.h"

namespace {

using namespace testsupport;
using Strings = std::vector<std::string>;

std::string Quote(const std::string& path)
{
    return "'" + path + "'";
}

// No job, good or failed, leaves a temporary file beside its destination.
void ExpectNoTemporaryFiles(const std::string& dir)
{
    for (const auto& name : FolderNames(dir))
        EXPECT_EQ(name.find(".quarnel-"), std::string::npos) << name;
}

struct SHeaderCase {
    const char* name;
    STgaFields fields;
    std::string message;  // after the quoted source path
};

STgaFields With(void (*edit)(STgaFields&))
{
    STgaFields f;
    f.width = 6;
    f.height = 5;
    edit(f);
    return f;
}

// Every refused header: exactly one message, the first fault only, and an
// existing destination left as it was.
TEST(Job, RefusedHeadersGiveTheirMessageAndLeaveTheDestination)
{
    const std::vector<SHeaderCase> cases = {
        {"32-bit", With([](STgaFields& f) { f.pixsize = 32; }), " tgaHeader.pixsize!=24 (pixsize==32)"},
        {"32-bit rle", With([](STgaFields& f) { f.pixsize = 32; f.imgtype = 10; f.desc = 8; }),
         " tgaHeader.pixsize!=24 (pixsize==32)"},
        {"8-bit", With([](STgaFields& f) { f.pixsize = 8; }), " tgaHeader.pixsize!=24 (pixsize==8)"},
        {"16-bit", With([](STgaFields& f) { f.pixsize = 16; }), " tgaHeader.pixsize!=24 (pixsize==16)"},
        {"pixsize 0", With([](STgaFields& f) { f.pixsize = 0; }), " tgaHeader.pixsize!=24 (pixsize==0)"},
        {"pixsize 255", With([](STgaFields& f) { f.pixsize = 255; }),
         " tgaHeader.pixsize!=24 (pixsize==255)"},
        {"rle", With([](STgaFields& f) { f.imgtype = 10; }), " tgaHeader.imgtype!=2 (imgtype==10)"},
        {"rle top-down", With([](STgaFields& f) { f.imgtype = 10; f.desc = 32; }),
         " tgaHeader.imgtype!=2 (imgtype==10)"},
        {"colour-mapped", With([](STgaFields& f) { f.imgtype = 1; }), " tgaHeader.imgtype!=2 (imgtype==1)"},
        {"grey", With([](STgaFields& f) { f.imgtype = 3; }), " tgaHeader.imgtype!=2 (imgtype==3)"},
        {"rle colour-mapped", With([](STgaFields& f) { f.imgtype = 9; }),
         " tgaHeader.imgtype!=2 (imgtype==9)"},
        {"rle grey", With([](STgaFields& f) { f.imgtype = 11; }), " tgaHeader.imgtype!=2 (imgtype==11)"},
        {"no image", With([](STgaFields& f) { f.imgtype = 0; }), " tgaHeader.imgtype!=2 (imgtype==0)"},
        {"type 255", With([](STgaFields& f) { f.imgtype = 255; }),
         " tgaHeader.imgtype!=2 (imgtype==255)"},
        {"top-down", With([](STgaFields& f) { f.desc = 32; }), " tgaHeader.desc!=0 (desc==32)"},
        {"alpha bits", With([](STgaFields& f) { f.desc = 8; }), " tgaHeader.desc!=0 (desc==8)"},
        {"right-left", With([](STgaFields& f) { f.desc = 16; }), " tgaHeader.desc!=0 (desc==16)"},
        {"desc 48", With([](STgaFields& f) { f.desc = 48; }), " tgaHeader.desc!=0 (desc==48)"},
        {"desc 64", With([](STgaFields& f) { f.desc = 64; }), " tgaHeader.desc!=0 (desc==64)"},
        {"desc 128", With([](STgaFields& f) { f.desc = 128; }), " tgaHeader.desc!=0 (desc==128)"},
        {"width 0", With([](STgaFields& f) { f.width = 0; }), " tgaHeader.width<1 (width==0)"},
        {"width 0x8000", With([](STgaFields& f) { f.width = 0x8000; }),
         " tgaHeader.width<1 (width==-32768)"},
        {"width 0xFFFF", With([](STgaFields& f) { f.width = 0xFFFF; }), " tgaHeader.width<1 (width==-1)"},
        {"height 0", With([](STgaFields& f) { f.height = 0; }), " tgaHeader.height<1 (height==0)"},
        {"height 0x8000", With([](STgaFields& f) { f.height = 0x8000; }),
         " tgaHeader.height<1 (height==-32768)"},
        {"height 0xFFFF", With([](STgaFields& f) { f.height = 0xFFFF; }),
         " tgaHeader.height<1 (height==-1)"},
        {"both 0", With([](STgaFields& f) { f.width = 0; f.height = 0; }),
         " tgaHeader.width<1 (width==0)"},
    };
    TempDir tmp;
    const std::string src = tmp.Path("src.tga"), dst = tmp.Path("dst.tga");
    const Bytes before = {'k', 'e', 'e', 'p'};
    for (const auto& t : cases) {
        SCOPED_TRACE(t.name);
        WriteFile(src, TgaFile(t.fields, {}, RandomPixels(64, 64, 1)));
        WriteFile(dst, before);
        EXPECT_EQ(RunJobs({Job(src, dst)}), Strings{Quote(src) + t.message});
        EXPECT_EQ(ReadFile(dst), before);
    }
}

// Sources that hold less than their header declares, and files too short to
// have a header, are refused before any buffer is sized from the header.
TEST(Job, TruncatedSourcesAreRefused)
{
    STgaFields idfield;
    idfield.width = 2;
    idfield.height = 2;
    idfield.idlen = 255;
    STgaFields cmap;
    cmap.width = 2;
    cmap.height = 2;
    cmap.cmaptype = 1;
    cmap.cmaplen = 256;
    cmap.cmapbits = 24;
    STgaFields huge;
    huge.width = 32767;
    huge.height = 32767;
    const Bytes valid = RandomTga(6, 5, 2);
    struct SCase {
        const char* name;
        Bytes file;
    };
    const std::vector<SCase> cases = {
        {"empty", {}},
        {"17 bytes", Bytes(valid.begin(), valid.begin() + 17)},
        {"header only", Bytes(valid.begin(), valid.begin() + 18)},
        {"one byte short", Bytes(valid.begin(), valid.end() - 1)},
        {"ends inside the ID", TgaFile(idfield, Bytes(100, 7), {})},
        {"ID but no pixels", TgaFile(idfield, Bytes(255, 7), RandomPixels(2, 1, 3))},
        {"colour map runs past the end", TgaFile(cmap, Bytes(700, 1), {})},
        {"32767 x 32767 in a small file", TgaFile(huge, {}, RandomPixels(64, 64, 4))},
    };
    TempDir tmp;
    const std::string src = tmp.Path("src.tga"), dst = tmp.Path("dst.tga");
    for (const auto& t : cases) {
        SCOPED_TRACE(t.name);
        WriteFile(src, t.file);
        std::remove(dst.c_str());
        EXPECT_EQ(RunJobs({Job(src, dst)}), Strings{Quote(src) + " is truncated"});
        EXPECT_FALSE(FileExists(dst));
    }
}

TEST(Job, UnopenableSourcesAndDestinations)
{
    TempDir tmp;
    const std::string src = tmp.Path("src.tga"), dst = tmp.Path("dst.tga");
    WriteFile(src, RandomTga(6, 5, 5));
    const std::string missing = tmp.Path("missing.tga");
    const std::string folder = tmp.Path("folder");
    const std::string fifo = tmp.Path("fifo");
    ASSERT_EQ(mkdir(folder.c_str(), 0700), 0);
    ASSERT_EQ(mkfifo(fifo.c_str(), 0600), 0);
    const std::string inMissingFolder = tmp.Path("nowhere") + "/dst.tga";
    const std::string underAFile = src + "/dst.tga";  // ENOTDIR
    // 500 bytes: the message naming it must reach the user whole.
    const std::string longMissing =
        tmp.Path(std::string(250, 'a') + "/" + std::string(250, 'b')).substr(0, 500);

    // A folder or a FIFO as the source must be refused, not read or waited on.
    for (const auto& bad : {missing, folder, fifo, underAFile, std::string(), longMissing}) {
        SCOPED_TRACE(bad);
        EXPECT_EQ(RunJobs({Job(bad, dst)}), Strings{"Cant open " + Quote(bad) + " for reading"});
        EXPECT_FALSE(FileExists(dst));
    }
    for (const auto& bad : {folder, inMissingFolder, fifo, underAFile, std::string()}) {
        SCOPED_TRACE(bad);
        EXPECT_EQ(RunJobs({Job(src, bad)}), Strings{"Cant open " + Quote(bad) + " for writing"});
    }
    EXPECT_EQ(ReadFile(src), RandomTga(6, 5, 5));
    if (geteuid() != 0) {  // root may write anything
        const std::string readOnly = tmp.Path("readonly.tga");
        WriteFile(readOnly, {1, 2, 3});
        chmod(readOnly.c_str(), 0400);
        EXPECT_EQ(RunJobs({Job(src, readOnly)}), Strings{"Cant open " + Quote(readOnly) + " for writing"});
        EXPECT_EQ(ReadFile(readOnly), (Bytes{1, 2, 3}));
    }
}

TEST(Job, FailedWriteIsReported)
{
    TempDir tmp;
    const std::string src = tmp.Path("src.tga"), after = tmp.Path("after.tga");
    WriteFile(src, RandomTga(64, 64, 6));
    const std::string full = Device(tmp, "full");
    // The batch goes on after the failure.
    EXPECT_EQ(RunJobs({Job(src, full), Job(src, after)}), Strings{"Cant write " + Quote(full)});
    EXPECT_EQ(ReadFile(after), reference::ConvertFile(ReadFile(src), 1.0f));
}

TEST(Job, UnterminatedPathFieldsAreRefused)
{
    TempDir tmp;
    const std::string src = tmp.Path("src.tga"), dst = tmp.Path("dst.tga");
    WriteFile(src, RandomTga(3, 3, 7));
    // Records back to back: an unterminated srcpath runs straight into dstpath,
    // so the field must be refused rather than read as a longer path.
    std::vector<SCreateBumpMap> jobs = {Job(src, dst), Job(src, dst)};
    std::memset(jobs[0].srcpath, 'a', sizeof jobs[0].srcpath);
    std::memset(jobs[1].dstpath, 'b', sizeof jobs[1].dstpath);
    EXPECT_EQ(RunJobs(jobs), (Strings{"srcpath is not terminated within 512 bytes",
                                  "dstpath is not terminated within 512 bytes"}));
    EXPECT_FALSE(FileExists(dst));
}

TEST(Job, ConvertsAndCarriesTheHeaderByteForByte)
{
    TempDir tmp;
    const std::string src = tmp.Path("src.tga"), dst = tmp.Path("dst.tga");
    STgaFields fields;
    fields.width = 17;
    fields.height = 3;
    fields.cmapfirst = 0x1234;  // colour-map fields without a colour map: carried, not skipped
    fields.cmaplen = 0x5678;
    fields.cmapbits = 15;
    fields.xorigin = 0xBEEF;
    fields.yorigin = 0x0102;
    const Bytes source = TgaFile(fields, {}, RandomPixels(17, 3, 8));
    WriteFile(src, source);
    EXPECT_EQ(RunJobs({Job(src, dst, 0.75f)}), Strings{});
    const Bytes out = ReadFile(dst);
    ASSERT_EQ(out.size(), 18u + 3 * 17 * 3);
    EXPECT_TRUE(std::equal(source.begin(), source.begin() + 18, out.begin()));
    EXPECT_EQ(out, reference::ConvertFile(source, 0.75f));
}

TEST(Job, IdFieldAndColourMapAreSkippedAndCopied)
{
    TempDir tmp;
    const std::string src = tmp.Path("src.tga"), dst = tmp.Path("dst.tga");
    struct SCase {
        std::uint8_t idlen, cmaptype;
        std::uint16_t cmaplen;
        std::uint8_t cmapbits;
        std::size_t prefix;
    };
    const std::vector<SCase> cases = {
        {5, 0, 0, 0, 5}, {0, 1, 4, 24, 12}, {3, 1, 2, 15, 7}, {255, 1, 3, 32, 267}, {2, 1, 1, 1, 3},
        // Colour-map fields without cmaptype 1 describe nothing and skip nothing.
        {0, 0, 9, 24, 0}, {4, 2, 9, 24, 4}, {0, 255, 0xFFFF, 255, 0}};
    for (const auto& t : cases) {
        SCOPED_TRACE(::testing::Message() << "idlen=" << int(t.idlen) << " cmaplen=" << t.cmaplen);
        STgaFields fields;
        fields.width = 6;
        fields.height = 5;
        fields.idlen = t.idlen;
        fields.cmaptype = t.cmaptype;
        fields.cmaplen = t.cmaplen;
        fields.cmapbits = t.cmapbits;
        const Bytes prefix(t.prefix, 0x5A);
        const Bytes pixels = RandomPixels(6, 5, 9);
        WriteFile(src, TgaFile(fields, prefix, pixels));
        EXPECT_EQ(RunJobs({Job(src, dst)}), Strings{});
        // Same normals as the image without an ID or a colour map.
        STgaFields plain;
        plain.width = 6;
        plain.height = 5;
        const Bytes plainOut = reference::ConvertFile(TgaFile(plain, {}, pixels), 1.0f);
        const Bytes expected = TgaFile(fields, prefix, Bytes(plainOut.begin() + 18, plainOut.end()));
        EXPECT_EQ(ReadFile(dst), expected);
    }
}

TEST(Job, TrailingBytesAreIgnored)
{
    TempDir tmp;
    const std::string src = tmp.Path("src.tga"), dst = tmp.Path("dst.tga");
    const Bytes plain = RandomTga(6, 5, 10);
    Bytes withFooter = plain;
    const char footer[] = "\0\0\0\0\0\0\0\0TRUEVISION-XFILE.";
    withFooter.insert(withFooter.end(), footer, footer + sizeof footer);
    WriteFile(src, withFooter);
    EXPECT_EQ(RunJobs({Job(src, dst)}), Strings{});
    EXPECT_EQ(ReadFile(dst), reference::ConvertFile(plain, 1.0f));
}

TEST(Job, BatchOrderSameDestinationAndInPlace)
{
    TempDir tmp;
    const std::string a = tmp.Path("a.tga"), b = tmp.Path("b.tga"), dst = tmp.Path("dst.tga");
    const Bytes aBytes = RandomTga(6, 5, 11), bBytes = RandomTga(5, 6, 12);
    WriteFile(a, aBytes);
    WriteFile(b, bBytes);
    // A failed job does not stop the batch; the later record wins a shared destination.
    EXPECT_EQ(RunJobs({Job(a, dst), Job(tmp.Path("none.tga"), dst), Job(b, dst, 2.0f)}),
              Strings{"Cant open " + Quote(tmp.Path("none.tga")) + " for reading"});
    EXPECT_EQ(ReadFile(dst), reference::ConvertFile(bBytes, 2.0f));
    // In place: the source is read and closed before the destination is opened.
    EXPECT_EQ(RunJobs({Job(a, a, 0.5f)}), Strings{});
    EXPECT_EQ(ReadFile(a), reference::ConvertFile(aBytes, 0.5f));
    ExpectNoTemporaryFiles(tmp.dir);
}

TEST(Job, NoRecordsNoWork)
{
    TempDir tmp;
    const std::string dst = tmp.Path("dst.tga");
    SCreateBumpMap job = Job(tmp.Path("missing.tga"), dst);
    for (int count : {0, -1, -2147483647 - 1}) {
        const std::string out = CaptureStderr([&] { CreateBumpMaps(&job, count); });
        EXPECT_EQ(out, "") << count;
    }
    EXPECT_EQ(CaptureStderr([] { CreateBumpMaps(nullptr, 3); }), "");
    EXPECT_FALSE(FileExists(dst));
}

TEST(Job, LongestImagesConvert)
{
    TempDir tmp;
    const std::string src = tmp.Path("src.tga"), dst = tmp.Path("dst.tga");
    for (auto [w, h] : {std::pair{32767, 1}, std::pair{1, 32767}, std::pair{32767, 2}}) {
        const Bytes source = RandomTga(w, h, 13);
        WriteFile(src, source);
        EXPECT_EQ(RunJobs({Job(src, dst)}), Strings{});
        EXPECT_EQ(ReadFile(dst), reference::ConvertFile(source, 1.0f)) << w << "x" << h;
    }
}

// Every path of a job, good or bad, closes what it opened.
TEST(Job, NoDescriptorOutlivesAJob)
{
    TempDir tmp;
    const std::string src = tmp.Path("src.tga"), bad = tmp.Path("bad.tga"), dst = tmp.Path("dst.tga");
    const std::string shortFile = tmp.Path("short.tga");
    WriteFile(src, RandomTga(6, 5, 14));
    Bytes badHeader = RandomTga(6, 5, 15);
    badHeader[16] = 32;
    WriteFile(bad, badHeader);
    const Bytes valid = RandomTga(6, 5, 16);
    WriteFile(shortFile, Bytes(valid.begin(), valid.end() - 3));
    const int before = OpenDescriptorCount();
    const Strings messages = RunJobs({Job(src, dst), Job(bad, dst), Job(shortFile, dst),
                                  Job(tmp.Path("missing"), dst), Job(src, tmp.Path("no/dst")),
                                  Job(src, Device(tmp, "full")), Job(src, src)});
    EXPECT_EQ(messages.size(), 5u);
    EXPECT_EQ(OpenDescriptorCount(), before);
}

// A buffer that cannot be had is reported and the batch goes on. Run in a
// child whose address space is too small for a 32767 x 32767 image; the
// sources are sparse, so they take no disk. Two of them hold the pixel bytes
// but lack the ID field or colour map their header promises: those must be
// found short before anything is allocated, not run out of memory.
TEST(Job, AllocationFailureIsReported)
{
#if defined(QUARNEL_ASAN)
    GTEST_SKIP() << "AddressSanitizer reserves more address space than the limit allows";
#else
    TempDir tmp;
    const std::string big = tmp.Path("big.tga"), small = tmp.Path("small.tga");
    const std::string noId = tmp.Path("no-id.tga"), noMap = tmp.Path("no-map.tga");
    const std::string dst = tmp.Path("dst.tga"), smallDst = tmp.Path("small-dst.tga");
    STgaFields fields;
    fields.width = 32767;
    fields.height = 32767;
    STgaFields withId = fields, withMap = fields;
    withId.idlen = 255;
    withMap.cmaptype = 1;
    withMap.cmaplen = 0xFFFF;
    withMap.cmapbits = 32;
    for (const auto& [path, header] :
         {std::pair{big, fields}, std::pair{noId, withId}, std::pair{noMap, withMap}}) {
        WriteFile(path, TgaHeader(header));
        ASSERT_EQ(truncate(path.c_str(), 18 + 3LL * 32767 * 32767), 0);
    }
    const Bytes smallBytes = RandomTga(6, 5, 17);
    WriteFile(small, smallBytes);
    const std::string out = tmp.Path("out");

    const pid_t pid = fork();
    ASSERT_GE(pid, 0);
    if (pid == 0) {
        const rlimit limit = {std::size_t{1} << 30, std::size_t{1} << 30};
        setrlimit(RLIMIT_AS, &limit);
        std::FILE* f = std::freopen(out.c_str(), "w", stderr);
        std::vector<SCreateBumpMap> jobs = {Job(big, dst), Job(noId, dst), Job(noMap, dst),
                                            Job(small, smallDst)};
        CreateBumpMaps(jobs.data(), static_cast<int>(jobs.size()));
        _exit(f != nullptr ? 0 : 1);
    }
    int status = 0;
    ASSERT_EQ(waitpid(pid, &status, 0), pid);
    ASSERT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
    const Bytes text = ReadFile(out);
    EXPECT_EQ(Messages(std::string(text.begin(), text.end())),
              (Strings{Quote(big) + " out of memory", Quote(noId) + " is truncated",
                       Quote(noMap) + " is truncated"}));
    EXPECT_FALSE(FileExists(dst));
    EXPECT_EQ(ReadFile(smallDst), reference::ConvertFile(smallBytes, 1.0f));
#endif
}

}  // namespace

namespace {

// A FIFO destination whose reader goes away mid-write: by default a POSIX write
// to it raises SIGPIPE, which ends the whole host. The job must fail with
// Cant write instead, and leave the host's signal state as it found it. The
// job runs in a child, once with SIGPIPE at its default and once with the
// host holding a blocked, pending SIGPIPE of its own.
TEST(Job, DestinationReaderLeavingIsAFailedWriteNotASignal)
{
    TempDir tmp;
    const std::string src = tmp.Path("src.tga"), fifo = tmp.Path("fifo"), out = tmp.Path("out");
    WriteFile(src, RandomTga(256, 256, 18));  // far more than a pipe holds
    ASSERT_EQ(mkfifo(fifo.c_str(), 0600), 0);
    for (const bool hostHoldsOne : {false, true}) {
        SCOPED_TRACE(hostHoldsOne ? "host holds a SIGPIPE" : "SIGPIPE at its default");
        int ready[2];
        ASSERT_EQ(pipe(ready), 0);
        const pid_t reader = fork();
        ASSERT_GE(reader, 0);
        if (reader == 0) {
            // Open first (the job refuses a FIFO nobody reads), take a few bytes, leave.
            const int fd = open(fifo.c_str(), O_RDONLY | O_NONBLOCK);
            const char go = 'x';
            if (fd < 0 || write(ready[1], &go, 1) != 1)
                _exit(1);
            pollfd p = {fd, POLLIN, 0};
            char buf[16];
            const bool got = poll(&p, 1, 20000) == 1 && read(fd, buf, sizeof buf) > 0;
            close(fd);
            _exit(got ? 0 : 2);
        }
        char go = 0;
        ASSERT_EQ(read(ready[0], &go, 1), 1);
        close(ready[0]);
        close(ready[1]);

        const pid_t job = fork();
        ASSERT_GE(job, 0);
        if (job == 0) {
            signal(SIGPIPE, SIG_DFL);
            if (hostHoldsOne) {
                sigset_t pipeOnly;
                sigemptyset(&pipeOnly);
                sigaddset(&pipeOnly, SIGPIPE);
                pthread_sigmask(SIG_BLOCK, &pipeOnly, nullptr);
                raise(SIGPIPE);
            }
            std::FILE* f = std::freopen(out.c_str(), "w", stderr);
            SCreateBumpMap record = Job(src, fifo);
            CreateBumpMaps(&record, 1);
            sigset_t mask, pending;
            sigemptyset(&mask);
            sigpending(&pending);
            pthread_sigmask(SIG_BLOCK, nullptr, &mask);
            if ((sigismember(&mask, SIGPIPE) == 1) != hostHoldsOne ||
                (sigismember(&pending, SIGPIPE) == 1) != hostHoldsOne)
                _exit(3);
            _exit(f != nullptr ? 0 : 1);
        }
        int status = 0;
        ASSERT_EQ(waitpid(job, &status, 0), job);
        int readerStatus = 0;
        ASSERT_EQ(waitpid(reader, &readerStatus, 0), reader);
        EXPECT_TRUE(WIFEXITED(readerStatus) && WEXITSTATUS(readerStatus) == 0);
        ASSERT_FALSE(WIFSIGNALED(status)) << "job killed by signal " << WTERMSIG(status);
        ASSERT_TRUE(WIFEXITED(status)) << status;
        EXPECT_EQ(WEXITSTATUS(status), 0) << "3: the signal mask or pending set changed";
        const Bytes text = ReadFile(out);
        EXPECT_EQ(Messages(std::string(text.begin(), text.end())), Strings{"Cant write " + Quote(fifo)});
    }
}

// A FIFO destination whose reader is slow but stays: the job waits for it and
// delivers every byte rather than give up when the pipe is full.
TEST(Job, SlowFifoReaderGetsEveryByte)
{
    TempDir tmp;
    const std::string src = tmp.Path("src.tga"), fifo = tmp.Path("fifo"), got = tmp.Path("got");
    const Bytes source = RandomTga(256, 256, 26);  // three pipe buffers and more
    WriteFile(src, source);
    ASSERT_EQ(mkfifo(fifo.c_str(), 0600), 0);
    int ready[2];
    ASSERT_EQ(pipe(ready), 0);
    const pid_t reader = fork();
    ASSERT_GE(reader, 0);
    if (reader == 0) {
        // Open first, wait for the writer, then sip 4 KiB a millisecond until it closes.
        const int fd = open(fifo.c_str(), O_RDONLY | O_NONBLOCK);
        const char go = 'x';
        pollfd p = {fd, POLLIN, 0};
        std::FILE* f = std::fopen(got.c_str(), "wb");
        if (fd < 0 || f == nullptr || write(ready[1], &go, 1) != 1 || poll(&p, 1, 20000) != 1 ||
            fcntl(fd, F_SETFL, 0) != 0)
            _exit(1);
        char buf[4096];
        ssize_t n = 0;
        while ((n = read(fd, buf, sizeof buf)) > 0 && std::fwrite(buf, 1, static_cast<std::size_t>(n), f) > 0)
            usleep(1000);
        _exit(n == 0 && std::fclose(f) == 0 ? 0 : 2);
    }
    char go = 0;
    ASSERT_EQ(read(ready[0], &go, 1), 1);
    close(ready[0]);
    close(ready[1]);
    EXPECT_EQ(RunJobs({Job(src, fifo)}), Strings{});
    int status = 0;
    ASSERT_EQ(waitpid(reader, &status, 0), reader);
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << status;
    EXPECT_EQ(ReadFile(got), reference::ConvertFile(source, 1.0f));
}

}  // namespace

namespace {

// Root writes through any mode bits, so read-only destinations are tried by a
// child that has given up root for the unprivileged "nobody" (65534). A
// read-only file stays refused though its folder would allow a replacement,
// and a writable file in a read-only folder is written in place.
TEST(Job, ReadOnlyDestinationsAreRefusedAndKept)
{
    TempDir tmp;
    const std::string src = tmp.Path("src.tga"), openFolder = tmp.Path("open"), lockedFolder = tmp.Path("locked");
    const std::string readOnly = openFolder + "/readonly.tga", inLocked = lockedFolder + "/dst.tga";
    const std::string writable = lockedFolder + "/writable.tga";
    const Bytes source = RandomTga(6, 5, 19);
    WriteFile(src, source);
    ASSERT_EQ(mkdir(openFolder.c_str(), 0777), 0);
    ASSERT_EQ(mkdir(lockedFolder.c_str(), 0700), 0);
    WriteFile(readOnly, {1, 2, 3});
    WriteFile(writable, {4, 5, 6});
    for (const auto& [path, mode] : {std::pair{openFolder, 0777}, std::pair{readOnly, 0444},
                                     std::pair{writable, 0666}, std::pair{lockedFolder, 0555},
                                     std::pair{tmp.dir, 0755}, std::pair{src, 0644}})
        ASSERT_EQ(chmod(path.c_str(), static_cast<mode_t>(mode)), 0);
    const std::vector<SCreateBumpMap> jobs = {Job(src, readOnly), Job(src, inLocked), Job(src, writable)};
    const SChild child = RunInChild([&] {
        if (geteuid() == 0 && (setgid(65534) != 0 || setuid(65534) != 0))
            return 1;
        CreateBumpMaps(const_cast<SCreateBumpMap*>(jobs.data()), 3);
        return 0;
    });
    ASSERT_EQ(child.status, 0);
    EXPECT_EQ(child.messages, (Strings{"Cant open " + Quote(readOnly) + " for writing",
                                       "Cant open " + Quote(inLocked) + " for writing"}));
    EXPECT_EQ(ReadFile(readOnly), (Bytes{1, 2, 3}));
    EXPECT_FALSE(FileExists(inLocked));
    EXPECT_EQ(ReadFile(writable), reference::ConvertFile(source, 1.0f));
    ExpectNoTemporaryFiles(openFolder);
}

// The destination is the source itself: a refused source must survive the
// job unchanged (it is never opened for writing), a valid one is converted.
TEST(Job, SourceAsItsOwnDestination)
{
    TempDir tmp;
    const std::string path = tmp.Path("self.tga"), linked = tmp.Path("link.tga");
    Bytes badHeader = RandomTga(6, 5, 20);
    badHeader[2] = 10;
    const Bytes valid = RandomTga(6, 5, 21);
    const Bytes shortFile(valid.begin(), valid.end() - 1);
    struct SCase {
        const char* name;
        Bytes file;
        std::string message;
    };
    const std::vector<SCase> cases = {
        {"bad header", badHeader, Quote(path) + " tgaHeader.imgtype!=2 (imgtype==10)"},
        {"truncated", shortFile, Quote(path) + " is truncated"},
        {"header only", Bytes(valid.begin(), valid.begin() + 18), Quote(path) + " is truncated"},
    };
    for (const auto& t : cases) {
        SCOPED_TRACE(t.name);
        WriteFile(path, t.file);
        EXPECT_EQ(RunJobs({Job(path, path)}), Strings{t.message});
        EXPECT_EQ(ReadFile(path), t.file);
    }
    // Through a hard link the destination is the same file under another name.
    WriteFile(path, valid);
    ASSERT_EQ(link(path.c_str(), linked.c_str()), 0);
    EXPECT_EQ(RunJobs({Job(path, linked, 2.0f)}), Strings{});
    EXPECT_EQ(ReadFile(path), reference::ConvertFile(valid, 2.0f));
}

// A long-running host converts the same path again after the file changed:
// each job reads what is there now, and nothing of an earlier run lingers.
TEST(Job, SourceReplacedBetweenRuns)
{
    TempDir tmp;
    const std::string src = tmp.Path("src.tga"), dst = tmp.Path("dst.tga"), next = tmp.Path("next.tga");
    const Bytes first = RandomTga(6, 5, 22), second = RandomTga(9, 2, 23);
    WriteFile(src, first);
    EXPECT_EQ(RunJobs({Job(src, dst)}), Strings{});
    EXPECT_EQ(ReadFile(dst), reference::ConvertFile(first, 1.0f));

    // Replaced by rename (a new file under the old name), of another size.
    WriteFile(next, second);
    ASSERT_EQ(std::rename(next.c_str(), src.c_str()), 0);
    EXPECT_EQ(RunJobs({Job(src, dst)}), Strings{});
    EXPECT_EQ(ReadFile(dst), reference::ConvertFile(second, 1.0f));

    // Rewritten in place with a bad header, then cut short: refused, and the
    // last good output stays.
    Bytes bad = second;
    bad[16] = 32;
    WriteFile(src, bad);
    EXPECT_EQ(RunJobs({Job(src, dst)}), Strings{Quote(src) + " tgaHeader.pixsize!=24 (pixsize==32)"});
    WriteFile(src, Bytes(second.begin(), second.end() - 5));
    EXPECT_EQ(RunJobs({Job(src, dst)}), Strings{Quote(src) + " is truncated"});
    ASSERT_EQ(std::remove(src.c_str()), 0);
    EXPECT_EQ(RunJobs({Job(src, dst)}), Strings{"Cant open " + Quote(src) + " for reading"});
    EXPECT_EQ(ReadFile(dst), reference::ConvertFile(second, 1.0f));

    // Back again: converts as if it had never been gone.
    WriteFile(src, first);
    EXPECT_EQ(RunJobs({Job(src, dst, 0.5f)}), Strings{});
    EXPECT_EQ(ReadFile(dst), reference::ConvertFile(first, 0.5f));
}

// A destination that stops taking bytes part-way (a file-size limit, as a
// quota would) is reported and left as it was, and the batch goes on. By
// default the limit's signal ends the process; it must not end the host.
TEST(Job, DestinationFileSizeLimitIsAFailedWrite)
{
    TempDir tmp;
    const std::string src = tmp.Path("src.tga"), dst = tmp.Path("dst.tga"), after = tmp.Path("after.tga");
    const Bytes small = RandomTga(4, 4, 24), keep = {'k', 'e', 'e', 'p'};
    WriteFile(src, RandomTga(128, 128, 25));
    WriteFile(tmp.Path("small.tga"), small);
    for (const auto disposition : {SIG_IGN, SIG_DFL}) {
        SCOPED_TRACE(disposition == SIG_IGN ? "SIGXFSZ ignored" : "SIGXFSZ at its default");
        WriteFile(dst, keep);
        const SChild child = RunInChild([&] {
            signal(SIGXFSZ, disposition);
            const rlimit limit = {10000, 10000};
            if (setrlimit(RLIMIT_FSIZE, &limit) != 0)
                return 1;
            std::vector<SCreateBumpMap> jobs = {Job(src, dst), Job(tmp.Path("small.tga"), after)};
            CreateBumpMaps(jobs.data(), 2);
            sigset_t pending;
            return sigpending(&pending) == 0 && sigismember(&pending, SIGXFSZ) == 0 ? 0 : 3;
        });
        ASSERT_FALSE(WIFSIGNALED(child.status)) << "killed by signal " << WTERMSIG(child.status);
        EXPECT_EQ(child.status, 0) << "3: a SIGXFSZ is left pending";
        EXPECT_EQ(child.messages, Strings{"Cant write " + Quote(dst)});
        EXPECT_EQ(ReadFile(dst), keep);
        EXPECT_EQ(ReadFile(after), reference::ConvertFile(small, 1.0f));
        ExpectNoTemporaryFiles(tmp.dir);
    }
}

// A full disk under an existing destination leaves the old file whole. The
// disk is a small tmpfs in a mount namespace of the child's own.
TEST(Job, FullDiskKeepsTheOldDestination)
{
    TempDir tmp;
    const std::string src = tmp.Path("src.tga"), disk = tmp.Path("disk"), dst = disk + "/dst.tga";
    WriteFile(src, RandomTga(128, 128, 26));
    ASSERT_EQ(mkdir(disk.c_str(), 0700), 0);
    const Bytes keep(1000, 'k');
    const SChild child = RunInChild([&] {
        if (unshare(CLONE_NEWNS) != 0 || mount("none", "/", nullptr, MS_REC | MS_PRIVATE, nullptr) != 0 ||
            mount("quarnel-test", disk.c_str(), "tmpfs", 0, "size=32k") != 0)
            return 77;
        WriteFile(dst, keep);
        SCreateBumpMap job = Job(src, dst);
        CreateBumpMaps(&job, 1);
        return ReadFile(dst) == keep && FolderNames(disk) == Strings{"dst.tga"} ? 0 : 2;
    });
    if (child.status == 77 << 8)
        GTEST_SKIP() << "cannot mount a tmpfs here (needs root and mount namespaces)";
    EXPECT_EQ(child.status, 0) << "2: the destination changed or a temporary file stayed";
    EXPECT_EQ(child.messages, Strings{"Cant write " + Quote(dst)});
}

// The host killed as soon as anything appears in the folder of an in-place
// conversion, and at points further into the write: the name holds the old
// file or the whole map, never a torn one.
TEST(Job, KilledHostLeavesTheOldFileOrTheWholeMap)
{
    TempDir tmp;
    const std::string path = tmp.Path("self.tga");
    const Bytes source = RandomTga(2048, 1024, 27), map = reference::ConvertFile(source, 1.0f);
    for (const int delayUs : {0, 0, 0, 1000, 3000, 10000}) {
        WriteFile(path, source);
        const int watch = inotify_init1(IN_CLOEXEC);
        ASSERT_GE(inotify_add_watch(watch, tmp.dir.c_str(), IN_CREATE | IN_MODIFY), 0);
        const pid_t pid = fork();
        ASSERT_GE(pid, 0);
        if (pid == 0) {
            SCreateBumpMap job = Job(path, path);
            CreateBumpMaps(&job, 1);
            _exit(0);
        }
        pollfd p = {watch, POLLIN, 0};
        const bool seen = poll(&p, 1, 20000) == 1;
        usleep(static_cast<useconds_t>(delayUs));
        kill(pid, SIGKILL);
        waitpid(pid, nullptr, 0);
        close(watch);
        ASSERT_TRUE(seen);
        const Bytes after = ReadFile(path);
        EXPECT_TRUE(after == source || after == map) << delayUs << " us: " << after.size() << " bytes, torn";
    }
}

// Destinations whose names mean more than their bytes keep that meaning: a
// new file gets the mode "wb" gives, an existing mode stays, a symlink still
// points where it did, a hard link shares the map, a FIFO's reader gets the
// stream and a device stays a device.
TEST(Job, DestinationsKeepWhatTheirNamesMean)
{
    TempDir tmp;
    const std::string src = tmp.Path("src.tga"), target = tmp.Path("target.tga"), alias = tmp.Path("alias.tga");
    const Bytes source = RandomTga(67, 45, 28), map = reference::ConvertFile(source, 1.0f);
    WriteFile(src, source);
    const mode_t umaskNow = umask(022);
    umask(umaskNow);
    auto mode = [](const std::string& path) {
        struct stat st;
        return lstat(path.c_str(), &st) == 0 ? st.st_mode : 0;
    };
    int fifoReader = -1;
    Bytes streamed;
    std::thread reader;
    struct SCase {
        const char* name;
        std::string dst;
        std::function<void(const std::string&)> setUp, check;
    };
    const std::vector<SCase> cases = {
        {"new file", tmp.Path("new.tga"), [](const std::string&) {},
         [&](const std::string& p) { EXPECT_EQ(mode(p), S_IFREG | (0666 & ~umaskNow)); }},
        {"mode 0640", tmp.Path("0640.tga"),
         [&](const std::string& p) { WriteFile(p, {1}); chmod(p.c_str(), 0640); },
         [&](const std::string& p) { EXPECT_EQ(mode(p), S_IFREG | 0640); }},
        {"symlink", tmp.Path("link.tga"),
         [&](const std::string& p) { WriteFile(target, {1}); ASSERT_EQ(symlink("target.tga", p.c_str()), 0); },
         [&](const std::string& p) {
             char to[64] = {};
             EXPECT_EQ(readlink(p.c_str(), to, sizeof to - 1), 10);
             EXPECT_STREQ(to, "target.tga");
             EXPECT_EQ(ReadFile(target), map);
         }},
        {"hard link", tmp.Path("linked.tga"),
         [&](const std::string& p) { WriteFile(p, {1}); ASSERT_EQ(link(p.c_str(), alias.c_str()), 0); },
         [&](const std::string&) { EXPECT_EQ(ReadFile(alias), map); }},
        {"FIFO with a reader", tmp.Path("fifo"),
         [&](const std::string& p) {
             ASSERT_EQ(mkfifo(p.c_str(), 0600), 0);
             fifoReader = open(p.c_str(), O_RDONLY | O_NONBLOCK);
             reader = std::thread([&] {
                 pollfd f = {fifoReader, POLLIN, 0};
                 std::uint8_t buf[4096];
                 ssize_t got = 0;
                 while (poll(&f, 1, 20000) == 1 && (got = read(fifoReader, buf, sizeof buf)) > 0)
                     streamed.insert(streamed.end(), buf, buf + got);
             });
         },
         [&](const std::string& p) {
             reader.join();
             close(fifoReader);
             EXPECT_EQ(streamed, map);
             EXPECT_TRUE(S_ISFIFO(mode(p)));
         }},
        {"/dev/null", Device(tmp, "null"), [](const std::string&) {},
         [&](const std::string& p) { EXPECT_TRUE(S_ISCHR(mode(p))); }},
    };
    for (const auto& t : cases) {
        SCOPED_TRACE(t.name);
        t.setUp(t.dst);
        EXPECT_EQ(RunJobs({Job(src, t.dst)}), Strings{});
        if (S_ISREG(mode(t.dst))) {
            EXPECT_EQ(ReadFile(t.dst), map);
        }
        t.check(t.dst);
    }
    ExpectNoTemporaryFiles(tmp.dir);
}

// The library keeps no state, so hosts may call it from several threads at
// once on different files. Each thread runs rounds of good and failing jobs
// of its own, and all write one shared destination too: every byte and every
// message is what one thread alone would give, and the shared file is one
// thread's whole map.
TEST(Job, ConcurrentCallsGiveEveryByteAndMessage)
{
    constexpr int kThreads = 4, kRounds = 8;
    TempDir tmp;
    const std::string missing = tmp.Path("missing.tga"), bad = tmp.Path("bad.tga"), shared = tmp.Path("shared.tga");
    const std::string full = Device(tmp, "full");
    Bytes badHeader = RandomTga(6, 5, 29);
    badHeader[16] = 32;
    WriteFile(bad, badHeader);
    std::vector<Bytes> maps;
    std::vector<std::vector<SCreateBumpMap>> batches;
    Strings expected;
    for (int i = 0; i < kThreads; ++i) {
        const std::string n = std::to_string(i), src = tmp.Path("src" + n);
        const Bytes source = RandomTga(200 + i, 150, 30 + static_cast<std::uint32_t>(i));
        WriteFile(src, source);
        maps.push_back(reference::ConvertFile(source, 0.5f + static_cast<float>(i)));
        batches.push_back({Job(src, tmp.Path("dst" + n), 0.5f + static_cast<float>(i)), Job(missing, tmp.Path("m" + n)),
                           Job(bad, tmp.Path("b" + n)), Job(src, shared, 0.5f + static_cast<float>(i)),
                           Job(src, full)});
        for (int r = 0; r < kRounds; ++r)
            expected.insert(expected.end(), {"Cant open " + Quote(missing) + " for reading",
                                             Quote(bad) + " tgaHeader.pixsize!=24 (pixsize==32)",
                                             "Cant write " + Quote(full)});
    }
    Strings messages = Messages(CaptureStderr([&] {
        std::vector<std::thread> threads;
        for (auto& batch : batches)
            threads.emplace_back([&batch] {
                for (int r = 0; r < kRounds; ++r)
                    CreateBumpMaps(batch.data(), static_cast<int>(batch.size()));
            });
        for (auto& t : threads)
            t.join();
    }));
    std::sort(messages.begin(), messages.end());
    std::sort(expected.begin(), expected.end());
    EXPECT_EQ(messages, expected);
    for (int i = 0; i < kThreads; ++i)
        EXPECT_EQ(ReadFile(tmp.Path("dst" + std::to_string(i))), maps[static_cast<std::size_t>(i)]) << i;
    EXPECT_NE(std::find(maps.begin(), maps.end(), ReadFile(shared)), maps.end());
    ExpectNoTemporaryFiles(tmp.dir);
}

}  // namespace
