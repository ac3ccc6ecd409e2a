#include <io.h>
#include <windows.h>

#include <algorithm>
#include <cstdio>
#include <stdexcept>

#include "ImportPatch.h"
#include "TestSupport.h"

namespace testsupport {

namespace {

// The wide form of a path, decoded as the library's A paths are, with the
// "\\?\" prefix where it is too long for the A functions, so tests can make
// and check files the library must reach by long paths.
std::wstring Wide(const std::string& path)
{
    std::wstring wide(path.size(), L'\0');
    wide.resize(static_cast<std::size_t>(MultiByteToWideChar(
        AreFileApisANSI() ? CP_ACP : CP_OEMCP, 0, path.data(), static_cast<int>(path.size()), &wide[0],
        static_cast<int>(wide.size()))));
    if (path.size() < MAX_PATH)
        return wide;
    return path.compare(0, 2, "\\\\") == 0 ? L"\\\\?\\UNC" + wide.substr(1) : L"\\\\?\\" + wide;
}

// Read-only files and folders of any depth included.
void RemoveTree(const std::string& dir)
{
    for (const std::string& name : FolderNames(dir)) {
        const std::wstring path = Wide(dir + "\\" + name);
        SetFileAttributesW(path.c_str(), FILE_ATTRIBUTE_NORMAL);
        if (!DeleteFileW(path.c_str()))
            RemoveTree(dir + "\\" + name);
    }
    RemoveDirectoryW(Wide(dir).c_str());
}

}  // namespace

TempDir::TempDir()
{
    char base[MAX_PATH + 1];
    const DWORD n = GetTempPathA(sizeof base, base);
    // Wine reuses small process ids, and a run that died keeps its folder.
    for (unsigned attempt = 0; n > 0 && n <= MAX_PATH && attempt < 100 && dir.empty(); ++attempt) {
        const std::string path = std::string(base) + "quarnel-test-" + std::to_string(GetCurrentProcessId()) + "-" +
                                 std::to_string(GetTickCount() + attempt);
        if (CreateDirectoryA(path.c_str(), nullptr))
            dir = path;
    }
    if (dir.empty())
        throw std::runtime_error("cannot make a temporary folder");
}

TempDir::~TempDir()
{
    RemoveTree(dir);
}

std::string TempDir::Path(const std::string& name) const
{
    return dir + "\\" + name;
}

std::FILE* OpenFile(const std::string& path, const char* mode)
{
    return _wfopen(Wide(path).c_str(), Wide(mode).c_str());
}

bool FileExists(const std::string& path)
{
    return GetFileAttributesW(Wide(path).c_str()) != INVALID_FILE_ATTRIBUTES;
}

bool MakeFolder(const std::string& path)
{
    return CreateDirectoryW(Wide(path).c_str(), nullptr) != 0;
}

std::vector<std::string> FolderNames(const std::string& dir)
{
    std::vector<std::string> names;
    WIN32_FIND_DATAW entry;
    const HANDLE find = FindFirstFileW(Wide(dir + "\\*").c_str(), &entry);
    if (find == INVALID_HANDLE_VALUE)
        return names;
    do {
        const std::wstring name = entry.cFileName;
        if (name != L"." && name != L"..")
            names.emplace_back(name.begin(), name.end());
    } while (FindNextFileW(find, &entry));
    FindClose(find);
    std::sort(names.begin(), names.end());
    return names;
}

int OpenDescriptorCount()
{
    DWORD handles = 0;
    if (GetProcessHandleCount(GetCurrentProcess(), &handles) && handles > 0)
        return static_cast<int>(handles);
    // Wine counts no handles: the C runtime's descriptors then, which a
    // mingw-w64 module shares with this host and opens each file through.
    int descriptors = 0;
    for (int fd = 0; fd < 2048; ++fd)
        descriptors += _get_osfhandle(fd) != -1;
    return descriptors;
}

namespace {

// MessageBoxA has no context argument, so the recorder reaches its list, and
// what a test looks at while a box is up, here. Threads append under the lock.
Strings g_shown;
std::function<void()> g_whileShown;
SRWLOCK g_lock = SRWLOCK_INIT;

int WINAPI RecordMessageBox(HWND owner, LPCSTR text, LPCSTR caption, UINT type)
{
    const bool plain = owner == nullptr && caption != nullptr && std::string(caption) == "!!! Error !!!" &&
                       type == MB_OK;
    AcquireSRWLockExclusive(&g_lock);
    g_shown.push_back((plain ? "" : "(not a plain error box) ") + std::string(text != nullptr ? text : "(null)"));
    ReleaseSRWLockExclusive(&g_lock);
    if (g_whileShown)
        g_whileShown();
    return IDOK;
}

}  // namespace

void* InstallMessageRecorder(void* module)
{
    return PatchImport(static_cast<HMODULE>(module), "user32.dll", "MessageBoxA",
                       reinterpret_cast<void*>(&RecordMessageBox));
}

void WhileMessageShows(std::function<void()> fn)
{
    g_whileShown = std::move(fn);
}

Strings ShownMessages(const std::function<void()>& call)
{
    g_shown.clear();
    call();
    return g_shown;
}

}  // namespace testsupport
