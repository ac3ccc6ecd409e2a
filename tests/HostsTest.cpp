// The batch engine as users meet it: a table of batches run through its
// command line, each row a way a host used to slip; the engine's C interface
// (callbacks, workers, memory, cancel); a terminal; then what is each
// binding's own (parsing, exit status, the Python API), for quarnel-convert
// and python -m quarnel alike.
#include <gtest/gtest.h>

#include <fcntl.h>
#include <grp.h>
#include <poll.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <functional>
#include <string>
#include <tuple>
#include <vector>

#include "QuarnelBatch.h"
#include "TestSupport.h"
#include "reference/ReferenceConvert.h"

namespace {

using namespace testsupport;

struct SRun {
    int status;  // the exit status, or 128 and the signal that ended it
    std::string out, err;
    double seconds;
};

enum class EOut { kFile, kClosed, kGone, kTerminal };

struct SLaunch {
    Strings args;
    std::string cwd;
    EOut out = EOut::kFile;
    int signal = 0;        // sent once standard output has a line; negative: ignored from the start
    std::string input = "";  // standard input
    bool noThreads = false;  // stacks no thread can get
    bool unprivileged = false;  // as nobody, where the suite runs as root, who reads any folder
};

std::string Text(const Bytes& b)
{
    return {b.begin(), b.end()};
}

// Runs a command as a user would; killed after a minute (a host that hangs).
SRun Launch(const SLaunch& l)
{
    TempDir io;
    WriteFile(io.Path("in"), Bytes(l.input.begin(), l.input.end()));
    int pipeEnds[2] = {-1, -1}, terminal = -1;
    if (l.out == EOut::kGone && pipe(pipeEnds) != 0)
        return {-1, "", "no pipe", 0};
    if (l.out == EOut::kTerminal && ((terminal = posix_openpt(O_RDWR | O_NOCTTY)) < 0 || grantpt(terminal) != 0 ||
                                     unlockpt(terminal) != 0))
        return {-1, "", "no pseudo-terminal", 0};
    const auto start = std::chrono::steady_clock::now();
    const pid_t pid = fork();
    if (pid == 0) {
        std::vector<char*> argv;
        for (const std::string& a : l.args)
            argv.push_back(const_cast<char*>(a.c_str()));
        argv.push_back(nullptr);
        if (!l.cwd.empty() && chdir(l.cwd.c_str()) != 0)
            _exit(126);
        dup2(open(io.Path("in").c_str(), O_RDONLY), 0);
        dup2(open(io.Path("err").c_str(), O_WRONLY | O_CREAT, 0600), 2);
        if (l.out == EOut::kTerminal) {
            setsid();
            dup2(open(ptsname(terminal), O_RDWR), 1);
        } else if (l.out == EOut::kGone) {
            dup2(pipeEnds[1], 1);
            close(pipeEnds[0]);
        } else if (l.out == EOut::kFile) {
            dup2(open(io.Path("out").c_str(), O_WRONLY | O_CREAT, 0600), 1);
        } else {
            close(1);
        }
        // Whatever the suite was started with (a shell's background job ignores SIGINT).
        for (const int s : {SIGINT, SIGTERM, SIGHUP})
            signal(s, l.signal == -s ? SIG_IGN : SIG_DFL);
        if (l.unprivileged && geteuid() == 0 && (setgroups(0, nullptr) != 0 || setgid(65534) != 0 || setuid(65534) != 0))
            _exit(125);
        if (l.noThreads) {
            const rlimit huge = {RLIM_INFINITY / 2, RLIM_INFINITY};
            setrlimit(RLIMIT_STACK, &huge);
        }
        execv(argv[0], argv.data());
        _exit(127);
    }
    close(pipeEnds[0]);
    close(pipeEnds[1]);
    std::string shown;
    int status = 0;
    bool signalled = l.signal == 0;
    for (int waited = 0; waitpid(pid, &status, WNOHANG) == 0; ++waited) {
        if (waited == 60000)
            kill(pid, SIGKILL);
        if (!signalled && Text(ReadFile(io.Path("out"))).find('\n') != std::string::npos)
            signalled = kill(pid, l.signal < 0 ? -l.signal : l.signal) == 0;
        pollfd p = {terminal, POLLIN, 0};
        char buffer[4096];
        const ssize_t n = terminal >= 0 && poll(&p, 1, 1) > 0 ? read(terminal, buffer, sizeof buffer) : 0;
        if (n > 0)
            shown.append(buffer, static_cast<std::size_t>(n));
        else if (terminal < 0)
            usleep(1000);
    }
    for (char buffer[4096]; terminal >= 0;) {
        pollfd p = {terminal, POLLIN, 0};
        const ssize_t n = poll(&p, 1, 0) > 0 ? read(terminal, buffer, sizeof buffer) : 0;
        if (n <= 0)
            break;
        shown.append(buffer, static_cast<std::size_t>(n));
    }
    if (terminal >= 0)
        close(terminal);
    const double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    return {WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status),
            l.out == EOut::kTerminal ? shown : Text(ReadFile(io.Path("out"))), Text(ReadFile(io.Path("err"))),
            seconds};
}

std::size_t Count(const std::string& text, const std::string& what)
{
    std::size_t n = 0;
    for (std::size_t at = text.find(what); at != std::string::npos; at = text.find(what, at + 1))
        ++n;
    return n;
}

void SetModified(const std::string& path, std::int64_t ns)
{
    const timespec times[2] = {{ns / 1000000000, ns % 1000000000}, {ns / 1000000000, ns % 1000000000}};
    utimensat(AT_FDCWD, path.c_str(), times, 0);
}

const std::int64_t kNow = std::int64_t{1800000000} * 1000000000;
const Bytes kSource = RandomTga(23, 9, 5);
const Bytes kMap = reference::ConvertFile(kSource, 1.0f);

// One way a host used to slip: the files, the command line's arguments after
// the tool, what it must end with, and the files afterwards.
struct SRow {
    const char* what;
    std::function<Strings(const TempDir&)> make;
    int status;
    Strings out, err;  // each printed exactly once
    std::function<void(const TempDir&, const SRun&)> check;
    EOut stdoutIs = EOut::kFile;
    int signal = 0;
    std::string input = "";
    bool unprivileged = false;
};

// A tree of sources under tmp: good ones (kSource) and refused ones (one byte).
void Tree(const TempDir& tmp, const Strings& good, const Strings& bad = {})
{
    for (const std::string& name : good) {
        for (std::size_t at = name.find('/'); at != std::string::npos; at = name.find('/', at + 1))
            MakeFolder(tmp.Path(name.substr(0, at)));
        WriteFile(tmp.Path(name), kSource);
    }
    for (const std::string& name : bad) {
        Tree(tmp, {name});
        WriteFile(tmp.Path(name), {0});
    }
}

void ExpectMaps(const TempDir& tmp, const Strings& maps)
{
    for (const std::string& map : maps)
        EXPECT_EQ(ReadFile(tmp.Path(map)), kMap) << map;
}

const SRow kRows[] = {
    {"a name with a fence and a newline is data, not protocol",
     [](const TempDir& t) {
         Tree(t, {"tree/a.tga"}, {"tree/b\x1equarnel-fence 99999999\nz.tga"});
         return Strings{"-j", "2", "--out-dir", "out", "tree"};
     },
     1, {"1 converted, 0 skipped, 1 failed\n"},
     {"quarnel-convert: 'tree/b\\x1equarnel-fence 99999999\\x0az.tga' is truncated\n"},
     [](const TempDir& t, const SRun&) { ExpectMaps(t, {"out/a_n.tga"}); }},
    {"the same beside 1,500 refused sources",
     [](const TempDir& t) {
         Tree(t, {"tree/a.tga"}, {"tree/b\x1equarnel-fence 0\nz.tga"});
         for (int i = 0; i < 1500; ++i)
             Tree(t, {}, {"tree/b" + std::to_string(i) + ".tga"});
         return Strings{"-j", "2", "--out-dir", "out", "tree"};
     },
     1, {"1 converted, 0 skipped, 1501 failed\n"}, {"'tree/b1499.tga' is truncated\n"}, nullptr},
    {"twenty destinations an hour ahead",
     [](const TempDir& t) {
         Strings args = {"-j", "1"};
         Tree(t, {"a.tga"});
         for (int i = 0; i < 20; ++i) {
             const std::string dst = "d" + std::to_string(i) + ".tga";
             WriteFile(t.Path(dst), {1});
             SetModified(t.Path(dst), kNow + std::int64_t{3600} * 1000000000);
             args.insert(args.end(), {"a.tga", dst});
         }
         return args;
     },
     0, {"20 converted, 0 skipped, 0 failed\n"}, {},
     [](const TempDir& t, const SRun& run) {
         ExpectMaps(t, {"d0.tga", "d19.tga"});
         EXPECT_LT(run.seconds, 5.0);
     }},
    {"--update over a map cut short, a folder in a map's place, a newer map with another name, and times "
     "within a second: older, newer, equal to the nanosecond, a nanosecond older",
     [](const TempDir& t) {
         Tree(t, {"tree/a.tga", "tree/b.tga", "tree/c.tga", "tree/d.tga", "tree/e.tga", "tree/f.tga", "tree/g.tga"});
         MakeFolder(t.Path("out"));
         MakeFolder(t.Path("out/b_n.tga"));
         WriteFile(t.Path("out/a_n.tga"), Bytes(kMap.begin(), kMap.begin() + 100));
         for (const char* map : {"out/c_n.tga", "out/d_n.tga", "out/e_n.tga", "out/f_n.tga", "out/g_n.tga"})
             WriteFile(t.Path(map), Bytes(kMap.size(), 'o'));
         link(t.Path("out/g_n.tga").c_str(), t.Path("g.keep").c_str());
         Bytes withId = kSource;  // a 5-byte ID field, which the map's size counts too
         withId[0] = 5;
         withId.insert(withId.begin() + 18, 5, 'i');
         WriteFile(t.Path("tree/h.tga"), withId);
         WriteFile(t.Path("out/h_n.tga"), Bytes(kMap.size() + 5, 'o'));
         for (const auto& [name, ns] : std::vector<std::pair<std::string, std::int64_t>>{
                  {"tree/c.tga", kNow + 700000000}, {"out/c_n.tga", kNow + 200000000},
                  {"tree/d.tga", kNow + 200000000}, {"out/d_n.tga", kNow + 700000000},
                  {"tree/e.tga", kNow + 500000000}, {"out/e_n.tga", kNow + 500000000},
                  {"tree/f.tga", kNow + 500000001}, {"out/f_n.tga", kNow + 500000000},
                  {"tree/g.tga", kNow}, {"out/g_n.tga", kNow + 700000000},
                  {"tree/h.tga", kNow}, {"out/h_n.tga", kNow + 700000000}})
             SetModified(t.Path(name), ns);
         return Strings{"--update", "--out-dir", "out", "tree"};
     },
     1, {"4 converted, 3 skipped, 1 failed\n"}, {"Cant open 'out/b_n.tga' for writing"},
     [](const TempDir& t, const SRun&) {
         ExpectMaps(t, {"out/a_n.tga", "out/c_n.tga", "out/f_n.tga", "out/g_n.tga"});
         EXPECT_EQ(ReadFile(t.Path("g.keep")), Bytes(kMap.size(), 'o'));
         EXPECT_EQ(ReadFile(t.Path("out/h_n.tga")), Bytes(kMap.size() + 5, 'o'));
         for (const char* kept : {"out/d_n.tga", "out/e_n.tga"})
             EXPECT_EQ(ReadFile(t.Path(kept)), Bytes(kMap.size(), 'o')) << kept;
     }},
    {"an empty --out-dir and an empty path",
     [](const TempDir& t) {
         Tree(t, {"a.tga"});
         return Strings{"--out-dir", "", "a.tga"};
     },
     2, {}, {"--out-dir is an empty path"},
     [](const TempDir& t, const SRun&) { EXPECT_EQ(FolderNames(t.dir), Strings{"a.tga"}); }},
    {"links, hard links and a linked folder in OUT are replaced, never followed; kept by a failed job",
     [](const TempDir& t) {
         Tree(t, {"tree/a.tga", "tree/b.tga", "tree/c.tga", "tree/sub/d.tga", "tree/m/g.tga", "tree/n/g.tga"},
              {"tree/e.tga", "tree/f.tga"});
         MakeFolder(t.Path("else"));
         MakeFolder(t.Path("else/dir"));
         MakeFolder(t.Path("out"));
         WriteFile(t.Path("else/p.txt"), {'k'});
         symlink("../else/p.txt", t.Path("out/a_n.tga").c_str());
         symlink("../else/new.txt", t.Path("out/b_n.tga").c_str());
         link(t.Path("else/p.txt").c_str(), t.Path("out/c_n.tga").c_str());
         symlink("../else/dir", t.Path("out/sub").c_str());
         symlink("../else/p.txt", t.Path("out/e_n.tga").c_str());
         link(t.Path("else/p.txt").c_str(), t.Path("out/f_n.tga").c_str());
         MakeFolder(t.Path("out/m"));
         WriteFile(t.Path("out/m/g_n.tga"), {'k'});
         symlink("m", t.Path("out/n").c_str());  // not where out/n/g_n.tga will be
         return Strings{"--out-dir", "out", "tree"};
     },
     1, {"6 converted, 0 skipped, 2 failed\n"}, {"'tree/e.tga' is truncated\n", "'tree/f.tga' is truncated\n"},
     [](const TempDir& t, const SRun&) {
         EXPECT_EQ(FolderNames(t.Path("out")),
                   (Strings{"a_n.tga", "b_n.tga", "c_n.tga", "e_n.tga", "f_n.tga", "m", "n", "sub"}));
         char target[32] = {};
         EXPECT_EQ(readlink(t.Path("out/e_n.tga").c_str(), target, sizeof target - 1), 13);
         EXPECT_EQ(ReadFile(t.Path("out/f_n.tga")), Bytes{'k'});
         EXPECT_EQ(FolderNames(t.Path("else")), (Strings{"dir", "p.txt"}));
         EXPECT_EQ(ReadFile(t.Path("else/p.txt")), Bytes{'k'});
         EXPECT_EQ(FolderNames(t.Path("else/dir")), Strings{});
         ExpectMaps(t, {"out/a_n.tga", "out/b_n.tga", "out/c_n.tga", "out/sub/d_n.tga", "out/m/g_n.tga", "out/n/g_n.tga"});
     }},
    {"a linked source folder is followed once, a map is no source, and a map's stem ends at the last dot",
     [](const TempDir& t) {
         Tree(t, {"elsewhere/x.v2.tga", "tree/rock.v2.tga", "tree/rock_n.tga", "tree/.tga"});
         symlink("../elsewhere", t.Path("tree/link").c_str());
         symlink("../elsewhere", t.Path("tree/link2").c_str());
         return Strings{"--out-dir", "out", "tree"};
     },
     0, {"3 converted, 0 skipped, 0 failed\n"}, {},
     [](const TempDir& t, const SRun&) { ExpectMaps(t, {"out/.tga_n.tga", "out/link/x.v2_n.tga", "out/rock.v2_n.tga"}); }},
    {"standard output whose reader has gone",
     [](const TempDir& t) {
         Tree(t, {"tree/a.tga", "tree/b.tga", "tree/c.tga", "tree/d.tga"});
         return Strings{"-j", "2", "--out-dir", "out", "tree"};
     },
     3, {}, {},
     [](const TempDir& t, const SRun&) { ExpectMaps(t, {"out/a_n.tga", "out/b_n.tga", "out/c_n.tga", "out/d_n.tga"}); },
     EOut::kGone},
    {"names that would clear the terminal: ESC, C1's CSI as UTF-8 and as a stray byte, bytes outside UTF-8",
     [](const TempDir& t) {
         Tree(t, {}, {"tree/\x1b[2Jx.tga", "tree/y\x9b" "2J\xc2\x9b\r\xc3\xa9\xed\xa0\x80\xff.tga"});
         return Strings{"--out-dir", "out", "tree"};
     },
     1, {"[1/2] tree/\\x1b[2Jx.tga\n", "[2/2] tree/y\\x9b2J\\xc2\\x9b\\x0d\xc3\xa9\\xed\\xa0\\x80\\xff.tga\n"},
     {"'tree/\\x1b[2Jx.tga' is truncated\n", "'tree/y\\x9b2J\\xc2\\x9b\\x0d\xc3\xa9\\xed\\xa0\\x80\\xff.tga' is truncated\n"},
     [](const TempDir&, const SRun& run) {
         for (const char* control : {"\x1b", "\x9b", "\r", "\xff"})
             EXPECT_EQ(Count(run.out + run.err, control), 0u) << static_cast<int>(static_cast<unsigned char>(*control));
     }},
    {"a tree 2,100 folders deep",
     [](const TempDir& t) {
         Tree(t, {"tree/a.tga"});
         int fd = open(t.Path("tree").c_str(), O_RDONLY | O_DIRECTORY);
         for (int depth = 0; depth < 2100; ++depth) {
             mkdirat(fd, "d", 0777);
             const int next = openat(fd, "d", O_RDONLY | O_DIRECTORY);
             close(fd);
             fd = next;
         }
         close(fd);
         return Strings{"--out-dir", "out", "tree"};
     },
     1, {"1 converted, 0 skipped, 1 failed\n"}, {"cannot convert below 'tree/d/d/d/"}, nullptr},
    {"folders that cannot be read or searched deep in the tree are named and fail the run",
     [](const TempDir& t) {
         Tree(t, {"tree/a.tga", "tree/b/c/locked/d.tga", "tree/b/c/e.tga", "elsewhere/f.tga"});
         MakeFolder(t.Path("tree/r"));
         symlink("../../elsewhere", t.Path("tree/r/link").c_str());
         for (const auto& [path, mode] : {std::pair{"tree/b/c/locked", 0}, std::pair{"tree/r", 0444}})
             chmod(t.Path(path).c_str(), static_cast<mode_t>(mode));
         chmod(t.dir.c_str(), 0777);
         return Strings{"--out-dir", "out", "tree"};
     },
     1, {"2 converted, 0 skipped, 2 failed\n"},
     {"cannot read the folder 'tree/b/c/locked'\n", "cannot read the folder 'tree/r/link'\n"},
     [](const TempDir& t, const SRun&) { ExpectMaps(t, {"out/a_n.tga", "out/b/c/e_n.tga"}); }, EOut::kFile, 0, "",
     true},
    {"pairs that depend on each other keep their order: a chain, a conversion in place",
     [](const TempDir& t) {
         Tree(t, {"a.tga", "d.tga"});
         return Strings{"-j", "2", "a.tga", "b.tga", "b.tga", "c.tga", "d.tga", "d.tga", "d.tga", "e.tga"};
     },
     0, {"4 converted, 0 skipped, 0 failed\n"}, {},
     [](const TempDir& t, const SRun&) {
         for (const char* twice : {"c.tga", "e.tga"})
             EXPECT_EQ(ReadFile(t.Path(twice)), reference::ConvertFile(kMap, 1.0f)) << twice;
     }},
    {"pairs of one file not made yet, reached through a linked folder, keep their order too",
     [](const TempDir& t) {
         WriteFile(t.Path("big.tga"), RandomTga(512, 512, 4));
         Tree(t, {"a.tga"});
         symlink(".", t.Path("here").c_str());
         return Strings{"-j", "2", "big.tga", "x.tga", "a.tga", "here/x.tga"};
     },
     0, {"2 converted, 0 skipped, 0 failed\n"}, {}, [](const TempDir& t, const SRun&) { ExpectMaps(t, {"x.tga"}); }},
    {"a found source of the longest path a record holds, 511 bytes",
     [](const TempDir& t) {
         Tree(t, {"tree/" + std::string(252, 'a') + "/" + std::string(249, 'b') + ".tga"});
         return Strings{"--out-dir", "o", "tree"};
     },
     0, {"1 converted, 0 skipped, 0 failed\n"}, {},
     [](const TempDir& t, const SRun&) {
         ExpectMaps(t, {"o/" + std::string(252, 'a') + "/" + std::string(249, 'b') + "_n.tga"});
     }},
    {"a source spelled into OUT before OUT is made",
     [](const TempDir& t) {
         Tree(t, {"a.tga"});
         return Strings{"--out-dir", "o", "a.tga", "./o//a_n.tga"};
     },
     2, {}, {"'a.tga' would write 'o/a_n.tga', which another job reads"},
     [](const TempDir& t, const SRun&) { EXPECT_FALSE(FileExists(t.Path("o"))); }},
    {"a map whose name another map needs for a folder",
     [](const TempDir& t) {
         Tree(t, {"tree/x.tga", "tree/x_n.tga/y.tga"});
         return Strings{"--out-dir", "out", "tree"};
     },
     2, {}, {"'out/x_n.tga' would be the map of 'tree/x.tga' and a folder of the map of 'tree/x_n.tga/y.tga'"},
     [](const TempDir& t, const SRun&) { EXPECT_FALSE(FileExists(t.Path("out"))); }},
    {"two sources of one new map",
     [](const TempDir& t) {
         Tree(t, {"a/rock.tga", "b/rock.tga"});
         return Strings{"--out-dir", "out", "a/rock.tga", "b/rock.tga"};
     },
     2, {}, {"'a/rock.tga' and 'b/rock.tga' would both write 'out/rock_n.tga'"},
     [](const TempDir& t, const SRun&) { EXPECT_FALSE(FileExists(t.Path("out/rock_n.tga"))); }},
    {"--files-from standard input, an empty line and a \\r\\n among them",
     [](const TempDir& t) {
         Tree(t, {"tree/a.tga", "b.tga"});
         return Strings{"--files-from", "-", "--out-dir", "out"};
     },
     0, {"2 converted, 0 skipped, 0 failed\n"}, {},
     [](const TempDir& t, const SRun&) { ExpectMaps(t, {"out/a_n.tga", "out/b_n.tga"}); }, EOut::kFile, 0,
     "tree\n\nb.tga\r\n"},
};

class Batches : public ::testing::TestWithParam<SRow> {};

TEST_P(Batches, EndAsAWellMadeToolWould)
{
    const SRow& row = GetParam();
    SCOPED_TRACE(row.what);
    TempDir tmp;
    Strings args = {QUARNEL_CONVERT};
    // nobody may not reach the build folder (a clone under a private one):
    // the tool and its modules copied into the row's folder, which it reaches.
    if (row.unprivileged && geteuid() == 0) {
        const std::string built = args[0].substr(0, args[0].rfind('/') + 1);
        MakeFolder(tmp.Path("bin"));
        for (const char* name : {"quarnel-convert", "libQuarnelBatch.so", "libQuarnel.so"}) {
            WriteFile(tmp.Path("bin/") + name, ReadFile(built + name));
            chmod((tmp.Path("bin/") + name).c_str(), 0755);
        }
        args[0] = tmp.Path("bin/quarnel-convert");
    }
    for (const std::string& a : row.make(tmp))
        args.push_back(a);
    const SRun run = Launch({args, tmp.dir, row.stdoutIs, row.signal, row.input, false, row.unprivileged});
    EXPECT_EQ(run.status, row.status) << run.out << run.err;
    for (const std::string& line : row.out)
        EXPECT_EQ(Count(run.out, line), 1u) << line << " in\n" << run.out;
    for (const std::string& line : row.err)
        EXPECT_EQ(Count(run.err, line), 1u) << line << " in\n" << run.err;
    if (row.check)
        row.check(tmp, run);
}

std::string RowName(const ::testing::TestParamInfo<SRow>& info)
{
    return "Row" + std::to_string(info.index);
}

INSTANTIATE_TEST_SUITE_P(Table, Batches, ::testing::ValuesIn(kRows), RowName);

// On a terminal the line in place is drawn, drawn shorter and cleared for
// the summary; the failure goes below it.
TEST(Console, ProgressLineOnATerminal)
{
    TempDir tmp;
    Tree(tmp, {"a.tga"}, {"bad.tga"});
    Strings args = {QUARNEL_CONVERT, "-j", "1", "bad.tga", "x.tga"};
    for (int i = 0; i < 12; ++i)
        args.insert(args.end(), {"a.tga", "m" + std::to_string(i) + ".tga"});
    const SRun run = Launch({args, tmp.dir, EOut::kTerminal});
    EXPECT_EQ(run.status, 1) << run.out << run.err;
    EXPECT_EQ(run.out.find("\r[0/13]"), 0u) << run.out;
    EXPECT_NE(run.out.find("\r[13/13] "), std::string::npos) << run.out;
    EXPECT_NE(run.out.find("\r12 converted, 0 skipped, 1 failed\r\n"), std::string::npos) << run.out;
    EXPECT_EQ(Count(run.err, "'bad.tga' is truncated\n"), 1u) << run.err;
}

// The C interface: a report a job, at most the workers' count at once, one
// at a time where the memory budget holds one, a cancel from a callback.
struct SWatch {
    int most = 0;
    Strings reports;
    QuarnelBatch* cancel = nullptr;
};

TEST(Engine, ReportsEveryJobWithinItsWorkersAndMemory)
{
    TempDir tmp;
    WriteFile(tmp.Path("a.tga"), RandomTga(768, 768, 3));  // long enough for jobs to overlap
    Tree(tmp, {}, {"bad.tga"});
    // A budget of one byte holds no job: each runs alone.
    for (const auto& [workers, memory, most] : {std::tuple{2, 0, 2}, std::tuple{3, 1, 1}}) {
        SWatch watch;
        SQuarnelBatchOptions o;
        QuarnelBatchInitOptions(&o);
        o.workers = workers;
        o.memory = static_cast<std::uint64_t>(memory);
        o.context = &watch;
        o.onProgress = [](void* w, const SQuarnelBatchCounts* c) {
            static_cast<SWatch*>(w)->most = std::max(static_cast<SWatch*>(w)->most, c->running);
        };
        o.onJob = [](void* w, const SQuarnelJobReport* r) {
            static_cast<SWatch*>(w)->reports.push_back(std::to_string(r->job) + " " + std::to_string(r->outcome) +
                                                       (r->messageCount == 1 ? std::string(" ") + r->messages[0] : ""));
        };
        QuarnelBatch* batch = QuarnelBatchCreate(&o);
        for (int i = 0; i < 9; ++i) {
            QuarnelBatchAdd(batch, tmp.Path(i == 4 ? "bad.tga" : "a.tga").c_str());
            QuarnelBatchAdd(batch, tmp.Path("m" + std::to_string(i) + ".tga").c_str());
        }
        SQuarnelBatchCounts counts = {sizeof counts, 0, 0, 0, 0, 0, 0, 0, 0};
        EXPECT_EQ(QuarnelBatchRun(batch, &counts), QUARNEL_BATCH_FAILED);
        QuarnelBatchDestroy(batch);
        EXPECT_EQ(counts.converted * 10 + counts.failed, 81);
        EXPECT_EQ(counts.started, 9);
        EXPECT_EQ(watch.most, most) << workers;
        std::sort(watch.reports.begin(), watch.reports.end());
        EXPECT_EQ(watch.reports[4], "4 2 " + Quote(tmp.Path("bad.tga")) + " is truncated");
        EXPECT_EQ(watch.reports.size(), 9u);
    }
}

TEST(Engine, CancelStartsNoMoreJobsAndRefusalsSayWhy)
{
    TempDir tmp;
    WriteFile(tmp.Path("a.tga"), RandomTga(512, 512, 3));
    SWatch watch;
    SQuarnelBatchOptions o;
    QuarnelBatchInitOptions(&o);
    o.context = &watch;
    o.onJob = [](void* w, const SQuarnelJobReport*) { QuarnelBatchCancel(static_cast<SWatch*>(w)->cancel); };
    SQuarnelBatchCounts counts = {sizeof counts, 0, 0, 0, 0, 0, 0, 0, 0};
    // With a budget of one byte the second worker waits for memory meanwhile: the cancel finds it waiting.
    for (const int workers : {1, 2}) {
        o.workers = workers;
        o.memory = 1;
        watch.cancel = QuarnelBatchCreate(&o);
        for (int i = 0; i < 5; ++i) {
            QuarnelBatchAdd(watch.cancel, tmp.Path("a.tga").c_str());
            QuarnelBatchAdd(watch.cancel, tmp.Path(std::to_string(i) + ".tga").c_str());
        }
        EXPECT_EQ(QuarnelBatchRun(watch.cancel, &counts), QUARNEL_BATCH_CANCELLED);
        EXPECT_EQ(counts.converted, 1);
        QuarnelBatchDestroy(watch.cancel);
        EXPECT_EQ(FolderNames(tmp.dir), (Strings{"0.tga", "a.tga"})) << workers;
        unlink(tmp.Path("0.tga").c_str());
    }
    // Memory units are powers of 1024, in either case.
    for (const auto& [text, bytes] : {std::pair{"3k", 3ull << 10}, std::pair{"2T", 2ull << 40}}) {
        EXPECT_EQ(QuarnelBatchReadValue(&o, QUARNEL_VALUE_MEMORY, text, nullptr, 0), QUARNEL_BATCH_DONE);
        EXPECT_EQ(o.memory, bytes) << text;
    }

    o.onJob = nullptr;
    o.texelsize = 0;
    QuarnelBatch* refused = QuarnelBatchCreate(&o);
    EXPECT_EQ(QuarnelBatchRun(refused, &counts), QUARNEL_BATCH_REFUSED);
    EXPECT_EQ(std::string(QuarnelBatchWhy(refused)).find("'0' is not a texel size"), 0u) << QuarnelBatchWhy(refused);
    QuarnelBatchDestroy(refused);
    o.texelsize = 1;
    for (const auto& [module, why] : {std::pair{"/nowhere/libQuarnel.so", "/nowhere/libQuarnel.so"},
                                      std::pair{QUARNEL_SILENT_MODULE, "messages do not reach the engine"}}) {
        o.module = module;
        QuarnelBatch* noModule = QuarnelBatchCreate(&o);
        EXPECT_EQ(QuarnelBatchAdd(noModule, "a.tga"), QUARNEL_BATCH_NO_MODULE);
        EXPECT_NE(std::string(QuarnelBatchWhy(noModule)).find(why), std::string::npos) << QuarnelBatchWhy(noModule);
        QuarnelBatchDestroy(noModule);
    }
}

// A plan handed out, nothing written, and a part of it run by a batch of
// its own: its reports keep their places. A planned map that would leave
// OUT, a planned job in the pair form or beside added paths, is refused.
TEST(Engine, PlannedJobsRunElsewhereWithinOut)
{
    TempDir tmp;
    Tree(tmp, {"tree/a.tga", "tree/sub/b.tga"}, {"tree/bad.tga"});
    const std::string out = tmp.Path("out");
    std::vector<std::tuple<int, std::string, std::string>> plan;
    Strings reports;
    SQuarnelBatchOptions o;
    QuarnelBatchInitOptions(&o);
    o.outDir = out.c_str();
    o.context = &reports;
    o.onJob = [](void* r, const SQuarnelJobReport* j) {
        static_cast<Strings*>(r)->push_back(std::to_string(j->job) + " " + j->dstpath);
    };
    QuarnelBatch* planner = QuarnelBatchCreate(&o);
    QuarnelBatchAdd(planner, tmp.Path("tree").c_str());
    EXPECT_EQ(QuarnelBatchPlan(planner, [](void* p, const SQuarnelPlannedJob* j) {
        static_cast<decltype(plan)*>(p)->emplace_back(j->job, j->srcpath, j->dstpath);
    }, &plan), QUARNEL_BATCH_DONE);
    EXPECT_EQ(QuarnelBatchAdd(planner, "x.tga"), QUARNEL_BATCH_REFUSED);
    QuarnelBatchDestroy(planner);
    ASSERT_EQ(plan.size(), 3u);
    EXPECT_EQ(std::get<2>(plan[2]), out + "/sub/b_n.tga");
    EXPECT_EQ(FolderNames(tmp.dir), (Strings{"tree"}));
    // A batch of the planned job at place, after the path added, if any; why it was refused.
    const auto add = [&](const char* outDir, int place, const std::string& dst, const char* path = nullptr) {
        o.outDir = outDir;
        QuarnelBatch* batch = QuarnelBatchCreate(&o);
        if (path != nullptr)
            QuarnelBatchAdd(batch, path);
        const SQuarnelPlannedJob job = {sizeof job, place, std::get<1>(plan[static_cast<std::size_t>(place)]).c_str(), dst.c_str(), ""};
        if (QuarnelBatchAddJob(batch, &job) == QUARNEL_BATCH_DONE) {
            EXPECT_EQ(QuarnelBatchRun(batch, nullptr), QUARNEL_BATCH_DONE);
        }
        const std::string why = QuarnelBatchWhy(batch);
        QuarnelBatchDestroy(batch);
        return why;
    };
    // A link at the map's name, and a killed run's leftover where it would be moved aside.
    MakeFolder(out);
    MakeFolder(out + "/sub");
    symlink("../../tree/a.tga", (out + "/sub/b_n.tga").c_str());
    const std::string leftover = out + "/sub/.quarnel-" + std::to_string(getpid()) + "-2.old";
    WriteFile(leftover, {'k'});
    EXPECT_EQ(add(out.c_str(), 2, std::get<2>(plan[2])), "");
    EXPECT_EQ(reports, (Strings{"2 " + out + "/sub/b_n.tga"}));
    ExpectMaps(tmp, {"out/sub/b_n.tga"});
    EXPECT_EQ(ReadFile(leftover), Bytes{'k'});
    EXPECT_EQ(ReadFile(tmp.Path("tree/a.tga")), kSource);
    const struct {
        const char* outDir;
        std::string dst;
        const char* path;
        const char* why;
    } refused[] = {{out.c_str(), out + "/../a_n.tga", nullptr, "is not below"},
                   {out.c_str(), out + "/sub/./a_n.tga", nullptr, "is not below"},
                   {out.c_str(), tmp.Path("elsewhere/sub/a_n.tga"), nullptr, "is not below"},
                   {out.c_str(), out + "/sub/", nullptr, "is not below"},
                   {nullptr, "b.tga", nullptr, "out-dir form"},
                   {out.c_str(), std::get<2>(plan[0]), std::get<1>(plan[0]).c_str(), "not both"}};
    for (const auto& r : refused)
        EXPECT_NE(add(r.outDir, 0, r.dst, r.path).find(r.why), std::string::npos) << r.dst;
}

// What is each binding's own, the same for both: its parsing and its exit
// statuses. The Python one only where the modules are not sanitized.
class Bindings : public ::testing::TestWithParam<bool> {
protected:
    void SetUp() override
    {
        if (GetParam() && std::string(QUARNEL_PYTHON).empty())
            GTEST_SKIP() << "no Python in this build";
    }
    Strings Host(const Strings& args) const
    {
        Strings command = {QUARNEL_CONVERT};
        if (GetParam())
            command = {"/usr/bin/env", "PYTHONPATH=" QUARNEL_PYTHON_PATH, QUARNEL_PYTHON, "-m", "quarnel"};
        command.insert(command.end(), args.begin(), args.end());
        return command;
    }
    TempDir tmp;
};

TEST_P(Bindings, ParseOptionsAndExitAsTheToolsDo)
{
    Tree(tmp, {"a.tga"});
    const std::string list = "\n" + std::string(600, 'a');
    WriteFile(tmp.Path("long.lst"), Bytes(list.begin(), list.end()));
    const struct {
        Strings args;
        int status;
        std::string said;  // on standard output for status 0, else on standard error
        EOut out = EOut::kFile;
    } cases[] = {
        {{"--help"}, 0, "--files-from FILE"},
        {{"--help"}, 3, "", EOut::kClosed},
        {{"--version"}, 3, "", EOut::kGone},
        {{"-j=2", "--out-dir", "-o", "a.tga"}, 0, "1 converted"},
        {{"-qj2", "--texel-size", "-2", "a.tga", "y.tga"}, 0, ""},
        {{"-j", "abc", "a.tga", "x.tga"}, 2, "'abc' is not a number of workers: a whole number from 1 to 4096"},
        {{"-j", "0", "a.tga", "x.tga"}, 2, "'0' is not a number of workers"},
        {{"-j2", "a.tga", "x.tga"}, 0, "1 converted"},
        {{"--jobs=2", "--texel-size=2", "a.tga", "x.tga"}, 0, "1 converted"},
        {{"--texel-size", "abc", "a.tga", "x.tga"}, 2, "'abc' is not a texel size"},
        {{"--texel-size", "nan", "a.tga", "x.tga"}, 2, "'nan' is not a texel size"},
        {{"--texel-size=-inf", "a.tga", "x.tga"}, 2, "'-inf' is not a texel size"},
        {{"--texel-size", "0", "a.tga", "x.tga"}, 2, "'0' is not a texel size"},
        {{"--texel-size", "1e40", "a.tga", "x.tga"}, 2, "'1e40' is not a texel size"},
        {{"--texel-size", "1e-50", "a.tga", "x.tga"}, 2, "'1e-50' is not a texel size"},
        {{"--texel-size", "2x", "a.tga", "x.tga"}, 2, "'2x' is not a texel size"},
        {{"--texel-size", " 2", "a.tga", "x.tga"}, 2, "' 2' is not a texel size"},
        {{"-j", "4096", "--", "a.tga", "-w.tga"}, 0, "1 converted"},
        {{"a.tga", "x.tga", "--texel-size"}, 2, "--texel-size"},
        {{"--memory", "0", "a.tga", "x.tga"}, 2, "'0' is not a memory budget"},
        {{"--memory", "16777216T", "a.tga", "x.tga"}, 2, "'16777216T' is not a memory budget"},
        {{"--update=1", "a.tga", "x.tga"}, 2, "--update"},
        {{"-1", "x.tga"}, 2, "unknown option '-1'"},
        {{"--out-dir=", "a.tga"}, 2, "--out-dir is an empty path"},
        {{"--bogus", "--help"}, 2, "unknown option '--bogus'"},
        {{"--texel-size", "0", "--version"}, 2, "'0' is not a texel size"},
        {{"--texel-size=\xff", "a.tga", "x.tga"}, 2, "--texel-size: '\\xff' is not"},
        {{"--out-dir", "o", "a.tga/", "x/"}, 1, "'a.tga/' for reading"},
        {{"--\x1b[2J\x9b", "a.tga", "x.tga"}, 2, "--\\x1b[2J\\x9b"},
        // DEL, C1's last, overlong forms, past U+10FFFF, and a character that ends the line.
        {{"--\x7f\xc2\x9f\xc0\xaf\xe0\x80\xaf\xf5\x80\x80\x80\xc3\xa9", "a.tga", "x.tga"}, 2,
         "--\\x7f\\xc2\\x9f\\xc0\\xaf\\xe0\\x80\\xaf\\xf5\\x80\\x80\\x80\xc3\xa9"},
        {{"", "x.tga"}, 2, "an empty path names no file"},
        {{"a.tga"}, 2, "'a.tga' has no DST"},
        {{"--files-from", "nope.lst", "--out-dir", "o"}, 2, "cannot read the list 'nope.lst'"},
        {{"--files-from", "long.lst", "--out-dir", "o"}, 2, "line 2 of the list 'long.lst': path longer"},
        {{"--module", "/nope.so", "a.tga", "x.tga"}, 1, "cannot load the module: /nope.so"},
    };
    for (const auto& c : cases) {
        const SRun run = Launch({Host(c.args), tmp.dir, c.out});
        EXPECT_EQ(run.status, c.status) << c.args[0] << "\n" << run.out << run.err;
        EXPECT_EQ(run.err.find('\x1b'), std::string::npos) << run.err;
        EXPECT_NE((c.status == 0 ? run.out : run.err).find(c.said), std::string::npos) << c.said << "\n"
                                                                                     << run.out << run.err;
    }
    EXPECT_EQ(ReadFile(tmp.Path("x.tga")), reference::ConvertFile(kSource, 2.0f));
    EXPECT_EQ(ReadFile(tmp.Path("y.tga")), reference::ConvertFile(kSource, -2.0f));
    ExpectMaps(tmp, {"-o/a_n.tga", "-w.tga"});
}

// A closed standard output ends neither the batch nor the exit status'
// word on it; where no thread can be started the batch runs all the same.
TEST_P(Bindings, SurviveAClosedOutputAndNoThreads)
{
    Tree(tmp, {"tree/a.tga", "tree/b.tga"});
    SRun run = Launch({Host({"--out-dir", "out", "tree"}), tmp.dir, EOut::kClosed});
    EXPECT_EQ(run.status, 3) << run.err;
    EXPECT_EQ(run.err, "");
    run = Launch({Host({"-j", "20", "--out-dir", "out2", "tree"}), tmp.dir, EOut::kFile, 0, "", true});
    EXPECT_EQ(run.status, 0) << run.err;
    EXPECT_EQ(run.err, "");
    ExpectMaps(tmp, {"out/a_n.tga", "out/b_n.tga", "out2/a_n.tga", "out2/b_n.tga"});
}

// SIGINT, SIGTERM and SIGHUP mid-batch: no new job, the running ones finish whole,
// no temporary file is left, one line says so.
TEST_P(Bindings, InterruptsLetTheRunningJobsFinish)
{
    WriteFile(tmp.Path("big.tga"), RandomTga(1024, 1024, 9));
    const Bytes map = reference::ConvertFile(ReadFile(tmp.Path("big.tga")), 1.0f);
    Tree(tmp, {}, {"bad.tga"});  // a job that fails first: the summary still adds up
    Strings args = {"-j", "2", "bad.tga", "bad_n.tga"};
    for (int i = 0; i < 24; ++i)
        args.insert(args.end(), {"big.tga", "m" + std::to_string(i) + ".tga"});
    // A signal ignored from the start (nohup, a background job) stays ignored.
    for (const int signal : {SIGINT, SIGTERM, SIGHUP, -SIGINT}) {
        const SRun run = Launch({Host(args), tmp.dir, EOut::kFile, signal});
        const Strings names = FolderNames(tmp.dir);
        if (signal < 0) {
            EXPECT_EQ(run.status, 1) << run.err;
            EXPECT_EQ(names.size(), 26u);
            continue;
        }
        EXPECT_EQ(run.status, 128 + signal) << run.err;
        EXPECT_LT(names.size(), 26u) << "every job ran: the interrupt came too late";
        for (const std::string& name : names)
            EXPECT_TRUE(name == "big.tga" || name == "bad.tga" || ReadFile(tmp.Path(name)) == map) << name;
        EXPECT_EQ(Count(run.err, "\n"), 2u) << run.err;
        const std::string line = (GetParam() ? "quarnel" : "quarnel-convert") + std::string(": interrupted: ") +
                                 std::to_string(names.size() - 2) + " converted, 0 skipped, 1 failed, " +
                                 std::to_string(26 - names.size()) + " not started\n";
        EXPECT_EQ(run.err.substr(run.err.find('\n') + 1), line);
        for (const std::string& name : names)
            if (name != "big.tga" && name != "bad.tga")
                unlink(tmp.Path(name).c_str());
    }
}

// A real tree of good and refused files: the same maps, lines and summary.
TEST_P(Bindings, PrintATreeAlike)
{
    Tree(tmp, {"tree/a.tga", "tree/sub/b.TGA"}, {"tree/bad.tga", "tree/sub/deeper/c.tga"});
    const SRun run = Launch({Host({"-j", "2", "--out-dir", "out", "tree"}), tmp.dir});
    EXPECT_EQ(run.status, 1);
    EXPECT_EQ(run.out, "[1/4] tree/a.tga\n[2/4] tree/bad.tga\n[3/4] tree/sub/b.TGA\n[4/4] tree/sub/deeper/c.tga\n"
                       "2 converted, 0 skipped, 2 failed\n");
    const std::string name = GetParam() ? "quarnel" : "quarnel-convert";
    EXPECT_EQ(Count(run.err, name + ": 'tree/bad.tga' is truncated\n"), 1u) << run.err;
    EXPECT_EQ(Count(run.err, name + ": 'tree/sub/deeper/c.tga' is truncated\n"), 1u) << run.err;
    EXPECT_EQ(Count(run.err, "\n"), 2u) << run.err;
    ExpectMaps(tmp, {"out/a_n.tga", "out/sub/b_n.tga"});
    const SRun quiet = Launch({Host({"-q", "--out-dir", "out/", "tree/"}), tmp.dir});
    EXPECT_EQ(quiet.status, 1);
    // Two workers may end the failing jobs in either order.
    const auto lines = [](const std::string& text) {
        Strings sorted;
        for (std::size_t at = 0, end; (end = text.find('\n', at)) != std::string::npos; at = end + 1)
            sorted.push_back(text.substr(at, end - at + 1));
        std::sort(sorted.begin(), sorted.end());
        return sorted;
    };
    EXPECT_EQ(lines(quiet.out + quiet.err), lines(run.err)) << "-q: failures only, paths joined alike";
}

INSTANTIATE_TEST_SUITE_P(ToolAndPython, Bindings, ::testing::Values(false, true),
                         [](const ::testing::TestParamInfo<bool>& p) { return p.param ? "Python" : "Tool"; });

// The Python API: results as data, misuse as exceptions, progress on the
// calling thread (an exception there cancels the batch), two batches at once
// on two threads, and a child process started meanwhile that outlives them.
TEST(PythonApi, ResultsErrorsProgressAndBatchesAtOnce)
{
    if (std::string(QUARNEL_PYTHON).empty())
        GTEST_SKIP() << "no Python in this build";
    TempDir tmp;
    Tree(tmp, {"tree/a.tga", "tree/sub/b.tga"}, {"tree/bad.tga"});
    WriteFile(tmp.Path("big.tga"), RandomTga(1024, 1024, 9));
    const std::string script = R"(
import glob, logging, subprocess, threading, time, quarnel
seen = []  # a callback slower than the jobs: the last counts still come
s = quarnel.convert_tree("tree", "out", jobs=2, progress=lambda p: seen.append(
    (p.done, p.jobs, threading.current_thread() is threading.main_thread())) or time.sleep(0.2))
print(s.converted, s.skipped, s.failed, [(r.destination, r.outcome, r.messages) for r in s.results])
print(seen[-1], all(m for _, _, m in seen), [d for d, _, _ in seen] == sorted({d for d, _, _ in seen}))
logging.basicConfig(format="%(message)s")  # the failures from here on are logged
p = quarnel.convert_pairs([("tree/a.tga", "x.tga")], update=True, texel_size=2.0)
u = quarnel.convert_pairs([("tree/a.tga", "x.tga")], update=True)
print(p.converted, p.skipped, p.failures, u.skipped, u.failed)
print(quarnel.create_bump_maps([("x.tga", "y.tga"), ("y.tga", "z.tga")], texel_size=0.5).converted)
ok = ("tree/a.tga", "w.tga")
for pairs, bad in (([ok], {"jobs": 0}), ([ok], {"texel_size": 1e40}), ([ok], {"texel_size": float("nan")}),
                   ([ok], {"memory": "1Q"}), ([ok], {"memory": "1\0G"}), (ok, {}), ([ok + ("v.tga",)], {}), ([("tree/a.tga\0", "w.tga")], {})):
    try:
        quarnel.convert_pairs(pairs, **bad)
    except ValueError as error:
        print("ValueError", str(error).split(":")[0].split(" ")[0])
for bad in ({"module": "/nope.so"}, {"out_dir": "tree/a.tga/out"}):
    try:
        quarnel.convert_tree("tree", **{"out_dir": "w", **bad})
    except OSError as error:
        print("OSError", bad.popitem()[1] in str(error))
def stop(progress):
    raise RuntimeError("stop")
try:
    quarnel.convert_pairs([("big.tga", f"m{i}.tga") for i in range(24)], jobs=1, progress=stop)
except RuntimeError:
    print("RuntimeError", len(glob.glob("m*.tga")) < 24)
start, sums = time.monotonic(), []
threads = [threading.Thread(target=lambda i=i: sums.append(quarnel.convert_tree("tree", f"t{i}", jobs=2)))
           for i in range(4)]
threading.Thread(target=lambda: subprocess.Popen(["sleep", "8"])).start()
for t in threads: t.start()
for t in threads: t.join()
print(sorted((s.converted, s.failed, [r.messages for r in s.results]) for s in sums)[0], time.monotonic() - start < 4)
)";
    const SRun run = Launch({{"/usr/bin/env", "PYTHONPATH=" QUARNEL_PYTHON_PATH, QUARNEL_PYTHON, "-c", script}, tmp.dir});
    EXPECT_EQ(run.status, 0) << run.err;
    EXPECT_EQ(run.out,
              "2 0 1 [('out/a_n.tga', 'converted', ()), ('out/bad_n.tga', 'failed', "
              "(\"'tree/bad.tga' is truncated\",)), ('out/sub/b_n.tga', 'converted', ())]\n"
              "(3, 3, True) True True\n1 0 () 1 0\n2\nValueError --jobs\nValueError --texel-size\nValueError --texel-size\n"
              "ValueError --memory\nValueError --memory\nValueError pairs\nValueError pairs\nValueError path\nOSError True\n"
              "OSError True\n"
              "RuntimeError True\n"
              "(2, 1, [(), (\"'tree/bad.tga' is truncated\",), ()]) True\n")
        << run.err;
    // Each failure logged once, but none before logging was set up.
    EXPECT_EQ(Count(run.err, "'tree/bad.tga' is truncated\n"), 4u) << run.err;
    EXPECT_EQ(ReadFile(tmp.Path("z.tga")),
              reference::ConvertFile(reference::ConvertFile(reference::ConvertFile(kSource, 2.0f), 0.5f), 0.5f));
}

}  // namespace
