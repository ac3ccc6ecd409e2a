#include "HostPlatform.h"

#include <io.h>
#include <windows.h>

#include "ImportPatch.h"

const char* const kModuleName = "Quarnel.dll";

// MessageBoxA has no context argument: the handler reaches the batch's sink
// through this, set while a batch runs, and the job through its thread.
static const SMessageSink* g_sink = nullptr;
static thread_local int t_job = -1;

// Takes the place of the module's MessageBoxA: the text is the host's to
// show, and the job it belongs to is the one running on this thread.
static int WINAPI HostMessageBox(HWND, LPCSTR text, LPCSTR, UINT)
{
    if (text == nullptr)
        text = "";
    if (g_sink != nullptr) {
        g_sink->deliver(g_sink->context, t_job, text, true);
    } else {
        std::fprintf(stderr, "quarnel-convert: %s\n", text);
        std::fflush(stderr);
    }
    return IDOK;
}

CreateBumpMapsFn LoadCreateBumpMaps(const char* module)
{
#if defined(_WIN64)
    static const char* const exportName = "?CreateBumpMaps@@YAXPEAUSCreateBumpMap@@H@Z";
#else
    static const char* const exportName = "?CreateBumpMaps@@YAXPAUSCreateBumpMap@@H@Z";
#endif
    // Nor a dialog of the system's: a drive without a disk fails the open.
    SetErrorMode(SEM_FAILCRITICALERRORS | SEM_NOOPENFILEERRORBOX);
    HMODULE handle = LoadLibraryA(module);
    if (handle == nullptr) {
        std::fprintf(stderr, "quarnel-convert: cannot load %s (error %lu)\n", module, GetLastError());
        return nullptr;
    }
    // A module that does not import it shows no box through it either.
    PatchImport(handle, "user32.dll", "MessageBoxA", reinterpret_cast<void*>(&HostMessageBox));
    auto fn = reinterpret_cast<CreateBumpMapsFn>(reinterpret_cast<void*>(GetProcAddress(handle, exportName)));
    if (fn == nullptr)
        std::fprintf(stderr, "quarnel-convert: %s has no export %s\n", module, exportName);
    return fn;
}

struct SMessageRoute {
    SMessageSink sink;
};

SMessageRoute* BeginMessageRoute(const SMessageSink& sink)
{
    auto* route = new SMessageRoute{sink};
    g_sink = &route->sink;
    return route;
}

std::FILE* RouteErrorStream(SMessageRoute*)
{
    return stderr;
}

void EnterJob(SMessageRoute*, int job, const char*, const char*)
{
    t_job = job;
}

void LeaveJob(SMessageRoute* route, int job)
{
    t_job = -1;
    route->sink.finish(route->sink.context, job);
}

void EndMessageRoute(SMessageRoute* route)
{
    g_sink = nullptr;
    delete route;
}

// FILETIME counts 100 ns since 1601 for file times and the clock alike.
static std::int64_t Nanoseconds(FILETIME t)
{
    return static_cast<std::int64_t>((static_cast<std::uint64_t>(t.dwHighDateTime) << 32) | t.dwLowDateTime) * 100;
}

FileStamp ReadFileStamp(const char* path)
{
    WIN32_FILE_ATTRIBUTE_DATA data;
    if (!GetFileAttributesExA(path, GetFileExInfoStandard, &data))
        return {false, false, false, 0, 0};
    const std::uint64_t size = (static_cast<std::uint64_t>(data.nFileSizeHigh) << 32) | data.nFileSizeLow;
    const bool folder = (data.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
    const bool regular = !folder && (data.dwFileAttributes & FILE_ATTRIBUTE_DEVICE) == 0;
    return {true, regular, folder, Nanoseconds(data.ftLastWriteTime), size};
}

std::int64_t Now()
{
    FILETIME now;
    GetSystemTimeAsFileTime(&now);
    return Nanoseconds(now);
}

void SleepNanoseconds(std::int64_t ns)
{
    Sleep(static_cast<DWORD>(ns / 1000000 + 1));
}

SFileId FileIdentity(const char* path)
{
    // No access asked for, only attributes; a folder needs backup semantics.
    const HANDLE h = CreateFileA(path, 0, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                                 OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr);
    if (h == INVALID_HANDLE_VALUE)
        return {false, 0, 0};
    BY_HANDLE_FILE_INFORMATION info;
    const bool ok = GetFileInformationByHandle(h, &info) != 0;
    CloseHandle(h);
    if (!ok)
        return {false, 0, 0};
    return {true, info.dwVolumeSerialNumber,
            (static_cast<std::uint64_t>(info.nFileIndexHigh) << 32) | info.nFileIndexLow};
}

bool MakeDirectory(const char* path)
{
    if (CreateDirectoryA(path, nullptr))
        return true;
    const DWORD attributes = GetFileAttributesA(path);
    return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
}

bool IsPathSeparator(char c)
{
    return c == '/' || c == '\\' || c == ':';
}

std::string PathKey(const std::string& path)
{
    std::string key = path;
    for (char& c : key) {
        if (c == '\\')
            c = '/';
        else if (c >= 'A' && c <= 'Z')
            c = static_cast<char>(c - 'A' + 'a');
    }
    return key;
}

bool ListFolder(const char* path, std::vector<SFolderEntry>& entries)
{
    WIN32_FIND_DATAA entry;
    const HANDLE find = FindFirstFileA((std::string(path) + "\\*").c_str(), &entry);
    if (find == INVALID_HANDLE_VALUE)
        return GetLastError() == ERROR_FILE_NOT_FOUND;
    do {
        const std::string name = entry.cFileName;
        if (name != "." && name != "..")
            entries.push_back({name, (entry.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0});
    } while (FindNextFileA(find, &entry));
    const bool ok = GetLastError() == ERROR_NO_MORE_FILES;
    FindClose(find);
    return ok;
}

int AvailableProcessors()
{
    DWORD_PTR process = 0, system = 0;
    int count = 0;
    if (GetProcessAffinityMask(GetCurrentProcess(), &process, &system))
        for (; process != 0; process &= process - 1)
            ++count;
    return count > 0 ? count : 1;
}

namespace {

struct SThreadStart {
    void (*body)(void*);
    void* context;
};

DWORD WINAPI ThreadMain(void* arg)
{
    auto* start = static_cast<SThreadStart*>(arg);
    start->body(start->context);
    return 0;
}

}  // namespace

int RunThreads(int count, void (*body)(void*), void* context)
{
    SThreadStart start = {body, context};
    std::vector<HANDLE> threads;
    for (int i = 1; i < count; ++i) {
        const HANDLE t = CreateThread(nullptr, 0, ThreadMain, &start, 0, nullptr);
        if (t == nullptr)
            break;
        threads.push_back(t);
    }
    body(context);
    for (HANDLE t : threads) {
        WaitForSingleObject(t, INFINITE);
        CloseHandle(t);
    }
    return static_cast<int>(threads.size()) + 1;
}

static_assert(sizeof(SRWLOCK) <= 64, "HostMutex storage");

HostMutex::HostMutex()
{
    InitializeSRWLock(reinterpret_cast<SRWLOCK*>(storage_));
}

HostMutex::~HostMutex() = default;

void HostMutex::Lock()
{
    AcquireSRWLockExclusive(reinterpret_cast<SRWLOCK*>(storage_));
}

void HostMutex::Unlock()
{
    ReleaseSRWLockExclusive(reinterpret_cast<SRWLOCK*>(storage_));
}

bool IsTerminal(std::FILE* stream)
{
    // _isatty is true for NUL too; only a console has a console mode.
    DWORD mode = 0;
    return GetConsoleMode(reinterpret_cast<HANDLE>(_get_osfhandle(_fileno(stream))), &mode) != 0;
}
