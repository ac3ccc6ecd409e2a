// Windows test host. Loads Quarnel.dll as a host built with Microsoft's
// compiler does (LoadLibraryA, GetProcAddress by the decorated name), points
// the module's MessageBoxA import at a recorder so no dialog waits for a user,
// and runs the sources every host must refuse or convert, Windows' own
// destinations and paths, and calls from several threads.
//
//   quarnel_windows_host [PATH-TO-Quarnel.dll] [GoogleTest options]
#include <gtest/gtest.h>
#include <windows.h>

#include <algorithm>
#include <climits>
#include <cstdio>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <cwchar>
#include <string>
#include <tuple>
#include <vector>

#include "ImportPatch.h"
#include "TestSupport.h"
#include "reference/ReferenceConvert.h"

namespace {

using namespace testsupport;

#if defined(_WIN64)
constexpr const char* kExportName = "?CreateBumpMaps@@YAXPEAUSCreateBumpMap@@H@Z";
#else
constexpr const char* kExportName = "?CreateBumpMaps@@YAXPAUSCreateBumpMap@@H@Z";
#endif

// The module under test, set up by main before the tests run.
HMODULE g_module = nullptr;
CreateBumpMapsFn g_create = nullptr;
void* g_messageBox = nullptr;  // what the module's MessageBoxA import held

// The module's flushes, counted through its _commit import (from msvcrt
// with mingw-w64, from ucrtbase with Microsoft's compiler).
using CommitFn = int(__cdecl*)(int);
CommitFn g_commit = nullptr;
LONG g_commits = 0;
int __cdecl CountCommit(int fd)
{
    InterlockedIncrement(&g_commits);
    return g_commit(fd);
}

// The module's CreateFileW; while g_takeTemp is set, the first temporary
// name it would create is taken first, as another process might; while
// g_tempUnwritable is, a temporary file is made but opened for reading
// only, so writing it fails as on a full disk; while g_tempRefused is not
// 0, no temporary file is made, for that reason.
using CreateFileWFn = decltype(&CreateFileW);
CreateFileWFn g_createFile = nullptr;
bool g_takeTemp = false, g_tempUnwritable = false;
DWORD g_tempRefused = 0;
std::string g_taken;  // that name
HANDLE WINAPI TakeTempFirst(LPCWSTR path, DWORD access, DWORD share, LPSECURITY_ATTRIBUTES security,
                            DWORD disposition, DWORD flags, HANDLE from)
{
    if (g_tempUnwritable && std::wcsstr(path, L".quarnel-") != nullptr)
        access = GENERIC_READ;
    if (g_tempRefused != 0 && std::wcsstr(path, L".quarnel-") != nullptr) {
        SetLastError(g_tempRefused);
        return INVALID_HANDLE_VALUE;
    }
    if (g_takeTemp && std::wcsstr(path, L".quarnel-") != nullptr) {
        g_takeTemp = false;
        g_taken.clear();
        for (const wchar_t* c = path; *c != L'\0'; ++c)
            g_taken += static_cast<char>(*c);
        const HANDLE theirs = g_createFile(path, GENERIC_WRITE, 0, nullptr, CREATE_NEW, 0, nullptr);
        DWORD written = 0;
        ::WriteFile(theirs, "theirs", 6, &written, nullptr);
        CloseHandle(theirs);
    }
    return g_createFile(path, access, share, security, disposition, flags, from);
}

Strings RunHost(std::vector<SCreateBumpMap> jobs)
{
    return RunJobs(std::move(jobs), g_create);
}

// Under qemu-user 7.2, 32-bit Wine runs no threads (a host that merely
// starts four crashes there); the same code runs natively on x64.
bool Emulated()
{
    return std::getenv("QUARNEL_HOST_EMULATED") != nullptr;
}

// Under Wine, Z: is the Unix root, so Z:\dev\full is a disk that is always full.
bool UnderWine()
{
    const HMODULE ntdll = GetModuleHandleA("ntdll.dll");
    return ntdll != nullptr && GetProcAddress(ntdll, "wine_get_version") != nullptr;
}

TEST(WindowsHost, ExportsOneDecoratedNameAndImportsMessageBoxA)
{
    EXPECT_NE(g_create, nullptr) << kExportName;
    EXPECT_EQ(GetProcAddress(g_module, "CreateBumpMaps"), nullptr);
    EXPECT_EQ(GetProcAddress(g_module, "_Z14CreateBumpMapsP14SCreateBumpMapi"), nullptr);
    // The entry held USER32's very MessageBoxA before the recorder took its place.
    const HMODULE user32 = GetModuleHandleA("user32.dll");
    ASSERT_NE(user32, nullptr);
    EXPECT_EQ(g_messageBox, reinterpret_cast<void*>(GetProcAddress(user32, "MessageBoxA")));
}

// Every accepted source in one call, and the NUL device as a destination;
// none waits for a flush.
TEST(WindowsHost, AcceptedSourcesConvertWithoutFlushing)
{
    TempDir tmp;
    const std::vector<SAccepted> accepted = AcceptedSources();
    std::vector<SCreateBumpMap> jobs = AcceptedJobs(tmp, accepted);
    jobs.push_back(Job(tmp.Path("0.tga"), "NUL"));
    g_commits = 0;
    EXPECT_EQ(RunHost(jobs), Strings{});
    EXPECT_EQ(g_commits, 0);
    for (std::size_t i = 0; i < accepted.size(); ++i)
        EXPECT_EQ(ReadFile(jobs[i].dstpath), reference::ConvertFile(accepted[i].file, accepted[i].texelsize))
            << accepted[i].name;
}

// In place the source is closed before it is replaced (Windows refuses to
// replace an open file) and the map is on disk first. A temporary name
// another process took first is left to it.
TEST(WindowsHost, ConvertsInPlaceFlushedFirst)
{
    TempDir tmp;
    const Bytes source = RandomTga(11, 7, 50);
    const std::string path = tmp.Path("inplace.tga");
    WriteFile(path, source);
    g_commits = 0;
    g_takeTemp = true;
    const Strings shown = RunHost({Job(path, path)});
    g_takeTemp = false;
    const std::string taken = g_taken.substr(g_taken.rfind('\\') + 1);
    EXPECT_EQ(shown, Strings{"(temporary file left: " + taken + ")"});
    EXPECT_EQ(ReadFile(tmp.Path(taken)), (Bytes{'t', 'h', 'e', 'i', 'r', 's'}));
    EXPECT_EQ(ReadFile(path), reference::ConvertFile(source, 1.0f));
    EXPECT_EQ(g_commits, 1);
}

TEST(WindowsHost, RefusedSourcesTouchNothing)
{
    EXPECT_EQ(RefusedSourceFaults(g_create), Strings{});
}

// Sources that cannot be opened or are not files, destinations that cannot
// be created or written; the batch goes on after each.
TEST(WindowsHost, UnopenableAndUnwritable)
{
    TempDir tmp;
    const std::string src = tmp.Path("src.tga"), dst = tmp.Path("dst.tga"), folder = tmp.Path("folder");
    const std::string missing = tmp.Path("missing.tga"), inMissingFolder = tmp.Path("nowhere") + "\\dst.tga";
    const std::string readOnly = tmp.Path("readonly.tga"), after = tmp.Path("after.tga");
    const Bytes source = RandomTga(6, 5, 60);
    WriteFile(src, source);
    ASSERT_TRUE(MakeFolder(folder));
    WriteFile(readOnly, {1, 2, 3});
    SetFileAttributesA(readOnly.c_str(), FILE_ATTRIBUTE_READONLY);
    std::vector<SCreateBumpMap> jobs;
    Strings expected;
    for (const std::string& bad : {missing, folder, std::string("NUL")}) {
        jobs.push_back(Job(bad, dst));
        expected.push_back("Cant open " + Quote(bad) + " for reading");
    }
    // Wine maps the read-only attribute to Unix permissions, which root passes.
    const HANDLE h = CreateFileA(readOnly.c_str(), GENERIC_WRITE, 0, nullptr, OPEN_EXISTING, 0, nullptr);
    const bool readOnlyHolds = h == INVALID_HANDLE_VALUE;
    if (!readOnlyHolds)
        CloseHandle(h);
    for (const std::string& bad : {inMissingFolder, folder, readOnly}) {
        if (bad == readOnly && !readOnlyHolds)
            continue;
        jobs.push_back(Job(src, bad));
        expected.push_back("Cant open " + Quote(bad) + " for writing");
    }
    if (UnderWine()) {
        jobs.push_back(Job(src, "Z:\\dev\\full"));
        expected.push_back("Cant write 'Z:\\dev\\full'");
    }
    jobs.push_back(Job(src, after, 3.0f));
    EXPECT_EQ(RunHost(jobs), expected);
    EXPECT_FALSE(FileExists(dst) || FileExists(inMissingFolder));
    EXPECT_EQ(ReadFile(readOnly), (Bytes{1, 2, 3}));
    EXPECT_EQ(ReadFile(after), reference::ConvertFile(source, 3.0f));
}

TEST(WindowsHost, UnterminatedPathFieldsAndNoRecords)
{
    TempDir tmp;
    const std::string src = tmp.Path("src.tga"), dst = tmp.Path("dst.tga");
    WriteFile(src, RandomTga(6, 5, 61));
    EXPECT_EQ(RunHost(UnterminatedJobs(src, dst)), UnterminatedMessages());
    SCreateBumpMap job = Job(src, dst);
    for (int count : {0, -1, INT_MIN})
        EXPECT_EQ(ShownMessages([&] { g_create(&job, count); }), Strings{}) << count;
    EXPECT_EQ(ShownMessages([] { g_create(nullptr, 1); }), Strings{});
    EXPECT_FALSE(FileExists(dst));
}

// This process's handles to the file at path: how many, and how many of them
// a child process would inherit.
std::pair<int, int> HandlesTo(const std::string& path)
{
    char full[MAX_PATH];
    const DWORD n = GetFullPathNameA(path.c_str(), sizeof full, full, nullptr);
    const std::string want = n > 0 && n < sizeof full ? full : path;
    std::pair<int, int> found = {0, 0};
    for (std::uintptr_t value = 4; value < 0x10000; value += 4) {
        const HANDLE h = reinterpret_cast<HANDLE>(value);
        DWORD flags = 0;
        char name[2 * MAX_PATH];
        if (!GetHandleInformation(h, &flags) || GetFileType(h) != FILE_TYPE_DISK)
            continue;
        const DWORD len = GetFinalPathNameByHandleA(h, name, sizeof name, FILE_NAME_NORMALIZED);
        if (len > 0 && len < sizeof name && len >= want.size() &&
            _stricmp(name + (len - want.size()), want.c_str()) == 0) {
            ++found.first;
            found.second += (flags & HANDLE_FLAG_INHERIT) != 0;
        }
    }
    return found;
}

// A child process the host starts while a job runs must not inherit the
// job's files. The source is open while its header fault is shown.
TEST(WindowsHost, SourceOpenButNotInheritableWhileItsMessageShows)
{
    TempDir tmp;
    const std::string src = tmp.Path("src.tga");
    Bytes file = RandomTga(6, 5, 62);
    file[16] = 16;
    WriteFile(src, file);
    std::pair<int, int> during;
    WhileMessageShows([&] { during = HandlesTo(src); });
    EXPECT_EQ(RunHost({Job(src, tmp.Path("dst.tga"))}), Strings{Quote(src) + " tgaHeader.pixsize!=24 (pixsize==16)"});
    WhileMessageShows(nullptr);
    EXPECT_EQ(during, (std::pair<int, int>{1, 0})) << "handles to the source, inheritable ones";
    EXPECT_EQ(HandlesTo(src).first, 0);
}

// Another process holding a file open with the given sharing, until the
// holder goes out of scope. The host runs itself with --hold.
struct SHolder {
    PROCESS_INFORMATION process = {};
    SHolder(const SHolder&) = delete;
    SHolder& operator=(const SHolder&) = delete;
    SHolder(const std::string& path, DWORD share)
    {
        char exe[MAX_PATH];
        const std::string event = "quarnel-hold-" + std::to_string(GetCurrentProcessId());
        const HANDLE ready = CreateEventA(nullptr, TRUE, FALSE, event.c_str());
        std::string command = "host --hold " + std::to_string(share) + " \"" + path + "\" " + event;
        STARTUPINFOA startup = {};
        startup.cb = sizeof startup;
        if (GetModuleFileNameA(nullptr, exe, sizeof exe) == 0 ||
            !CreateProcessA(exe, &command[0], nullptr, nullptr, FALSE, 0, nullptr, nullptr, &startup, &process) ||
            WaitForSingleObject(ready, 30000) != WAIT_OBJECT_0)
            process.hProcess = nullptr;
        CloseHandle(ready);
    }
    ~SHolder()
    {
        if (process.hProcess == nullptr)
            return;
        TerminateProcess(process.hProcess, 0);
        WaitForSingleObject(process.hProcess, 30000);
        CloseHandle(process.hProcess);
        CloseHandle(process.hThread);
    }
};

// The holder's side: open, say so, wait to be ended.
int Hold(DWORD share, const char* path, const char* event)
{
    const HANDLE file = CreateFileA(path, GENERIC_READ, share, nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    const HANDLE ready = OpenEventA(EVENT_MODIFY_STATE, FALSE, event);
    if (file == INVALID_HANDLE_VALUE || ready == nullptr || !SetEvent(ready))
        return 1;
    Sleep(INFINITE);
    return 0;
}

// A destination another program holds open cannot be replaced by a rename:
// it is written directly where that program shares writing, else refused
// and kept. What was there is longer than the map.
TEST(WindowsHost, DestinationsHeldByAnotherProcess)
{
    if (Emulated())
        GTEST_SKIP() << "stalls under qemu-user now and then: a second 32-bit Wine process";
    TempDir tmp;
    const Bytes source = RandomTga(6, 5, 70), keep(1 << 16, 'k');
    const std::string src = tmp.Path("src.tga"), dst = tmp.Path("held.tga");
    WriteFile(src, source);
    const std::pair<DWORD, bool> cases[] = {{FILE_SHARE_READ | FILE_SHARE_WRITE, true},
                                            {0, false},
                                            {FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, true}};
    for (const auto& [share, written] : cases) {
        SCOPED_TRACE(share);
        WriteFile(dst, keep);
        Strings shown;
        {
            SHolder holder(dst, share);
            ASSERT_NE(holder.process.hProcess, nullptr) << "the holder did not start";
            shown = RunHost({Job(src, dst)});
        }
        EXPECT_EQ(shown, written ? Strings{} : Strings{"Cant open " + Quote(dst) + " for writing"});
        EXPECT_EQ(ReadFile(dst), written ? reference::ConvertFile(source, 1.0f) : keep);
    }
}

// A failed write leaves the old map whole and no temporary file, whatever
// the name's length: from 231 UTF-16 units on, the usual temporary name
// would pass the 255 a component may hold; under Wine 126 units of "é"
// take 246 bytes of UTF-8, and the usual name would pass Linux's 255. The
// longest path fills the record's 511 bytes. A temporary file refused for
// want of room leaves the old map too; one its folder refuses sends the
// map to the file itself.
TEST(WindowsHost, FailedWriteKeepsTheOldMapWhateverTheNameLength)
{
    TempDir tmp;
    const std::string src = tmp.Path("src.tga");
    const std::string deep = tmp.Path(std::string(511 - 2 - 250 - tmp.dir.size(), 'd'));
    ASSERT_TRUE(MakeFolder(deep));
    Strings dsts = {tmp.Path("dst.tga"), deep + "\\" + std::string(244, 'n') + "_n.tga",
                    tmp.Path(std::string(120, '\xE9') + "_n.tga")};
    for (const unsigned length : {200u, 231u, 242u, 251u, 255u})
        dsts.push_back(tmp.Path(std::string(length - 6u, 'n') + "_n.tga"));
    const Bytes keep(1 << 16, 'k'), source = RandomTga(6, 5, 71);
    WriteFile(src, source);
    for (const auto& [refusal, shown, kept] :
         {std::tuple{DWORD{ERROR_DISK_FULL}, Strings{"Cant open " + Quote(dsts[0]) + " for writing"}, keep},
          std::tuple{DWORD{ERROR_ACCESS_DENIED}, Strings{}, reference::ConvertFile(source, 1.0f)}}) {
        WriteFile(dsts[0], keep);
        g_tempRefused = refusal;
        EXPECT_EQ(RunHost({Job(src, dsts[0])}), shown);
        g_tempRefused = 0;
        EXPECT_EQ(ReadFile(dsts[0]), kept) << refusal;
    }
    for (const std::string& dst : dsts) {
        SCOPED_TRACE(dst.substr(dst.rfind('\\') + 1).size());
        WriteFile(dst, keep);
        g_tempUnwritable = true;
        const Strings shown = RunHost({Job(src, dst)});
        g_tempUnwritable = false;
        EXPECT_EQ(shown, Strings{"Cant write " + Quote(dst)});
        EXPECT_EQ(ReadFile(dst), keep);
    }
}

// The library keeps no state: threads calling it at once on files of their
// own get every byte and every message one thread alone would.
struct SThreadBatch {
    std::vector<SCreateBumpMap> jobs;
};

DWORD WINAPI RunBatchRounds(void* context)
{
    SThreadBatch& batch = *static_cast<SThreadBatch*>(context);
    for (int round = 0; round < 8; ++round)
        g_create(batch.jobs.data(), static_cast<int>(batch.jobs.size()));
    return 0;
}

TEST(WindowsHost, FourThreadsAtOnceGiveEveryByteAndMessage)
{
    if (Emulated())
        GTEST_SKIP() << "qemu-user runs no threads of 32-bit Wine";
    TempDir tmp;
    const std::string missing = tmp.Path("missing.tga"), bad = tmp.Path("bad.tga");
    Bytes badFile = RandomTga(6, 5, 80);
    badFile[16] = 32;
    WriteFile(bad, badFile);
    std::vector<SThreadBatch> batches(4);
    std::vector<Bytes> sources;
    Strings expected;
    for (std::size_t i = 0; i < batches.size(); ++i) {
        const std::string n = std::to_string(i), src = tmp.Path("src" + n + ".tga");
        sources.push_back(RandomTga(200 + static_cast<int>(i), 150, 81 + static_cast<std::uint32_t>(i)));
        WriteFile(src, sources.back());
        batches[i].jobs = {Job(src, tmp.Path("dst" + n + ".tga"), 0.5f + static_cast<float>(i)),
                           Job(missing, tmp.Path("m" + n + ".tga")), Job(bad, tmp.Path("b" + n + ".tga"))};
        for (int round = 0; round < 8; ++round)
            expected.insert(expected.end(), {"Cant open " + Quote(missing) + " for reading",
                                             Quote(bad) + " tgaHeader.pixsize!=24 (pixsize==32)"});
    }
    Strings shown = ShownMessages([&] {
        std::vector<HANDLE> threads;
        for (auto& batch : batches)
            threads.push_back(CreateThread(nullptr, 0, RunBatchRounds, &batch, 0, nullptr));
        for (HANDLE t : threads) {
            EXPECT_TRUE(t != nullptr && WaitForSingleObject(t, 120000) == WAIT_OBJECT_0);
            CloseHandle(t);
        }
    });
    std::sort(shown.begin(), shown.end());
    std::sort(expected.begin(), expected.end());
    EXPECT_EQ(shown, expected);
    for (std::size_t i = 0; i < batches.size(); ++i)
        EXPECT_EQ(ReadFile(batches[i].jobs[0].dstpath),
                  reference::ConvertFile(sources[i], 0.5f + static_cast<float>(i)))
            << i;
    for (const std::string& name : FolderNames(tmp.dir))
        EXPECT_EQ(name.find(".quarnel-"), std::string::npos) << name;
}

// Paths past MAX_PATH and up to the record's 511 bytes, in each form a host
// may give them; the A functions refuse every one. Under Wine the test
// prefix maps \\quarnel\share to the temporary folder's drive root (see
// WinePrefix.cmake).
TEST(WindowsHost, LongPathsInEveryForm)
{
    if (Emulated())
        GTEST_SKIP() << "stalls under qemu-user: Wine starts threads for the share";
    TempDir tmp;
    std::string deep = tmp.dir;
    while (deep.size() < 380) {
        deep += "\\" + std::string(60, 'd');
        ASSERT_TRUE(MakeFolder(deep));
    }
    const std::string name = deep + "\\" + std::string(70, 'n');
    const std::string below = deep.substr(tmp.dir.size());  // "\ddd...\ddd..."
    // Relative to tmp, with forward slashes and a detour through "..".
    std::string relative = below.substr(1, 61) + "/../" + below.substr(1) + "\\" + std::string(70, 'n');
    for (char& ch : relative)
        ch = ch == '\\' ? '/' : ch;
    const std::string share = "\\\\quarnel\\share";
    const std::string unc = FileExists(share) ? share + name.substr(2) : "";
    const Bytes source = RandomTga(23, 9, 70);
    WriteFile(name + ".tga", source);
    SetCurrentDirectoryA(tmp.dir.c_str());
    for (const auto& [form, path] : {std::pair{"absolute", name}, std::pair{"relative", relative},
                                     std::pair{"UNC", unc}}) {
        SCOPED_TRACE(form);
        if (path.empty())
            continue;  // no share reaches the temporary folder
        EXPECT_GE(path.size() + 4, std::size_t{MAX_PATH});
        const std::string out = std::string("-") + form[0] + ".tga";
        EXPECT_EQ(RunHost({Job(path + ".tga", path + out, 0.5f)}), Strings{});
        EXPECT_EQ(ReadFile(name + out), reference::ConvertFile(source, 0.5f));
    }
    EXPECT_EQ(RunHost({Job(name + "-missing.tga", name + "-m.tga")}),
              Strings{"Cant open " + Quote(name + "-missing.tga") + " for reading"});
    EXPECT_FALSE(FileExists(name + "-m.tga"));
    SetCurrentDirectoryA("\\");
}

#if defined(__i386__)
// Calls fn(jobs, count) with the stack skew bytes short of 16-byte alignment,
// as a 32-bit host may: its ABI promises only 4.
extern "C" void CallSkewed(CreateBumpMapsFn fn, SCreateBumpMap* jobs, int count, int skew);
asm(R"(
    .text
    .globl _CallSkewed
_CallSkewed:
    pushl %ebp
    movl %esp, %ebp
    andl $-16, %esp
    subl 20(%ebp), %esp
    subl $16, %esp
    movl 12(%ebp), %eax
    movl %eax, (%esp)
    movl 16(%ebp), %eax
    movl %eax, 4(%esp)
    call *8(%ebp)
    leave
    ret
)");

// Wide enough for every kernel's main loop; the failed job runs the message path.
TEST(WindowsHost, ConvertsWithTheStackMisaligned)
{
    TempDir tmp;
    const Bytes source = RandomTga(77, 9, 60);
    const std::string src = tmp.Path("skew.tga"), missing = tmp.Path("missing.tga");
    WriteFile(src, source);
    for (int skew : {4, 8, 12}) {
        const std::string dst = tmp.Path("skew-" + std::to_string(skew) + ".tga");
        std::vector<SCreateBumpMap> jobs = {Job(src, dst, 0.7f), Job(missing, dst + "2")};
        EXPECT_EQ(ShownMessages([&] { CallSkewed(g_create, jobs.data(), 2, skew); }),
                  Strings{"Cant open " + Quote(missing) + " for reading"})
            << skew;
        EXPECT_EQ(ReadFile(dst), reference::ConvertFile(source, 0.7f)) << skew;
    }
}
#endif

}  // namespace

int main(int argc, char** argv)
{
    if (argc == 5 && std::strcmp(argv[1], "--hold") == 0)
        return Hold(static_cast<DWORD>(std::strtoul(argv[2], nullptr, 10)), argv[3], argv[4]);
    ::testing::InitGoogleTest(&argc, argv);
    const char* path = argc > 1 ? argv[1] : "Quarnel.dll";
    g_module = LoadLibraryA(path);
    if (g_module == nullptr) {
        std::printf("cannot load %s (error %lu)\n", path, GetLastError());
        return 1;
    }
    g_create = reinterpret_cast<CreateBumpMapsFn>(reinterpret_cast<void*>(GetProcAddress(g_module, kExportName)));
    g_messageBox = InstallMessageRecorder(g_module);
    for (const char* crt : {"msvcrt.dll", "ucrtbase.dll"}) {
        if (g_commit == nullptr)
            g_commit = reinterpret_cast<CommitFn>(
                PatchImport(g_module, crt, "_commit", reinterpret_cast<void*>(&CountCommit)));
    }
    g_createFile = reinterpret_cast<CreateFileWFn>(
        PatchImport(g_module, "kernel32.dll", "CreateFileW", reinterpret_cast<void*>(&TakeTempFirst)));
    if (g_create == nullptr || g_messageBox == nullptr || g_createFile == nullptr) {
        std::printf("no %s export, or no MessageBoxA or CreateFileW import to take: no job can run\n", kExportName);
        return 1;
    }
    return RUN_ALL_TESTS();
}
