// The conversion job end to end through CreateBumpMaps: messages, files and
// the behaviours chosen where the TGA header, the file and the destination
// disagree. Every call through RunJobs also fails on a descriptor left open
// or a temporary file left beside a destination.
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

// Longer than any map written over it here: a write that failed to truncate
// would leave its tail.
const Bytes kLonger(1 << 16, 'o');

struct stat Stat(const std::string& path)
{
    struct stat st = {};
    lstat(path.c_str(), &st);
    return st;
}

// Every refused source gets exactly its one message, and leaves every
// destination as it was: an existing file, a missing one, and the source
// itself when it is its own destination.
TEST(Job, RefusedSourcesGiveTheirMessageAndTouchNothing)
{
    EXPECT_EQ(RefusedSourceFaults(CreateBumpMaps), Strings{});
}

// Every accepted source in one call, as a host converts a batch: the header,
// ID field and colour map copied, the pixels converted, trailing bytes dropped.
TEST(Job, AcceptedSourcesConvertByteForByte)
{
    TempDir tmp;
    const std::vector<SAccepted> accepted = AcceptedSources();
    const std::vector<SCreateBumpMap> jobs = AcceptedJobs(tmp, accepted);
    EXPECT_EQ(RunJobs(jobs), Strings{});
    for (std::size_t i = 0; i < accepted.size(); ++i)
        EXPECT_EQ(ReadFile(jobs[i].dstpath), reference::ConvertFile(accepted[i].file, accepted[i].texelsize))
            << accepted[i].name;
}

TEST(Job, UnopenableSourcesAndDestinations)
{
    TempDir tmp;
    const std::string src = tmp.Path("src.tga"), dst = tmp.Path("dst.tga");
    WriteFile(src, RandomTga(6, 5, 5));
    const std::string missing = tmp.Path("missing.tga");
    const std::string folder = tmp.Path("folder");
    const std::string fifo = tmp.Path("fifo");
    ASSERT_TRUE(MakeFolder(folder));
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
}

TEST(Job, UnterminatedPathFieldsAreRefused)
{
    TempDir tmp;
    const std::string src = tmp.Path("src.tga"), dst = tmp.Path("dst.tga");
    WriteFile(src, RandomTga(3, 3, 7));
    EXPECT_EQ(RunJobs(UnterminatedJobs(src, dst)), UnterminatedMessages());
    EXPECT_FALSE(FileExists(dst));
}

// A failed job, unreadable or unwritable, does not stop the batch; the later
// record wins a shared destination; a file converts in place, by its own
// name or through a hard link, its trailing bytes gone.
TEST(Job, BatchOrderSameDestinationAndInPlace)
{
    TempDir tmp;
    const std::string a = tmp.Path("a.tga"), b = tmp.Path("b.tga"), dst = tmp.Path("dst.tga");
    const std::string none = tmp.Path("none.tga"), full = Device(tmp, "full"), linked = tmp.Path("link.tga");
    const Bytes aBytes = RandomTga(6, 5, 11), bBytes = WithFooter(RandomTga(5, 6, 12));
    WriteFile(a, aBytes);
    WriteFile(b, bBytes);
    EXPECT_EQ(RunJobs({Job(a, dst), Job(none, dst), Job(a, full), Job(b, dst, 2.0f)}),
              (Strings{"Cant open " + Quote(none) + " for reading", "Cant write " + Quote(full)}));
    EXPECT_EQ(ReadFile(dst), reference::ConvertFile(bBytes, 2.0f));
    EXPECT_EQ(RunJobs({Job(a, a, 0.5f)}), Strings{});
    EXPECT_EQ(ReadFile(a), reference::ConvertFile(aBytes, 0.5f));
    ASSERT_EQ(link(b.c_str(), linked.c_str()), 0);
    EXPECT_EQ(RunJobs({Job(b, linked, 3.0f)}), Strings{});
    EXPECT_EQ(ReadFile(b), reference::ConvertFile(bBytes, 3.0f));
}

TEST(Job, NoRecordsNoWork)
{
    TempDir tmp;
    const std::string dst = tmp.Path("dst.tga");
    SCreateBumpMap job = Job(tmp.Path("missing.tga"), dst);
    for (int count : {0, -1, -2147483647 - 1})
        EXPECT_EQ(ShownMessages([&] { CreateBumpMaps(&job, count); }), Strings{}) << count;
    EXPECT_EQ(ShownMessages([] { CreateBumpMaps(nullptr, 3); }), Strings{});
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

// A buffer that cannot be had is reported and the batch goes on. Run in a
// child whose address space is too small for a 32767 x 32767 image; the
// sources are sparse, so they take no disk. Three of them lack a byte, or
// the ID field or colour map their header promises: those must be found
// short before anything is allocated, not run out of memory.
TEST(Job, AllocationFailureIsReported)
{
#if defined(QUARNEL_ASAN)
    GTEST_SKIP() << "AddressSanitizer reserves more address space than the limit allows";
#else
    TempDir tmp;
    const std::string big = tmp.Path("big.tga"), small = tmp.Path("small.tga"), noId = tmp.Path("no-id.tga");
    const std::string noMap = tmp.Path("no-map.tga"), oneShort = tmp.Path("one-short.tga");
    const std::string dst = tmp.Path("dst.tga"), smallDst = tmp.Path("small-dst.tga");
    STgaFields fields;
    fields.width = fields.height = 32767;
    STgaFields withId = fields, withMap = fields;
    withId.idlen = 255;
    withMap.cmaptype = 1;
    withMap.cmaplen = 0xFFFF;
    withMap.cmapbits = 32;
    const long long whole = 18 + 3LL * 32767 * 32767;
    for (const auto& [path, header, size] : {std::tuple{big, fields, whole}, std::tuple{noId, withId, whole},
                                             std::tuple{noMap, withMap, whole}, std::tuple{oneShort, fields, whole - 1}}) {
        WriteFile(path, TgaHeader(header));
        ASSERT_EQ(truncate(path.c_str(), size), 0);
    }
    const Bytes smallBytes = RandomTga(6, 5, 17);
    WriteFile(small, smallBytes);
    const SChild child = RunInChild([&] {
        const rlimit limit = {std::size_t{1} << 30, std::size_t{1} << 30};
        setrlimit(RLIMIT_AS, &limit);
        std::vector<SCreateBumpMap> jobs = {Job(big, dst), Job(noId, dst), Job(noMap, dst), Job(oneShort, dst),
                                            Job(small, smallDst)};
        CreateBumpMaps(jobs.data(), static_cast<int>(jobs.size()));
        return 0;
    });
    ASSERT_EQ(child.status, 0);
    EXPECT_EQ(child.messages, (Strings{Quote(big) + " out of memory", Quote(noId) + " is truncated",
                                       Quote(noMap) + " is truncated", Quote(oneShort) + " is truncated"}));
    EXPECT_FALSE(FileExists(dst));
    EXPECT_EQ(ReadFile(smallDst), reference::ConvertFile(smallBytes, 1.0f));
#endif
}

// A reader of fifo in a child process: it opens it first (the job refuses a
// FIFO nobody reads) and says so, then takes a few bytes and leaves, or
// sips 4 KiB a millisecond into got until the writer closes.
pid_t StartFifoReader(const std::string& fifo, const std::string& got)
{
    int ready[2];
    if (pipe(ready) != 0)
        return -1;
    const pid_t reader = fork();
    if (reader == 0) {
        const int fd = open(fifo.c_str(), O_RDONLY | O_NONBLOCK);
        const char go = 'x';
        pollfd p = {fd, POLLIN, 0};
        if (fd < 0 || write(ready[1], &go, 1) != 1 || poll(&p, 1, 20000) != 1 || fcntl(fd, F_SETFL, 0) != 0)
            _exit(1);
        std::FILE* f = got.empty() ? nullptr : std::fopen(got.c_str(), "wb");
        char buf[4096];
        ssize_t n = 0;
        while ((n = read(fd, buf, f != nullptr ? sizeof buf : 16)) > 0 && f != nullptr &&
               std::fwrite(buf, 1, static_cast<std::size_t>(n), f) > 0)
            usleep(1000);
        _exit(f == nullptr ? (n > 0 ? 0 : 2) : (n == 0 && std::fclose(f) == 0 ? 0 : 3));
    }
    char go = 0;
    const bool started = reader > 0 && read(ready[0], &go, 1) == 1;
    close(ready[0]);
    close(ready[1]);
    return started ? reader : -1;
}

// A FIFO destination whose reader is slow but stays gets every byte. One
// whose reader leaves mid-write is a failed write: by default a POSIX write
// to it raises SIGPIPE, which ends the whole host. The job must fail with
// Cant write instead, with SIGPIPE at its default and with the host holding
// a blocked, pending SIGPIPE of its own, which it must find as it was.
TEST(Job, FifoDestinationReaderStaysOrLeaves)
{
    TempDir tmp;
    const std::string src = tmp.Path("src.tga"), fifo = tmp.Path("fifo"), got = tmp.Path("got");
    const Bytes source = RandomTga(256, 256, 26);  // three pipe buffers and more
    WriteFile(src, source);
    ASSERT_EQ(mkfifo(fifo.c_str(), 0600), 0);
    int status = 0;
    pid_t reader = StartFifoReader(fifo, got);
    ASSERT_GT(reader, 0);
    EXPECT_EQ(RunJobs({Job(src, fifo)}), Strings{});
    ASSERT_EQ(waitpid(reader, &status, 0), reader);
    EXPECT_EQ(status, 0);
    EXPECT_EQ(ReadFile(got), reference::ConvertFile(source, 1.0f));

    for (const bool hostHoldsOne : {false, true}) {
        SCOPED_TRACE(hostHoldsOne ? "host holds a SIGPIPE" : "SIGPIPE at its default");
        reader = StartFifoReader(fifo, "");
        ASSERT_GT(reader, 0);
        const SChild child = RunInChild([&] {
            signal(SIGPIPE, SIG_DFL);
            sigset_t pipeOnly, mask, pending;
            sigemptyset(&pipeOnly);
            sigaddset(&pipeOnly, SIGPIPE);
            if (hostHoldsOne) {
                pthread_sigmask(SIG_BLOCK, &pipeOnly, nullptr);
                raise(SIGPIPE);
            }
            SCreateBumpMap record = Job(src, fifo);
            CreateBumpMaps(&record, 1);
            sigpending(&pending);
            pthread_sigmask(SIG_BLOCK, nullptr, &mask);
            return (sigismember(&mask, SIGPIPE) == 1) == hostHoldsOne &&
                           (sigismember(&pending, SIGPIPE) == 1) == hostHoldsOne
                       ? 0
                       : 3;
        });
        ASSERT_EQ(waitpid(reader, &status, 0), reader);
        EXPECT_EQ(status, 0);
        ASSERT_FALSE(WIFSIGNALED(child.status)) << "job killed by signal " << WTERMSIG(child.status);
        EXPECT_EQ(child.status, 0) << "3: the signal mask or pending set changed";
        EXPECT_EQ(child.messages, Strings{"Cant write " + Quote(fifo)});
    }
}

// Root writes through any mode bits, so these destinations are tried by a
// child that has given up root for the unprivileged "nobody" (65534). A
// read-only file stays refused though its folder would allow a replacement.
// A writable file in a read-only folder, and another user's writable file,
// which no replacement could keep theirs, are written directly, whole.
TEST(Job, DestinationsBeyondReplacementAsAnotherUser)
{
    TempDir tmp;
    const std::string src = tmp.Path("src.tga"), openFolder = tmp.Path("open"), lockedFolder = tmp.Path("locked");
    const std::string readOnly = openFolder + "/readonly.tga", inLocked = lockedFolder + "/dst.tga";
    const std::string writable = lockedFolder + "/writable.tga", theirs = openFolder + "/theirs.tga";
    const Bytes source = RandomTga(6, 5, 19);
    WriteFile(src, source);
    ASSERT_TRUE(MakeFolder(openFolder) && MakeFolder(lockedFolder));
    WriteFile(readOnly, {1, 2, 3});
    WriteFile(writable, kLonger);
    WriteFile(theirs, kLonger);
    for (const auto& [path, mode] :
         {std::pair{openFolder, 0777}, std::pair{readOnly, 0444}, std::pair{writable, 0666}, std::pair{theirs, 0666},
          std::pair{lockedFolder, 0555}, std::pair{tmp.dir, 0755}, std::pair{src, 0644}})
        ASSERT_EQ(chmod(path.c_str(), static_cast<mode_t>(mode)), 0);
    const std::vector<SCreateBumpMap> jobs = {Job(src, readOnly), Job(src, inLocked), Job(src, writable),
                                              Job(src, theirs)};
    const SChild child = RunInChild([&] {
        if (geteuid() == 0 && (setgid(65534) != 0 || setuid(65534) != 0))
            return 1;
        CreateBumpMaps(const_cast<SCreateBumpMap*>(jobs.data()), static_cast<int>(jobs.size()));
        return 0;
    });
    ASSERT_EQ(child.status, 0);
    EXPECT_EQ(child.messages, (Strings{"Cant open " + Quote(readOnly) + " for writing",
                                       "Cant open " + Quote(inLocked) + " for writing"}));
    EXPECT_EQ(ReadFile(readOnly), (Bytes{1, 2, 3}));
    EXPECT_FALSE(FileExists(inLocked));
    EXPECT_EQ(ReadFile(writable), reference::ConvertFile(source, 1.0f));
    EXPECT_EQ(ReadFile(theirs), reference::ConvertFile(source, 1.0f));
    EXPECT_EQ(Stat(theirs).st_uid, getuid());
    EXPECT_EQ(FolderNames(openFolder), (Strings{"readonly.tga", "theirs.tga"}));
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
// Names from 231 bytes on leave no room for the usual temporary name within
// the 255 a name may hold, and the longest path fills the record's 511.
TEST(Job, DestinationFileSizeLimitIsAFailedWrite)
{
    TempDir tmp;
    const std::string src = tmp.Path("src.tga"), after = tmp.Path("after.tga");
    const std::string deep = tmp.Path(std::string(511 - 2 - 250 - tmp.dir.size(), 'd'));
    ASSERT_TRUE(MakeFolder(deep));
    Strings dsts = {tmp.Path("dst.tga"), deep + "/" + std::string(244, 'n') + "_n.tga"};
    for (const unsigned length : {200u, 231u, 242u, 251u, 255u})
        dsts.push_back(tmp.Path(std::string(length - 6u, 'n') + "_n.tga"));
    const Bytes small = RandomTga(4, 4, 24), keep = {'k', 'e', 'e', 'p'};
    WriteFile(src, RandomTga(128, 128, 25));
    WriteFile(tmp.Path("small.tga"), small);
    for (const std::string& dst : dsts)
        for (const auto disposition : {SIG_IGN, SIG_DFL}) {
            SCOPED_TRACE(dst.substr(dst.rfind('/') + 1).size());
            SCOPED_TRACE(disposition == SIG_IGN ? "SIGXFSZ ignored" : "SIGXFSZ at its default");
            WriteFile(dst, keep);
            const std::vector<SCreateBumpMap> jobs = {Job(src, dst), Job(tmp.Path("small.tga"), after)};
            const SChild child = RunInChild([&] {
                signal(SIGXFSZ, disposition);
                const rlimit limit = {10000, 10000};
                if (setrlimit(RLIMIT_FSIZE, &limit) != 0)
                    return 1;
                CreateBumpMaps(const_cast<SCreateBumpMap*>(jobs.data()), 2);
                sigset_t pending;
                return sigpending(&pending) == 0 && sigismember(&pending, SIGXFSZ) == 0 ? 0 : 3;
            });
            ASSERT_FALSE(WIFSIGNALED(child.status)) << "killed by signal " << WTERMSIG(child.status);
            EXPECT_EQ(child.status, 0) << "3: a SIGXFSZ is left pending";
            EXPECT_EQ(child.messages, Strings{"Cant write " + Quote(dst)});
            EXPECT_EQ(TempFilesLeft(jobs), Strings{});
            EXPECT_EQ(ReadFile(dst), keep);
            EXPECT_EQ(ReadFile(after), reference::ConvertFile(small, 1.0f));
        }
}

// A full disk under an existing destination leaves the old file whole, and
// no temporary file: for a map larger than the write buffer, which fails in
// a write, and for a tiny one, which fails only as it is flushed and closed;
// and with no inode left for a temporary file, which is no reason to write
// in place. The disk is a small tmpfs, filled up, in a mount namespace of
// the child's own.
TEST(Job, FullDiskKeepsTheOldDestination)
{
    TempDir tmp;
    const std::string big = tmp.Path("big.tga"), tiny = tmp.Path("tiny.tga"), disk = tmp.Path("disk");
    const std::string dst = disk + "/dst.tga", filler = disk + "/filler";
    WriteFile(big, RandomTga(128, 128, 26));
    WriteFile(tiny, RandomTga(6, 5, 27));
    ASSERT_TRUE(MakeFolder(disk));
    const Bytes keep(1000, 'k');
    const SChild child = RunInChild([&] {
        if (unshare(CLONE_NEWNS) != 0 || mount("none", "/", nullptr, MS_REC | MS_PRIVATE, nullptr) != 0 ||
            mount("quarnel-test", disk.c_str(), "tmpfs", 0, "size=64k,nr_inodes=8") != 0)
            return 77;
        WriteFile(dst, keep);
        const int fd = open(filler.c_str(), O_WRONLY | O_CREAT | O_CLOEXEC, 0600);
        const char block[4096] = {};
        while (write(fd, block, sizeof block) > 0) {
        }
        close(fd);
        std::vector<SCreateBumpMap> jobs = {Job(big, dst), Job(tiny, dst)};
        CreateBumpMaps(jobs.data(), 2);
        const bool kept = ReadFile(dst) == keep && FolderNames(disk) == Strings{"dst.tga", "filler"};
        for (int n = 0; close(open((disk + "/" + std::to_string(n)).c_str(), O_CREAT | O_CLOEXEC, 0600)) == 0;)
            ++n;
        CreateBumpMaps(jobs.data(), 1);
        return kept && ReadFile(dst) == keep ? 0 : 2;
    });
    if (child.status == 77 << 8)
        GTEST_SKIP() << "cannot mount a tmpfs here (needs root and mount namespaces)";
    EXPECT_EQ(child.status, 0) << "2: the destination changed or a temporary file stayed";
    EXPECT_EQ(child.messages, (Strings{"Cant write " + Quote(dst), "Cant write " + Quote(dst),
                                       "Cant open " + Quote(dst) + " for writing"}));
}

// A file mounted over its name, from another file system or bound from its
// own, cannot be replaced by a rename: it is written directly.
TEST(Job, FilesMountedOverTheirNamesAreWrittenInPlace)
{
    TempDir tmp;
    const std::string src = tmp.Path("src.tga"), disk = tmp.Path("disk"), bound = tmp.Path("bound.tga");
    const std::string other = tmp.Path("other.tga"), same = tmp.Path("same.tga");
    const Bytes source = RandomTga(6, 5, 29), map = reference::ConvertFile(source, 1.0f), keep(1000, 'k');
    WriteFile(src, source);
    for (const std::string& path : {bound, other, same})
        WriteFile(path, keep);
    ASSERT_TRUE(MakeFolder(disk));
    const SChild child = RunInChild([&] {
        if (unshare(CLONE_NEWNS) != 0 || mount("none", "/", nullptr, MS_REC | MS_PRIVATE, nullptr) != 0 ||
            mount("quarnel-test", disk.c_str(), "tmpfs", 0, "size=64k") != 0)
            return 77;
        WriteFile(disk + "/f.tga", keep);
        if (mount((disk + "/f.tga").c_str(), other.c_str(), nullptr, MS_BIND, nullptr) != 0 ||
            mount(bound.c_str(), same.c_str(), nullptr, MS_BIND, nullptr) != 0)
            return 77;
        std::vector<SCreateBumpMap> jobs = {Job(src, other), Job(src, same)};
        CreateBumpMaps(jobs.data(), 2);
        return ReadFile(disk + "/f.tga") == map && ReadFile(bound) == map ? 0 : 2;
    });
    if (child.status == 77 << 8)
        GTEST_SKIP() << "cannot mount here (needs root and mount namespaces)";
    EXPECT_EQ(child.status, 0) << "2: a mounted file was not written";
    EXPECT_EQ(child.messages, Strings{});
    EXPECT_EQ(FolderNames(tmp.dir), (Strings{"bound.tga", "disk", "other.tga", "same.tga", "src.tga"}));
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
// new file gets the mode "wb" gives, an existing one keeps its mode, owner
// and group, a symlink still points where it did, a hard link shares the
// map, a FIFO's reader gets the stream and a device stays a device. What was
// there before is longer than the map.
TEST(Job, DestinationsKeepWhatTheirNamesMean)
{
    TempDir tmp;
    const std::string src = tmp.Path("src.tga"), target = tmp.Path("target.tga"), alias = tmp.Path("alias.tga");
    const Bytes source = RandomTga(67, 45, 28), map = reference::ConvertFile(source, 1.0f);
    WriteFile(src, source);
    const mode_t umaskNow = umask(022);
    umask(umaskNow);
    // Root hands the old file to "nobody", whose owner and group the replacement must keep.
    const uid_t owner = geteuid() == 0 ? 65534 : geteuid();
    const gid_t group = geteuid() == 0 ? 65534 : getegid();
    pid_t reader = -1;
    struct SCase {
        const char* name;
        std::string dst;
        std::function<void(const std::string&)> setUp, check;
    };
    const std::vector<SCase> cases = {
        {"new file", tmp.Path("new.tga"), [](const std::string&) {},
         [&](const std::string& p) { EXPECT_EQ(Stat(p).st_mode, S_IFREG | (0666 & ~umaskNow)); }},
        {"mode 0640, another owner", tmp.Path("0640.tga"),
         [&](const std::string& p) {
             WriteFile(p, kLonger);
             ASSERT_EQ(chmod(p.c_str(), 0640) | chown(p.c_str(), owner, group), 0);
         },
         [&](const std::string& p) {
             EXPECT_EQ(Stat(p).st_mode, S_IFREG | 0640);
             EXPECT_EQ(Stat(p).st_uid, owner);
             EXPECT_EQ(Stat(p).st_gid, group);
         }},
        {"symlink", tmp.Path("link.tga"),
         [&](const std::string& p) { WriteFile(target, kLonger); ASSERT_EQ(symlink("target.tga", p.c_str()), 0); },
         [&](const std::string& p) {
             char to[64] = {};
             EXPECT_EQ(readlink(p.c_str(), to, sizeof to - 1), 10);
             EXPECT_STREQ(to, "target.tga");
             EXPECT_EQ(ReadFile(target), map);
         }},
        {"hard link", tmp.Path("linked.tga"),
         [&](const std::string& p) { WriteFile(p, kLonger); ASSERT_EQ(link(p.c_str(), alias.c_str()), 0); },
         [&](const std::string&) { EXPECT_EQ(ReadFile(alias), map); }},
        {"FIFO with a reader", tmp.Path("fifo"),
         [&](const std::string& p) {
             ASSERT_EQ(mkfifo(p.c_str(), 0600), 0);
             reader = StartFifoReader(p, tmp.Path("streamed"));
         },
         [&](const std::string& p) {
             int status = -1;
             EXPECT_EQ(waitpid(reader, &status, 0), reader);
             EXPECT_EQ(status, 0);
             EXPECT_EQ(ReadFile(tmp.Path("streamed")), map);
             EXPECT_TRUE(S_ISFIFO(Stat(p).st_mode));
         }},
        {"/dev/null", Device(tmp, "null"), [](const std::string&) {},
         [&](const std::string& p) { EXPECT_TRUE(S_ISCHR(Stat(p).st_mode)); }},
    };
    for (const auto& t : cases) {
        SCOPED_TRACE(t.name);
        t.setUp(t.dst);
        EXPECT_EQ(RunJobs({Job(src, t.dst)}), Strings{});
        if (S_ISREG(Stat(t.dst).st_mode)) {
            EXPECT_EQ(ReadFile(t.dst), map);
        }
        t.check(t.dst);
    }
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
        const float s = 0.5f + static_cast<float>(i);
        const Bytes source = RandomTga(200 + i, 150, 30 + static_cast<std::uint32_t>(i));
        WriteFile(src, source);
        maps.push_back(reference::ConvertFile(source, s));
        batches.push_back({Job(src, tmp.Path("dst" + n), s), Job(missing, tmp.Path("m" + n)),
                           Job(bad, tmp.Path("b" + n)), Job(src, shared, s), Job(src, full)});
        for (int r = 0; r < kRounds; ++r)
            expected.insert(expected.end(), {"Cant open " + Quote(missing) + " for reading",
                                             Quote(bad) + " tgaHeader.pixsize!=24 (pixsize==32)",
                                             "Cant write " + Quote(full)});
    }
    Strings messages = ShownMessages([&] {
        std::vector<std::thread> threads;
        for (auto& batch : batches)
            threads.emplace_back([&batch] {
                for (int r = 0; r < kRounds; ++r)
                    CreateBumpMaps(batch.data(), static_cast<int>(batch.size()));
            });
        for (auto& t : threads)
            t.join();
    });
    std::sort(messages.begin(), messages.end());
    std::sort(expected.begin(), expected.end());
    EXPECT_EQ(messages, expected);
    for (int i = 0; i < kThreads; ++i)
        EXPECT_EQ(ReadFile(tmp.Path("dst" + std::to_string(i))), maps[static_cast<std::size_t>(i)]) << i;
    EXPECT_NE(std::find(maps.begin(), maps.end(), ReadFile(shared)), maps.end());
    for (const auto& name : FolderNames(tmp.dir))
        EXPECT_EQ(name.find(".quarnel-"), std::string::npos) << name;
}

}  // namespace
