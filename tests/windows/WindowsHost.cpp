// Windows test host. Loads Quarnel.dll as a host built with Microsoft's
// compiler does (LoadLibraryA, GetProcAddress by the decorated name), points
// the module's MessageBoxA import at a recorder so no dialog waits for a user,
// and checks every output byte against the reference implementation and every
// message against the README's table. Prints "N passed, N failed".
//
//   quarnel_windows_host [PATH-TO-Quarnel.dll]
#include <windows.h>

#include <algorithm>
#include <climits>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <exception>
#include <functional>
#include <limits>
#include <string>
#include <utility>
#include <vector>

#include "HostFiles.h"
#include "ImportPatch.h"
#include "Quarnel.h"
#include "reference/ReferenceConvert.h"

namespace {

using namespace hostfiles;
// The header's type, calling convention included (__cdecl on Windows).
using CreateBumpMapsFn = decltype(&CreateBumpMaps);

#if defined(_WIN64)
constexpr const char* kExportName = "?CreateBumpMaps@@YAXPEAUSCreateBumpMap@@H@Z";
#else
constexpr const char* kExportName = "?CreateBumpMaps@@YAXPAUSCreateBumpMap@@H@Z";
#endif

struct SMessageBox {
    HWND owner;
    std::string text;
    std::string caption;
    UINT type;
};

// MessageBoxA has no context argument, so the recorder reaches its list, and
// what a case wants to look at while the box is up, here. Calls from several
// threads append under the lock.
std::vector<SMessageBox> g_shown;
std::function<void()> g_whileShown;
SRWLOCK g_shownLock = SRWLOCK_INIT;

int WINAPI RecordMessageBox(HWND owner, LPCSTR text, LPCSTR caption, UINT type)
{
    AcquireSRWLockExclusive(&g_shownLock);
    g_shown.push_back({owner, text != nullptr ? text : "(null)", caption != nullptr ? caption : "(null)", type});
    ReleaseSRWLockExclusive(&g_shownLock);
    if (g_whileShown)
        g_whileShown();
    return IDOK;
}

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

// Files a job left beside its destinations: there must be none.
int TemporaryFilesIn(const std::string& dir)
{
    int count = 0;
    WIN32_FIND_DATAA entry;
    const HANDLE find = FindFirstFileA((dir + "\\*.quarnel-*").c_str(), &entry);
    if (find != INVALID_HANDLE_VALUE) {
        do
            ++count;
        while (FindNextFileA(find, &entry));
        FindClose(find);
    }
    return count;
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

// This process's handles to the file at path: how many, and how many of them
// a child process would inherit.
struct SHandles {
    int open = 0;
    int inheritable = 0;
};

SHandles HandlesTo(const std::string& path)
{
    char full[MAX_PATH];
    const DWORD n = GetFullPathNameA(path.c_str(), sizeof full, full, nullptr);
    const std::string want = n > 0 && n < sizeof full ? full : path;
    SHandles found;
    for (std::uintptr_t value = 4; value < 0x10000; value += 4) {
        const HANDLE h = reinterpret_cast<HANDLE>(value);
        DWORD flags = 0;
        if (!GetHandleInformation(h, &flags) || GetFileType(h) != FILE_TYPE_DISK)
            continue;
        char name[2 * MAX_PATH];
        const DWORD len = GetFinalPathNameByHandleA(h, name, sizeof name, FILE_NAME_NORMALIZED);
        if (len == 0 || len >= sizeof name || len < want.size() ||
            _stricmp(name + (len - want.size()), want.c_str()) != 0)
            continue;
        ++found.open;
        if ((flags & HANDLE_FLAG_INHERIT) != 0)
            ++found.inheritable;
    }
    return found;
}

// One named case's findings; it passes when it has none.
struct SCase {
    std::vector<std::string> problems;
    void Expect(bool ok, const std::string& what)
    {
        if (!ok)
            problems.push_back(what);
    }
};

struct STally {
    int passed = 0;
    int failed = 0;
    std::vector<std::string> skipped;
    void Run(const std::string& name, const std::function<void(SCase&)>& body)
    {
        SCase c;
        try {
            body(c);
        } catch (const std::exception& e) {
            c.problems.push_back(std::string("exception: ") + e.what());
        }
        if (c.problems.empty()) {
            ++passed;
            return;
        }
        ++failed;
        std::printf("FAILED %s\n", name.c_str());
        for (const auto& p : c.problems)
            std::printf("  %s\n", p.c_str());
    }
};

SCreateBumpMap Job(const std::string& src, const std::string& dst, float texelsize = 1.0f)
{
    SCreateBumpMap job;
    std::memset(&job, 0, sizeof job);
    std::snprintf(job.srcpath, sizeof job.srcpath, "%s", src.c_str());
    std::snprintf(job.dstpath, sizeof job.dstpath, "%s", dst.c_str());
    job.texelsize = texelsize;
    return job;
}

std::string Quote(const std::string& path)
{
    return "'" + path + "'";
}

struct SHost {
    CreateBumpMapsFn create;
    // Runs one call and returns the messages it showed.
    std::vector<SMessageBox> Run(std::vector<SCreateBumpMap> jobs, int count = -2) const
    {
        g_shown.clear();
        create(jobs.data(), count == -2 ? static_cast<int>(jobs.size()) : count);
        return g_shown;
    }
};

// Exactly the messages given, each as the user would see it: no owner window,
// the library's caption, a plain OK box.
void ExpectMessages(SCase& c, const std::vector<SMessageBox>& shown, const std::vector<std::string>& texts)
{
    c.Expect(shown.size() == texts.size(),
             std::to_string(shown.size()) + " messages, expected " + std::to_string(texts.size()));
    for (std::size_t i = 0; i < shown.size() && i < texts.size(); ++i) {
        c.Expect(shown[i].text == texts[i], "text \"" + shown[i].text + "\", expected \"" + texts[i] + "\"");
        c.Expect(shown[i].owner == nullptr, "owner window is not NULL");
        c.Expect(shown[i].caption == "!!! Error !!!", "caption \"" + shown[i].caption + "\"");
        c.Expect(shown[i].type == MB_OK, "style " + std::to_string(shown[i].type) + ", expected MB_OK");
    }
}

void ExpectConverted(SCase& c, const std::string& dst, const Bytes& source, float texelsize)
{
    const Bytes got = ReadFile(dst);
    const Bytes want = reference::ConvertFile(source, texelsize);
    c.Expect(got == want, dst + ": " + std::to_string(got.size()) + " bytes differ from the reference's " +
                              std::to_string(want.size()));
}

// Under Wine, Z: is the Unix root, so Z:\dev\full is a disk that is always full.
bool UnderWine()
{
    HMODULE ntdll = GetModuleHandleA("ntdll.dll");
    return ntdll != nullptr && GetProcAddress(ntdll, "wine_get_version") != nullptr;
}

// Windows refuses to write a read-only file; Wine maps the attribute to Unix
// permissions, which root passes.
bool ReadOnlyIsEnforced(const std::string& path)
{
    WriteFile(path, {1});
    SetFileAttributesA(path.c_str(), FILE_ATTRIBUTE_READONLY);
    HANDLE h = CreateFileA(path.c_str(), GENERIC_WRITE, 0, nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (h == INVALID_HANDLE_VALUE)
        return true;
    CloseHandle(h);
    return false;
}

void ConversionCases(STally& tally, const SHost& host, const TempDir& tmp)
{
    const float inf = std::numeric_limits<float>::infinity();
    const float nan = std::numeric_limits<float>::quiet_NaN();
    struct SImage {
        int width, height;
        float texelsize;
    };
    // Odd sizes (one row, one column, wider than any vector), and texel sizes
    // that leave nothing to normalise (0, infinite, NaN).
    const std::vector<SImage> images = {
        {1, 1, 1.0f},   {2, 2, 1.0f},     {3, 1, 1.0f},  {1, 5, 1.0f},   {17, 3, 0.75f}, {33, 17, 1.5f},
        {64, 64, 0.0625f}, {255, 3, 1.0f}, {7, 300, 2.0f}, {1000, 1, 1.0f}, {5, 5, 0.0f}, {6, 4, inf},
        {6, 4, nan},    {9, 9, -1.0f},    {4, 4, 1e-30f}, {4, 4, 1e30f}, {513, 129, 0.3f},
    };
    // All in one call, as a host converts a batch.
    std::vector<SCreateBumpMap> jobs;
    std::vector<Bytes> sources;
    for (std::size_t i = 0; i < images.size(); ++i) {
        STgaFields f;
        f.width = images[i].width;
        f.height = images[i].height;
        sources.push_back(RandomTga(f, static_cast<std::uint32_t>(i + 1)));
        const std::string src = tmp.Path("in" + std::to_string(i) + ".tga");
        WriteFile(src, sources.back());
        jobs.push_back(Job(src, tmp.Path("out" + std::to_string(i) + ".tga"), images[i].texelsize));
    }
    g_commits = 0;
    const auto shown = host.Run(jobs);
    tally.Run("a batch of valid images shows no message and waits for no flush", [&](SCase& c) {
        ExpectMessages(c, shown, {});
        c.Expect(g_commits == 0, std::to_string(g_commits) + " flushes");
    });
    for (std::size_t i = 0; i < images.size(); ++i) {
        const SImage& im = images[i];
        tally.Run("converts " + std::to_string(im.width) + "x" + std::to_string(im.height) + " at texel size " +
                      std::to_string(im.texelsize),
                  [&](SCase& c) { ExpectConverted(c, jobs[i].dstpath, sources[i], im.texelsize); });
    }

    // ID field and colour map carried over, a footer after the pixels ignored,
    // and a file converted in place.
    tally.Run("ID field, colour map and footer", [&](SCase& c) {
        STgaFields f;
        f.width = 5;
        f.height = 3;
        f.idlen = 7;
        f.cmaptype = 1;
        f.cmaplen = 3;
        f.cmapbits = 15;  // two bytes per entry
        Bytes prefix = RandomPixels(13, 1, 40);
        prefix.resize(13);
        Bytes source = TgaFile(f, prefix, RandomPixels(5, 3, 41));
        const Bytes withFooter = [&] {
            Bytes b = source;
            const char footer[] = "\0\0\0\0\0\0\0\0TRUEVISION-XFILE.";
            b.insert(b.end(), footer, footer + sizeof footer);
            return b;
        }();
        const std::string src = tmp.Path("prefix.tga"), dst = tmp.Path("prefix-out.tga");
        WriteFile(src, withFooter);
        ExpectMessages(c, host.Run({Job(src, dst, 0.5f)}), {});
        ExpectConverted(c, dst, source, 0.5f);
    });
    tally.Run("converts a file in place, flushed first", [&](SCase& c) {
        STgaFields f;
        f.width = 11;
        f.height = 7;
        const Bytes source = RandomTga(f, 50);
        const std::string path = tmp.Path("inplace.tga");
        WriteFile(path, source);
        g_commits = 0;
        ExpectMessages(c, host.Run({Job(path, path)}), {});
        ExpectConverted(c, path, source, 1.0f);
        c.Expect(g_commits == 1, std::to_string(g_commits) + " flushes");
        c.Expect(TemporaryFilesIn(tmp.dir) == 0, "a temporary file was left");
    });
    tally.Run("the NUL device as destination takes the map", [&](SCase& c) {
        STgaFields f;
        const std::string src = tmp.Path("to-nul.tga");
        WriteFile(src, RandomTga(f, 51));
        ExpectMessages(c, host.Run({Job(src, "NUL")}), {});
    });
}

// A destination another program holds open cannot be replaced by a rename:
// it is written directly where that program shares writing, else refused and
// kept.
void HeldDestinationCases(STally& tally, const SHost& host, const TempDir& tmp)
{
    STgaFields f;
    const Bytes source = RandomTga(f, 70), keep = {'k', 'e', 'e', 'p'};
    const std::string src = tmp.Path("held-src.tga"), dst = tmp.Path("held.tga");
    WriteFile(src, source);
    struct SHeld {
        const char* name;
        DWORD share;
        bool written;
    };
    const SHeld cases[] = {
        {"a destination held open with read and write shared is written", FILE_SHARE_READ | FILE_SHARE_WRITE, true},
        {"a destination held open exclusively is refused and kept", 0, false},
        {"a destination held open with deletion shared too is written",
         FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, true},
    };
    for (const SHeld& t : cases) {
        tally.Run(t.name, [&](SCase& c) {
            c.Expect(WriteFile(dst, keep), "cannot write the destination");
            std::vector<SMessageBox> shown;
            {
                SHolder holder(dst, t.share);
                c.Expect(holder.process.hProcess != nullptr, "the holder did not start");
                shown = host.Run({Job(src, dst)});
            }
            ExpectMessages(c, shown, t.written ? std::vector<std::string>{}
                                               : std::vector<std::string>{"Cant open " + Quote(dst) + " for writing"});
            if (t.written)
                ExpectConverted(c, dst, source, 1.0f);
            else
                c.Expect(ReadFile(dst) == keep, "the destination was touched");
            c.Expect(TemporaryFilesIn(tmp.dir) == 0, "a temporary file was left");
        });
    }
}

// The library keeps no state: threads calling it at once on files of their
// own get every byte and every message one thread alone would.
struct SThreadBatch {
    const SHost* host;
    std::vector<SCreateBumpMap> jobs;
};

DWORD WINAPI RunBatchRounds(void* context)
{
    SThreadBatch& batch = *static_cast<SThreadBatch*>(context);
    for (int round = 0; round < 8; ++round)
        batch.host->create(batch.jobs.data(), static_cast<int>(batch.jobs.size()));
    return 0;
}

void ConcurrentCases(STally& tally, const SHost& host, const TempDir& tmp)
{
    tally.Run("four threads at once give every byte and message", [&](SCase& c) {
        const std::string missing = tmp.Path("missing.tga"), bad = tmp.Path("bad-thread.tga");
        STgaFields badFields;
        badFields.pixsize = 32;
        WriteFile(bad, RandomTga(badFields, 80));
        std::vector<SThreadBatch> batches(4);
        std::vector<Bytes> sources;
        std::vector<std::string> expected;
        for (std::size_t i = 0; i < batches.size(); ++i) {
            const std::string n = std::to_string(i), src = tmp.Path("thread-src" + n + ".tga");
            STgaFields f;
            f.width = 200 + static_cast<int>(i);
            f.height = 150;
            sources.push_back(RandomTga(f, 81 + static_cast<std::uint32_t>(i)));
            WriteFile(src, sources.back());
            batches[i] = {&host, {Job(src, tmp.Path("thread-dst" + n + ".tga"), 0.5f + static_cast<float>(i)),
                                  Job(missing, tmp.Path("thread-m" + n + ".tga")),
                                  Job(bad, tmp.Path("thread-b" + n + ".tga"))}};
            for (int round = 0; round < 8; ++round)
                expected.insert(expected.end(), {"Cant open " + Quote(missing) + " for reading",
                                                 Quote(bad) + " tgaHeader.pixsize!=24 (pixsize==32)"});
        }
        g_shown.clear();
        std::vector<HANDLE> threads;
        for (auto& batch : batches)
            threads.push_back(CreateThread(nullptr, 0, RunBatchRounds, &batch, 0, nullptr));
        for (HANDLE t : threads) {
            c.Expect(t != nullptr && WaitForSingleObject(t, 120000) == WAIT_OBJECT_0, "a thread did not finish");
            CloseHandle(t);
        }
        std::vector<SMessageBox> shown = g_shown;
        std::sort(shown.begin(), shown.end(), [](const SMessageBox& a, const SMessageBox& b) { return a.text < b.text; });
        std::sort(expected.begin(), expected.end());
        ExpectMessages(c, shown, expected);
        for (std::size_t i = 0; i < batches.size(); ++i)
            ExpectConverted(c, batches[i].jobs[0].dstpath, sources[i], 0.5f + static_cast<float>(i));
        c.Expect(TemporaryFilesIn(tmp.dir) == 0, "a temporary file was left");
    });
}

// Paths past MAX_PATH and up to the record's 511 bytes, in each form a host
// may give them; the A functions refuse every one. unc is a share that reaches
// tmp, if the machine has one.
void LongPathCases(STally& tally, const SHost& host, const TempDir& tmp, const std::string& unc)
{
    std::vector<std::string> made;  // removed in reverse
    std::string deep = tmp.dir;
    while (deep.size() < 380) {
        deep += "\\" + std::string(60, 'd');
        MakeFolder(deep);
        made.push_back(deep);
    }
    const std::string name = "\\" + std::string(70, 'n');
    const std::string below = deep.substr(tmp.dir.size());  // "\ddd...\ddd..."
    // Relative to tmp, with forward slashes and a detour through "..".
    std::string relative = below.substr(1, 61) + "/../" + below.substr(1);
    for (char& ch : relative)
        ch = ch == '\\' ? '/' : ch;
    STgaFields f;
    f.width = 23;
    f.height = 9;
    const Bytes source = RandomTga(f, 70);
    WriteFile(deep + name + ".tga", source);
    made.push_back(deep + name + ".tga");
    SetCurrentDirectoryA(tmp.dir.c_str());
    struct SLong {
        std::string form, src, dst, written;
    };
    std::vector<SLong> cases = {
        {"absolute", deep + name + ".tga", deep + name + "-a.tga", deep + name + "-a.tga"},
        {"relative, with / and ..", relative + name + ".tga", relative + name + "-r.tga", deep + name + "-r.tga"},
    };
    if (!unc.empty())
        cases.push_back({"UNC", unc + below + name + ".tga", unc + below + name + "-u.tga", deep + name + "-u.tga"});
    else
        tally.skipped.push_back("long UNC path (no share reaches the temporary folder)");
    for (const SLong& t : cases) {
        tally.Run("converts by a long " + t.form + " path", [&](SCase& c) {
            c.Expect(t.src.size() >= MAX_PATH && t.dst.size() < sizeof(SCreateBumpMap::dstpath), "path length");
            ExpectMessages(c, host.Run({Job(t.src, t.dst, 0.5f)}), {});
            ExpectConverted(c, t.written, source, 0.5f);
        });
        made.push_back(t.written);
    }
    tally.Run("a long missing source is named in full", [&](SCase& c) {
        const std::string missing = deep + name + "-missing.tga";
        ExpectMessages(c, host.Run({Job(missing, deep + name + "-m.tga")}),
                       {"Cant open " + Quote(missing) + " for reading"});
        c.Expect(!Exists(deep + name + "-m.tga"), "the destination was created");
    });
    SetCurrentDirectoryA("\\");
    for (auto it = made.rbegin(); it != made.rend(); ++it)
        Remove(*it);
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
void MisalignedStackCases(STally& tally, const SHost& host, const TempDir& tmp)
{
    STgaFields f;
    f.width = 77;
    f.height = 9;
    const Bytes source = RandomTga(f, 60);
    const std::string src = tmp.Path("skew.tga"), missing = tmp.Path("skew-missing.tga");
    WriteFile(src, source);
    for (int skew : {4, 8, 12}) {
        tally.Run("converts when called with the stack " + std::to_string(skew) + " bytes off", [&](SCase& c) {
            const std::string dst = tmp.Path("skew-" + std::to_string(skew) + ".tga");
            std::vector<SCreateBumpMap> jobs = {Job(src, dst, 0.7f), Job(missing, dst + "2")};
            g_shown.clear();
            CallSkewed(host.create, jobs.data(), static_cast<int>(jobs.size()), skew);
            ExpectMessages(c, g_shown, {"Cant open " + Quote(missing) + " for reading"});
            ExpectConverted(c, dst, source, 0.7f);
        });
    }
}
#endif

// What happens to the destination of a failed job.
enum class EDst { Kept, Absent, Unchecked };

struct SFault {
    std::string name;
    Bytes source;  // written to srcpath when that is the usual source file
    std::string srcpath;
    std::string dstpath;
    std::string message;
    EDst dst;
};

STgaFields With(void (*edit)(STgaFields&))
{
    STgaFields f;
    edit(f);
    return f;
}

void FaultCases(STally& tally, const SHost& host, const TempDir& tmp)
{
    const std::string src = tmp.Path("src.tga"), dst = tmp.Path("dst.tga");
    const std::string q = Quote(src);
    STgaFields valid;
    const Bytes good = RandomTga(valid, 60);
    const Bytes pixels = RandomPixels(64, 64, 61);
    auto header = [&](void (*edit)(STgaFields&)) { return TgaFile(With(edit), {}, pixels); };
    STgaFields idfield = valid, cmap = valid, huge = valid;
    idfield.idlen = 255;
    cmap.cmaptype = 1;
    cmap.cmaplen = 256;
    cmap.cmapbits = 24;
    huge.width = 32767;
    huge.height = 32767;

    const std::string folder = tmp.Path("folder");
    CreateDirectoryA(folder.c_str(), nullptr);
    const std::string readOnly = tmp.Path("readonly.tga");
    const std::string inMissingFolder = tmp.Path("nowhere") + "\\dst.tga";

    // Faults of the source file: the job ends before the destination opens.
    auto badSource = [&](const char* name, Bytes source, const std::string& message) {
        return SFault{name, std::move(source), src, dst, q + message, EDst::Kept};
    };
    auto unopenable = [&](const char* name, const std::string& path) {
        return SFault{name, {}, path, dst, "Cant open " + Quote(path) + " for reading", EDst::Kept};
    };
    auto unwritable = [&](const char* name, const std::string& path, EDst kept) {
        return SFault{name, good, src, path, "Cant open " + Quote(path) + " for writing", kept};
    };
    std::vector<SFault> faults = {
        // Header faults, in the order they are checked; the first one counts.
        badSource("32-bit", header([](STgaFields& f) { f.pixsize = 32; }), " tgaHeader.pixsize!=24 (pixsize==32)"),
        badSource("32-bit rle with alpha", header([](STgaFields& f) { f.pixsize = 32; f.imgtype = 10; f.desc = 8; }),
                  " tgaHeader.pixsize!=24 (pixsize==32)"),
        badSource("8-bit", header([](STgaFields& f) { f.pixsize = 8; }), " tgaHeader.pixsize!=24 (pixsize==8)"),
        badSource("rle", header([](STgaFields& f) { f.imgtype = 10; }), " tgaHeader.imgtype!=2 (imgtype==10)"),
        badSource("rle top-down", header([](STgaFields& f) { f.imgtype = 10; f.desc = 32; }),
                  " tgaHeader.imgtype!=2 (imgtype==10)"),
        badSource("no image", header([](STgaFields& f) { f.imgtype = 0; }), " tgaHeader.imgtype!=2 (imgtype==0)"),
        badSource("top-down", header([](STgaFields& f) { f.desc = 32; }), " tgaHeader.desc!=0 (desc==32)"),
        badSource("alpha bits", header([](STgaFields& f) { f.desc = 8; }), " tgaHeader.desc!=0 (desc==8)"),
        badSource("right to left", header([](STgaFields& f) { f.desc = 16; }), " tgaHeader.desc!=0 (desc==16)"),
        badSource("width 0", header([](STgaFields& f) { f.width = 0; }), " tgaHeader.width<1 (width==0)"),
        badSource("width 0x8000", header([](STgaFields& f) { f.width = 0x8000; }), " tgaHeader.width<1 (width==-32768)"),
        badSource("width 0xFFFF", header([](STgaFields& f) { f.width = 0xFFFF; }), " tgaHeader.width<1 (width==-1)"),
        badSource("height 0", header([](STgaFields& f) { f.height = 0; }), " tgaHeader.height<1 (height==0)"),
        badSource("height 0x8000", header([](STgaFields& f) { f.height = 0x8000; }),
                  " tgaHeader.height<1 (height==-32768)"),
        badSource("width and height 0", header([](STgaFields& f) { f.width = 0; f.height = 0; }),
                  " tgaHeader.width<1 (width==0)"),
        // Short files.
        badSource("empty", {}, " is truncated"),
        badSource("17 bytes", Bytes(good.begin(), good.begin() + 17), " is truncated"),
        badSource("header only", Bytes(good.begin(), good.begin() + 18), " is truncated"),
        badSource("one byte short", Bytes(good.begin(), good.end() - 1), " is truncated"),
        badSource("ID field runs past the end", TgaFile(idfield, Bytes(100, 7), {}), " is truncated"),
        badSource("colour map runs past the end", TgaFile(cmap, Bytes(700, 1), {}), " is truncated"),
        badSource("32767 x 32767 in a small file", TgaFile(huge, {}, pixels), " is truncated"),
        // Sources that cannot be opened, or are not regular files.
        unopenable("missing source", tmp.Path("missing.tga")),
        unopenable("folder as source", folder),
        unopenable("NUL device as source", "NUL"),
        // Destinations that cannot be created.
        unwritable("destination in a missing folder", inMissingFolder, EDst::Absent),
        unwritable("folder as destination", folder, EDst::Unchecked),
        unwritable("read-only destination", readOnly, EDst::Kept),
    };
    if (UnderWine())
        faults.push_back({"full disk", good, src, "Z:\\dev\\full", "Cant write 'Z:\\dev\\full'", EDst::Unchecked});

    const Bytes keep = {'k', 'e', 'e', 'p'};
    for (const SFault& t : faults) {
        if (t.dstpath == readOnly && !ReadOnlyIsEnforced(readOnly)) {
            tally.skipped.push_back(t.name + " (this user may write read-only files)");
            continue;
        }
        tally.Run(t.name, [&](SCase& c) {
            if (t.srcpath == src)
                c.Expect(WriteFile(src, t.source), "cannot write the source");
            if (t.dst == EDst::Kept) {
                SetFileAttributesA(t.dstpath.c_str(), FILE_ATTRIBUTE_NORMAL);
                c.Expect(WriteFile(t.dstpath, keep), "cannot write the destination");
                if (t.dstpath == readOnly)
                    SetFileAttributesA(readOnly.c_str(), FILE_ATTRIBUTE_READONLY);
            }
            ExpectMessages(c, host.Run({Job(t.srcpath, t.dstpath)}), {t.message});
            if (t.dst == EDst::Kept)
                c.Expect(ReadFile(t.dstpath) == keep, "the destination was touched");
            if (t.dst == EDst::Absent)
                c.Expect(!Exists(t.dstpath), "the destination was created");
        });
    }

    tally.Run("unterminated path fields", [&](SCase& c) {
        WriteFile(src, good);
        DeleteFileA(dst.c_str());
        // Back to back, an unterminated srcpath runs into dstpath: it must be
        // refused, not read as a longer path.
        std::vector<SCreateBumpMap> jobs = {Job(src, dst), Job(src, dst)};
        std::memset(jobs[0].srcpath, 'a', sizeof jobs[0].srcpath);
        std::memset(jobs[1].dstpath, 'b', sizeof jobs[1].dstpath);
        ExpectMessages(c, host.Run(jobs),
                       {"srcpath is not terminated within 512 bytes", "dstpath is not terminated within 512 bytes"});
        c.Expect(!Exists(dst), "a destination was written");
    });

    tally.Run("the batch goes on after failed jobs", [&](SCase& c) {
        const std::string bad = tmp.Path("bad.tga"), out1 = tmp.Path("after1.tga"), out2 = tmp.Path("after2.tga");
        WriteFile(src, good);
        WriteFile(bad, header([](STgaFields& f) { f.desc = 32; }));
        const std::string missing = tmp.Path("missing.tga");
        ExpectMessages(c, host.Run({Job(missing, out1), Job(src, out1), Job(bad, out2), Job(src, out2, 3.0f)}),
                       {"Cant open " + Quote(missing) + " for reading", Quote(bad) + " tgaHeader.desc!=0 (desc==32)"});
        ExpectConverted(c, out1, good, 1.0f);
        ExpectConverted(c, out2, good, 3.0f);
    });

    // A child process the host starts while a job runs must not inherit the
    // job's files. The source is open while its header fault is shown.
    tally.Run("the source is open but not inheritable while its message shows", [&](SCase& c) {
        WriteFile(src, header([](STgaFields& f) { f.pixsize = 16; }));
        SHandles during;
        g_whileShown = [&] { during = HandlesTo(src); };
        const auto shown = host.Run({Job(src, dst)});
        g_whileShown = nullptr;
        ExpectMessages(c, shown, {q + " tgaHeader.pixsize!=24 (pixsize==16)"});
        c.Expect(during.open == 1, std::to_string(during.open) + " handles to the source, expected 1");
        c.Expect(during.inheritable == 0, "the source's handle is inheritable");
        c.Expect(HandlesTo(src).open == 0, "the source stays open after the job");
    });

    tally.Run("a count of zero or less, or no records, does nothing", [&](SCase& c) {
        WriteFile(src, good);
        DeleteFileA(dst.c_str());
        for (int count : {0, -1, INT_MIN})
            ExpectMessages(c, host.Run({Job(src, dst)}, count), {});
        g_shown.clear();
        host.create(nullptr, 1);
        ExpectMessages(c, g_shown, {});
        c.Expect(!Exists(dst), "a destination was written");
    });
}

}  // namespace

int main(int argc, char** argv)
{
    if (argc == 5 && std::strcmp(argv[1], "--hold") == 0)
        return Hold(static_cast<DWORD>(std::strtoul(argv[2], nullptr, 10)), argv[3], argv[4]);
    const char* path = argc > 1 ? argv[1] : "Quarnel.dll";
    HMODULE module = LoadLibraryA(path);
    if (module == nullptr) {
        std::printf("cannot load %s (error %lu)\n", path, GetLastError());
        return 1;
    }
    STally tally;
    SHost host{reinterpret_cast<CreateBumpMapsFn>(reinterpret_cast<void*>(GetProcAddress(module, kExportName)))};
    tally.Run(std::string("exports ") + kExportName + " and no other name for it", [&](SCase& c) {
        c.Expect(host.create != nullptr, "no such export");
        c.Expect(GetProcAddress(module, "CreateBumpMaps") == nullptr, "exports a plain C name");
        c.Expect(GetProcAddress(module, "_Z14CreateBumpMapsP14SCreateBumpMapi") == nullptr, "exports the GNU name");
    });
    // The module must call USER32's MessageBoxA through its import table; the
    // entry held that very function before the recorder took its place.
    void* previous = PatchImport(module, "user32.dll", "MessageBoxA", reinterpret_cast<void*>(&RecordMessageBox));
    tally.Run("imports MessageBoxA from USER32", [&](SCase& c) {
        HMODULE user32 = GetModuleHandleA("user32.dll");
        c.Expect(previous != nullptr, "no MessageBoxA import from user32.dll");
        c.Expect(user32 != nullptr &&
                     previous == reinterpret_cast<void*>(GetProcAddress(user32, "MessageBoxA")),
                 "the import is not bound to USER32's MessageBoxA");
    });
    for (const char* crt : {"msvcrt.dll", "ucrtbase.dll"}) {
        if (g_commit == nullptr)
            g_commit =
                reinterpret_cast<CommitFn>(PatchImport(module, crt, "_commit", reinterpret_cast<void*>(&CountCommit)));
    }
    if (host.create == nullptr || previous == nullptr) {
        std::printf("%d passed, %d failed\n", tally.passed, tally.failed);
        return 1;
    }

    TempDir tmp;
    if (tmp.dir.empty()) {
        std::printf("cannot make a temporary folder\n");
        return 1;
    }
    ConversionCases(tally, host, tmp);
    // Under Wine the test prefix maps \\quarnel\share to the Windows
    // temporary folder's drive root (see WinePrefix.cmake).
    const std::string share = "\\\\quarnel\\share";
    LongPathCases(tally, host, tmp, Exists(share) ? share + tmp.dir.substr(2) : "");
    FaultCases(tally, host, tmp);
    // Under qemu-user, 32-bit Wine runs no threads (a host that merely starts
    // four crashes there) and each holder process costs a minute to start;
    // the same code runs both cases natively on x64.
    if (std::getenv("QUARNEL_HOST_EMULATED") == nullptr) {
        HeldDestinationCases(tally, host, tmp);
        ConcurrentCases(tally, host, tmp);
    } else {
        tally.skipped.push_back("destinations held by another process, four threads at once (emulated)");
    }
#if defined(__i386__)
    MisalignedStackCases(tally, host, tmp);
#endif
    for (const auto& name : tally.skipped)
        std::printf("skipped %s\n", name.c_str());
    std::printf("%d passed, %d failed\n", tally.passed, tally.failed);
    return tally.failed == 0 ? 0 : 1;
}
