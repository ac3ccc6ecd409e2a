#include "EnginePlatform.h"

#include <windows.h>

#include "ImportPatch.h"

namespace {

#if defined(_WIN64)
const char kExportName[] = "?CreateBumpMaps@@YAXPEAUSCreateBumpMap@@H@Z";
#else
const char kExportName[] = "?CreateBumpMaps@@YAXPAUSCreateBumpMap@@H@Z";
#endif

// Takes the place of the module's MessageBoxA: the message belongs to the job
// running on this thread. Where none of ours runs, the user sees the box.
int WINAPI EngineMessageBox(HWND owner, LPCSTR text, LPCSTR caption, UINT type)
{
    if (TakeMessage(text != nullptr ? text : ""))
        return IDOK;
    const HMODULE user32 = GetModuleHandleA("user32.dll");
    const auto show = user32 != nullptr ? reinterpret_cast<decltype(&MessageBoxA)>(
                                              reinterpret_cast<void*>(GetProcAddress(user32, "MessageBoxA")))
                                        : nullptr;
    return show != nullptr ? show(owner, text, caption, type) : IDOK;
}

std::string EngineFolder()
{
    HMODULE self = nullptr;
    char path[MAX_PATH];
    if (!GetModuleHandleExA(GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS | GET_MODULE_HANDLE_EX_FLAG_UNCHANGED_REFCOUNT,
                            reinterpret_cast<LPCSTR>(&LoadQuarnel), &self))
        return "";
    const DWORD n = GetModuleFileNameA(self, path, sizeof path);
    std::string folder = n > 0 && n < sizeof path ? std::string(path, n) : "";
    while (!folder.empty() && folder.back() != '\\' && folder.back() != '/')
        folder.pop_back();
    return folder;
}

std::string SystemMessage(DWORD error)
{
    char text[512];
    DWORD n = FormatMessageA(FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS, nullptr, error, 0, text,
                             sizeof text, nullptr);
    while (n > 0 && (text[n - 1] == '\n' || text[n - 1] == '\r' || text[n - 1] == ' ' || text[n - 1] == '.'))
        --n;
    return std::string(text, n) + " (error " + std::to_string(error) + ")";
}

// No dialog of the system's either (a drive without a disk fails the open),
// for this thread alone.
constexpr DWORD kQuietErrors = SEM_FAILCRITICALERRORS | SEM_NOOPENFILEERRORBOX;

// FILETIME counts 100 ns since 1601.
std::int64_t Nanoseconds(FILETIME t)
{
    return static_cast<std::int64_t>((static_cast<std::uint64_t>(t.dwHighDateTime) << 32) | t.dwLowDateTime) * 100;
}

HANDLE OpenForInfo(const char* path, bool followLinks)
{
    // No access asked for, only attributes; a folder needs backup semantics.
    const DWORD flags = FILE_FLAG_BACKUP_SEMANTICS | (followLinks ? 0 : FILE_FLAG_OPEN_REPARSE_POINT);
    return CreateFileA(path, 0, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr, OPEN_EXISTING, flags,
                       nullptr);
}

}  // namespace

CreateBumpMapsFn LoadQuarnel(const char* path, std::string& why)
{
    std::string module = path != nullptr ? path : "Quarnel.dll";
    if (path == nullptr) {
        const std::string beside = EngineFolder() + "Quarnel.dll";
        if (GetFileAttributesA(beside.c_str()) != INVALID_FILE_ATTRIBUTES)
            module = beside;
    }
    DWORD mode = 0;
    SetThreadErrorMode(kQuietErrors, &mode);
    const HMODULE handle = LoadLibraryA(module.c_str());
    const DWORD error = GetLastError();
    SetThreadErrorMode(mode, nullptr);
    if (handle == nullptr) {
        why = "cannot load the module " + module + ": " + SystemMessage(error);
        return nullptr;
    }
    // A module whose boxes cannot be taken would stop the batch at each one.
    if (PatchImport(handle, "user32.dll", "MessageBoxA", reinterpret_cast<void*>(&EngineMessageBox)) == nullptr) {
        why = module + " imports no MessageBoxA from user32.dll: its messages cannot be taken";
        return nullptr;
    }
    auto create = reinterpret_cast<CreateBumpMapsFn>(reinterpret_cast<void*>(GetProcAddress(handle, kExportName)));
    if (create == nullptr)
        why = module + " has no export " + kExportName;
    return create;
}

SFileInfo FileInfo(const char* path, bool followLinks)
{
    const HANDLE h = OpenForInfo(path, followLinks);
    BY_HANDLE_FILE_INFORMATION info;
    if (h == INVALID_HANDLE_VALUE)
        return {false, false, false, false, 0, 0, 0};
    const bool known = GetFileInformationByHandle(h, &info) != 0;
    const DWORD type = GetFileType(h);
    CloseHandle(h);
    if (!known)
        return {false, false, false, false, 0, 0, 0};
    const bool folder = (info.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
    return {true,
            folder,
            !folder && type == FILE_TYPE_DISK,
            !followLinks && (info.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0,
            info.nNumberOfLinks,
            (static_cast<std::uint64_t>(info.nFileSizeHigh) << 32) | info.nFileSizeLow,
            Nanoseconds(info.ftLastWriteTime)};
}

SFileId FileIdentity(const char* path)
{
    const HANDLE h = OpenForInfo(path, true);
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

bool MakeFolder(const char* path)
{
    if (CreateDirectoryA(path, nullptr))
        return true;
    const DWORD attributes = GetFileAttributesA(path);
    return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
}

bool RemoveName(const char* path)
{
    // A link to a folder (or a junction) is removed as a folder, its target kept.
    const DWORD attributes = GetFileAttributesA(path);
    if (attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY) != 0)
        return RemoveDirectoryA(path) != 0;
    return DeleteFileA(path) != 0;
}

bool MoveName(const char* from, const char* to)
{
    // Without MOVEFILE_REPLACE_EXISTING an existing name is refused.
    return MoveFileExA(from, to, 0) != 0;
}

int ProcessId()
{
    return static_cast<int>(GetCurrentProcessId());
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

bool ReadHeader(const char* path, unsigned char (&header)[18])
{
    const HANDLE h = CreateFileA(path, GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                                 OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (h == INVALID_HANDLE_VALUE)
        return false;
    DWORD got = 0;
    const bool ok = GetFileType(h) == FILE_TYPE_DISK && ReadFile(h, header, sizeof header, &got, nullptr) &&
                    got == sizeof header;
    CloseHandle(h);
    return ok;
}

bool ReadWholeFile(const char* path, std::string& text)
{
    const bool standardInput = std::string(path) == "-";
    const HANDLE h = standardInput ? GetStdHandle(STD_INPUT_HANDLE)
                                   : CreateFileA(path, GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                                                 OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (h == INVALID_HANDLE_VALUE || h == nullptr)
        return false;
    char buffer[65536];
    DWORD got = 0;
    bool ok = true;
    for (;;) {
        if (!ReadFile(h, buffer, sizeof buffer, &got, nullptr)) {
            ok = GetLastError() == ERROR_BROKEN_PIPE;  // a pipe's writer has closed it: the end
            break;
        }
        if (got == 0)
            break;
        text.append(buffer, got);
    }
    if (!standardInput)
        CloseHandle(h);
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

std::uint64_t PhysicalMemory()
{
    MEMORYSTATUSEX status = {};
    status.dwLength = sizeof status;
    return GlobalMemoryStatusEx(&status) ? status.ullTotalPhys : 0;
}

double MonotonicSeconds()
{
    LARGE_INTEGER now, frequency;
    QueryPerformanceCounter(&now);
    QueryPerformanceFrequency(&frequency);
    return static_cast<double>(now.QuadPart) / static_cast<double>(frequency.QuadPart);
}

namespace {

struct SThreadStart {
    void (*body)(void*);
    void* context;
};

DWORD WINAPI ThreadMain(void* arg)
{
    auto* start = static_cast<SThreadStart*>(arg);
    SetThreadErrorMode(kQuietErrors, nullptr);
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
    DWORD mode = 0;
    SetThreadErrorMode(kQuietErrors, &mode);
    body(context);
    SetThreadErrorMode(mode, nullptr);
    for (HANDLE t : threads) {
        WaitForSingleObject(t, INFINITE);
        CloseHandle(t);
    }
    return static_cast<int>(threads.size()) + 1;
}

namespace {

struct SMonitor {
    SRWLOCK lock;
    CONDITION_VARIABLE condition;
};
static_assert(sizeof(SMonitor) <= 128, "Monitor storage");

SMonitor& Of(unsigned char* storage)
{
    return *reinterpret_cast<SMonitor*>(storage);
}

}  // namespace

Monitor::Monitor()
{
    InitializeSRWLock(&Of(storage_).lock);
    InitializeConditionVariable(&Of(storage_).condition);
}

Monitor::~Monitor() = default;

void Monitor::Lock()
{
    AcquireSRWLockExclusive(&Of(storage_).lock);
}

void Monitor::Unlock()
{
    ReleaseSRWLockExclusive(&Of(storage_).lock);
}

void Monitor::Wait()
{
    SleepConditionVariableSRW(&Of(storage_).condition, &Of(storage_).lock, INFINITE, 0);
}

void Monitor::WakeAll()
{
    WakeAllConditionVariable(&Of(storage_).condition);
}

namespace {

HANDLE Stream(int stream)
{
    return GetStdHandle(stream == 1 ? STD_OUTPUT_HANDLE : STD_ERROR_HANDLE);
}

}  // namespace

void ReserveConsole(bool& outOpen, bool& errOpen)
{
    // Handles are not reused for standard streams: a closed one stays closed.
    outOpen = Stream(1) != nullptr && Stream(1) != INVALID_HANDLE_VALUE;
    errOpen = Stream(2) != nullptr && Stream(2) != INVALID_HANDLE_VALUE;
}

bool WriteStandard(int stream, const std::string& text)
{
    const HANDLE h = Stream(stream);
    std::size_t done = 0;
    while (done < text.size()) {
        DWORD wrote = 0;
        if (!WriteFile(h, text.data() + done, static_cast<DWORD>(text.size() - done), &wrote, nullptr) || wrote == 0)
            break;
        done += wrote;
    }
    return done == text.size();
}

bool IsTerminal(int stream)
{
    // Only a console has a console mode (_isatty is true for NUL too).
    DWORD mode = 0;
    return GetConsoleMode(Stream(stream), &mode) != 0;
}

bool PathsAreUtf8()
{
    // Other code pages' bytes from 0x80 are characters, a double-byte one's
    // second bytes among them.
    return (AreFileApisANSI() ? GetACP() : GetOEMCP()) == CP_UTF8;
}
