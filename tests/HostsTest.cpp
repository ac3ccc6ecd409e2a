// The hosts we ship, run as users run them: quarnel-convert and quarnel.py on
// a tree of good and bad files, and the status rules they share, fed the file
// times any file system would show.
#include <gtest/gtest.h>

#include <fcntl.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <map>
#include <string>
#include <vector>

#include "TestSupport.h"
#include "WriteStatus.h"
#include "reference/ReferenceConvert.h"

namespace {

using namespace testsupport;

struct SRun {
    int status;
    std::string out, err;
};

// Runs a host with its output in files; the exit status, or -1.
SRun RunHost(std::vector<std::string> args)
{
    TempDir tmp;
    const std::string out = tmp.Path("out"), err = tmp.Path("err");
    const pid_t pid = fork();
    if (pid == 0) {
        std::vector<char*> argv;
        for (auto& a : args)
            argv.push_back(a.data());
        argv.push_back(nullptr);
        const int o = open(out.c_str(), O_WRONLY | O_CREAT, 0600), e = open(err.c_str(), O_WRONLY | O_CREAT, 0600);
        dup2(o, 1);
        dup2(e, 2);
        execv(argv[0], argv.data());
        _exit(127);
    }
    int status = 0;
    waitpid(pid, &status, 0);
    const Bytes o = ReadFile(out), e = ReadFile(err);
    return {WIFEXITED(status) ? WEXITSTATUS(status) : -1, {o.begin(), o.end()}, {e.begin(), e.end()}};
}

// A stamp as quarnel.py's rules take a stat.
std::string Py(const FileStamp& f)
{
    return f.exists ? "S(st_mtime_ns=" + std::to_string(f.time) + ", st_size=" + std::to_string(f.size) + ")" : "None";
}

// The status rules of quarnel-convert, and the same rows through quarnel.py's.
TEST(HostStatus, TellsAWriteFromTheStampsAlone)
{
    const std::int64_t t = 1700000000123456789, second = 1000000000;
    const FileStamp none = {false, false, false, 0, 0}, old = {true, true, false, t, 60};
    const FileStamp whole = {true, true, false, 1700 * second, 60}, newer = {true, true, false, t + 1, 60};
    const struct {
        const char* what;
        FileStamp before, after;
        long long expected;
        bool written;
    } cases[] = {
        {"a new file", none, old, 60, true},
        {"an old file of another size, same time", {true, true, false, t, 59}, old, 60, true},
        {"an old file left as it was", old, old, 60, false},
        {"written directly and cut short", {true, true, false, t, 90}, {true, true, false, t + 9, 59}, 60, false},
        {"gone afterwards", old, none, 60, false},
        {"a source header that could not be read", none, old, -1, false},
    };
    std::string python = "import sys\nsys.path.insert(0, sys.argv[1])\nimport quarnel as q\n"
                         "from types import SimpleNamespace as S\n";
    std::string expect;
    for (const auto& c : cases) {
        EXPECT_EQ(DestinationWritten(c.before, c.after, c.expected), c.written) << c.what;
        python += "print(q._written(" + Py(c.before) + ", " + Py(c.after) + ", " + std::to_string(c.expected) + "))\n";
        expect += c.written ? "True\n" : "False\n";
    }
    // An old file is waited past by a tick of its file system, whole seconds
    // when its time has no fraction (FAT keeps two).
    const struct {
        FileStamp before;
        std::int64_t now, wait;
    } waits[] = {{old, t + 10000000, 40000000}, {whole, whole.time + second / 10, 19 * second / 10},
                 {old, t + second, 0}, {none, t, 0}};
    for (const auto& w : waits) {
        EXPECT_EQ(WaitBeforeCall(w.before, w.now), w.wait) << w.before.time;
        python += "print(q._wait_before_call(" + Py(w.before) + ", " + std::to_string(w.now) + "))\n";
        expect += std::to_string(w.wait) + "\n";
    }
    // --update, as make: a destination not older than its source is up to date.
    const struct {
        FileStamp src, dst;
        bool upToDate;
    } updates[] = {{old, old, true}, {newer, old, false}, {old, none, false}, {none, old, false}};
    for (const auto& u : updates) {
        EXPECT_EQ(UpToDate(u.src, u.dst), u.upToDate) << u.src.time << " " << u.dst.time;
        python += "print(q._up_to_date(" + Py(u.src) + ", " + Py(u.dst) + "))\n";
        expect += u.upToDate ? "True\n" : "False\n";
    }
    if (std::string(QUARNEL_PYTHON).empty())
        return;
    const std::string host = QUARNEL_PY_HOST;
    const SRun run = RunHost({QUARNEL_PYTHON, "-c", python, host.substr(0, host.rfind('/'))});
    EXPECT_EQ(run.out, expect) << run.err;
}

std::int64_t ModifiedAt(const std::string& path)
{
    struct stat st;
    return stat(path.c_str(), &st) == 0 ? st.st_mtim.tv_sec * 1000000000LL + st.st_mtim.tv_nsec : -1;
}

void SetModified(const std::string& path, std::int64_t seconds)
{
    const timespec times[2] = {{seconds, 0}, {seconds, 0}};
    utimensat(AT_FDCWD, path.c_str(), times, 0);
}

// Every file under dir, by path relative to it, with its time.
void ListTree(const std::string& dir, const std::string& rel, std::map<std::string, std::int64_t>& files)
{
    for (const std::string& name : FolderNames(dir + rel)) {
        struct stat st;
        lstat((dir + rel + name).c_str(), &st);
        if (S_ISDIR(st.st_mode))
            ListTree(dir, rel + name + "/", files);
        else
            files[rel + name] = ModifiedAt(dir + rel + name);
    }
}

std::size_t Count(const std::string& text, const std::string& what)
{
    std::size_t n = 0;
    for (std::size_t at = text.find(what); at != std::string::npos; at = text.find(what, at + 1))
        ++n;
    return n;
}

class Hosts : public ::testing::TestWithParam<bool> {
protected:
    // The host's command: quarnel-convert, or quarnel.py (not where the module
    // is built for a sanitizer, which Python cannot load).
    std::vector<std::string> Host(std::vector<std::string> args) const
    {
        std::vector<std::string> command = {QUARNEL_CONVERT};
        if (GetParam())
            command = {QUARNEL_PYTHON, QUARNEL_PY_HOST, "--library", QUARNEL_MODULE_PATH};
        command.insert(command.end(), args.begin(), args.end());
        return command;
    }
    void SetUp() override
    {
        if (GetParam() && std::string(QUARNEL_PYTHON).empty())
            GTEST_SKIP() << "no Python host in this build";
    }
    TempDir tmp;
};

// A tree of good and bad files in nested folders, under two threads: each
// good file converted once and byte-equal to the reference, each bad one
// named once, the tree mirrored; then --update converts only what changed.
TEST_P(Hosts, ConvertTreeUnderTwoThreads)
{
    const std::string tree = tmp.Path("tree/"), out = tmp.Path("out/");
    for (const char* folder : {"tree", "tree/sub", "tree/sub/deeper", "out"})
        mkdir(tmp.Path(folder).c_str(), 0777);
    STgaFields rle, deep;
    rle.imgtype = 10;
    deep.pixsize = 32;
    deep.width = deep.height = 4;
    Bytes cut = RandomTga(9, 9, 5);
    cut.resize(30);
    const std::map<std::string, Bytes> good = {{"a.tga", RandomTga(33, 17, 1)},
                                               {"sub/b.TGA", RandomTga(6, 5, 2)},
                                               {"sub/deeper/c.tga", RandomTga(17, 3, 3)}};
    for (const auto& [name, bytes] : good)
        WriteFile(tree + name, bytes);
    WriteFile(tree + "bad32.tga", TgaFile(deep, {}, RandomPixels(4, 4, 4)));
    WriteFile(tree + "sub/rle.tga", TgaFile(rle, {}, {}));
    WriteFile(tree + "sub/deeper/short.tga", cut);
    WriteFile(tree + "sub/notes.txt", {1});
    WriteFile(tree + "sub/x_n.tga", RandomTga(2, 2, 6));  // an earlier output: left alone
    symlink("nowhere.tga", (tree + "unreadable.tga").c_str());
    symlink("..", (tree + "sub/loop").c_str());
    // An older map of the refused 32-bit source, of the very size a
    // conversion would write: it must stay, and count as not written.
    const Bytes older(18 + 3 * 16, 'o');
    WriteFile(out + "bad32_n.tga", older);
    SetModified(out + "bad32_n.tga", 1000000000);

    SRun run = RunHost(Host({"-j", "2", "--texel-size", "0.5", "--out-dir", out, tree}));
    EXPECT_EQ(run.status, 1);
    EXPECT_NE(run.out.find("3 converted, 0 skipped, 4 failed\n"), std::string::npos) << run.out;
    EXPECT_EQ(Count(run.err, "\n"), 4u) << run.err;
    for (const char* bad : {"bad32.tga'", "rle.tga'", "short.tga'", "unreadable.tga'"})
        EXPECT_EQ(Count(run.err, bad), 1u) << bad << " in " << run.err;
    for (const auto& [name, bytes] : good)
        EXPECT_EQ(ReadFile(out + name.substr(0, name.size() - 4) + "_n.tga"), reference::ConvertFile(bytes, 0.5f))
            << name;
    EXPECT_EQ(ReadFile(out + "bad32_n.tga"), older);
    std::map<std::string, std::int64_t> first;
    ListTree(out, "", first);
    const std::vector<std::string> names = {"a_n.tga", "bad32_n.tga", "sub/b_n.tga", "sub/deeper/c_n.tga"};
    EXPECT_EQ(first.size(), names.size());
    for (const auto& name : names)
        EXPECT_EQ(first.count(name), 1u) << name;

    run = RunHost(Host({"--update", "-j", "2", "--out-dir", out, tree}));
    EXPECT_EQ(run.status, 1);
    EXPECT_NE(run.out.find("0 converted, 3 skipped, 4 failed\n"), std::string::npos) << run.out;
    SetModified(tree + "sub/b.TGA", ModifiedAt(out + "sub/b_n.tga") / 1000000000 + 2);
    run = RunHost(Host({"--update", "--jobs", "2", "--out-dir", out, tree}));
    EXPECT_NE(run.out.find("1 converted, 2 skipped, 4 failed\n"), std::string::npos) << run.status << run.out << run.err;
    std::map<std::string, std::int64_t> third;
    ListTree(out, "", third);
    for (const auto& [name, time] : first)
        EXPECT_EQ(third[name] != time, name == "sub/b_n.tga") << name;
}

// The pair form fails as the --out-dir form does; a path of 511 bytes fits a
// record and one of 512 does not; two sources of one name are refused before
// anything is written.
TEST_P(Hosts, PairsPathsAndCollisions)
{
    const Bytes source = RandomTga(5, 4, 7);
    WriteFile(tmp.Path("rock.tga"), source);
    WriteFile(tmp.Path("bad.tga"), {0});
    std::string longDst = tmp.dir + "/";
    while (511 - longDst.size() > 150) {
        longDst += std::string(100, 'd') + "/";
        mkdir(longDst.c_str(), 0777);
    }
    longDst += std::string(511 - longDst.size() - 4, 'f') + ".tga";
    ASSERT_EQ(longDst.size(), 511u);

    SRun run = RunHost(Host({tmp.Path("rock.tga"), longDst, tmp.Path("bad.tga"), tmp.Path("bad_n.tga")}));
    EXPECT_EQ(run.status, 1);
    EXPECT_NE(run.out.find("1 converted, 0 skipped, 1 failed\n"), std::string::npos) << run.out;
    EXPECT_EQ(ReadFile(longDst), reference::ConvertFile(source, 1.0f));
    run = RunHost(Host({tmp.Path("rock.tga"), longDst + "x"}));
    EXPECT_EQ(run.status, 2);
    EXPECT_FALSE(FileExists(longDst + "x"));

    mkdir(tmp.Path("a").c_str(), 0777);
    mkdir(tmp.Path("b").c_str(), 0777);
    WriteFile(tmp.Path("a/rock.tga"), source);
    WriteFile(tmp.Path("b/rock.tga"), RandomTga(5, 4, 8));
    WriteFile(tmp.Path("rock_n.tga"), {1, 2, 3});
    run = RunHost(Host({"--out-dir", tmp.dir, tmp.Path("a/rock.tga"), tmp.Path("b/rock.tga")}));
    EXPECT_EQ(run.status, 2);
    EXPECT_NE(run.err.find("would both write"), std::string::npos) << run.err;
    EXPECT_EQ(ReadFile(tmp.Path("rock_n.tga")), (Bytes{1, 2, 3}));
}

INSTANTIATE_TEST_SUITE_P(ToolAndPython, Hosts, ::testing::Values(false, true),
                         [](const ::testing::TestParamInfo<bool>& p) { return p.param ? "Python" : "Tool"; });

}  // namespace
