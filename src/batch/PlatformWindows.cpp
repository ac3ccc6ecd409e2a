#include "Platform.h"

#include <fcntl.h>
#include <io.h>
#include <sys/stat.h>
#include <sys/types.h>
#include <windows.h>

#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <cwchar>

void ShowErrorMessage(const char* text, const char* caption)
{
    // Modal, no owner window: the host's windows are not ours to know.
    MessageBoxA(nullptr, text, caption, MB_OK);
}

namespace {

// A path as the wide-character calls take it, in memory of its own.
struct SWidePath {
    wchar_t* text = nullptr;
    SWidePath() = default;
    SWidePath(const SWidePath&) = delete;
    SWidePath& operator=(const SWidePath&) = delete;
    ~SWidePath() { std::free(text); }
};

bool StartsWith(const wchar_t* text, const wchar_t* prefix)
{
    return std::wcsncmp(text, prefix, std::wcslen(prefix)) == 0;
}

// The 8-bit path in UTF-16, decoded with the code page the A functions use.
wchar_t* Widen(const char* path)
{
    const UINT codePage = AreFileApisANSI() ? CP_ACP : CP_OEMCP;
    const int length = MultiByteToWideChar(codePage, 0, path, -1, nullptr, 0);
    if (length <= 0)
        return nullptr;
    auto* wide = static_cast<wchar_t*>(std::malloc(static_cast<std::size_t>(length) * sizeof(wchar_t)));
    if (wide != nullptr && MultiByteToWideChar(codePage, 0, path, -1, wide, length) != length) {
        std::free(wide);
        return nullptr;
    }
    return wide;
}

// "\\?\C:\..." for a full path on a drive, "\\?\UNC\server\share\..." for one
// on a share; null for any other form (a device, or one already prefixed).
wchar_t* LongForm(const wchar_t* full)
{
    const bool device = StartsWith(full, L"\\\\?\\") || StartsWith(full, L"\\\\.\\");
    const bool unc = StartsWith(full, L"\\\\") && !device;
    const bool drive = full[0] != L'\0' && full[1] == L':' && full[2] == L'\\';
    if (!unc && !drive)
        return nullptr;
    const wchar_t* prefix = unc ? L"\\\\?\\UNC" : L"\\\\?\\";
    const wchar_t* rest = unc ? full + 1 : full;
    const std::size_t length = std::wcslen(prefix) + std::wcslen(rest);
    auto* text = static_cast<wchar_t*>(std::malloc((length + 1) * sizeof(wchar_t)));
    if (text != nullptr) {
        std::wcscpy(text, prefix);
        std::wcscat(text, rest);
    }
    return text;
}

// The A functions refuse any path that reaches MAX_PATH (260) characters,
// whatever the host's long-path setting, yet the record allows 511 bytes and
// deep asset trees use them. Such a path is opened through the "\\?\" form of
// its full path, good for 32,767 characters. That form skips the usual
// normalisation, so GetFullPathNameW does it first: relative parts, "..",
// forward slashes and UNC shares keep their meaning. Every shorter path goes
// to the wide call as it is, so it means exactly what it meant to the A call
// (device names such as NUL included).
bool ToWidePath(const char* path, SWidePath* out)
{
    out->text = Widen(path);
    if (out->text == nullptr)
        return false;
    const DWORD size = GetFullPathNameW(out->text, 0, nullptr, nullptr);
    if (size == 0 || (size <= MAX_PATH && std::wcslen(out->text) < MAX_PATH))
        return true;  // short enough, or refused by the call whatever its form
    SWidePath full;
    full.text = static_cast<wchar_t*>(std::malloc(static_cast<std::size_t>(size) * sizeof(wchar_t)));
    if (full.text == nullptr)
        return false;
    const DWORD length = GetFullPathNameW(out->text, size, full.text, nullptr);
    if (length == 0 || length >= size)
        return false;
    // Without a long form (a device path, or no memory for it) the path stays
    // as given, and the call decides.
    if (wchar_t* longForm = LongForm(full.text)) {
        std::free(out->text);
        out->text = longForm;
    }
    return true;
}

// Opens with CreateFileW rather than fopen: the C runtime's handles are
// inheritable, so a child process the host starts while a job runs would keep
// our file open (and locked) for as long as it lives. These handles are not.
// Sharing is what fopen grants.
HANDLE OpenHandle(const char* path, DWORD access, DWORD share, DWORD disposition, DWORD flags)
{
    SWidePath wide;
    if (!ToWidePath(path, &wide)) {
        SetLastError(ERROR_NOT_ENOUGH_MEMORY);
        return INVALID_HANDLE_VALUE;
    }
    return CreateFileW(wide.text, access, share, nullptr, disposition, flags, nullptr);
}

HANDLE OpenHandle(const char* path, DWORD access, DWORD disposition)
{
    return OpenHandle(path, access, FILE_SHARE_READ | FILE_SHARE_WRITE, disposition, FILE_ATTRIBUTE_NORMAL);
}

// Wraps the handle in a binary stdio stream that owns it.
std::FILE* ToStream(HANDLE handle, int flags, const char* mode)
{
    const int fd = _open_osfhandle(reinterpret_cast<std::intptr_t>(handle), flags | _O_BINARY);
    if (fd < 0) {
        CloseHandle(handle);
        return nullptr;
    }
    std::FILE* f = _fdopen(fd, mode);
    if (f == nullptr)
        _close(fd);
    return f;
}

SFileId Identity(const BY_HANDLE_FILE_INFORMATION& info)
{
    return {true, info.dwVolumeSerialNumber, (std::uint64_t{info.nFileIndexHigh} << 32) | info.nFileIndexLow};
}

// The identity of what handle has open; unknown where the system cannot say.
SFileId Identity(HANDLE handle)
{
    BY_HANDLE_FILE_INFORMATION info;
    if (!GetFileInformationByHandle(handle, &info))
        return {false, 0, 0};
    return Identity(info);
}

}  // namespace

std::FILE* OpenSourceFile(const char* path, std::uint64_t* size, SFileId* id)
{
    // A folder does not open here; a device (NUL, CON) or a pipe does, and is
    // refused below before anything reads from it.
    const HANDLE handle = OpenHandle(path, GENERIC_READ, OPEN_EXISTING);
    if (handle == INVALID_HANDLE_VALUE)
        return nullptr;
    *id = Identity(handle);
    std::FILE* f = ToStream(handle, _O_RDONLY, "rb");
    if (f == nullptr)
        return nullptr;
    // 64-bit stat: a 32767 x 32767 source is past what a 32-bit length can hold.
    struct _stat64 st;
    if (_fstat64(_fileno(f), &st) != 0 || (st.st_mode & _S_IFMT) != _S_IFREG || st.st_size < 0) {
        std::fclose(f);
        return nullptr;
    }
    *size = static_cast<std::uint64_t>(st.st_size);
    return f;
}

namespace {

// Process and thread ids and the clock, so threads and processes seldom
// meet on a name.
std::uint64_t TempSeed(unsigned attempt)
{
    LARGE_INTEGER now;
    QueryPerformanceCounter(&now);
    return (std::uint64_t{GetCurrentProcessId()} << 32) ^ std::uint64_t{GetCurrentThreadId()} * 0x9E3779B97F4A7C15u ^
           static_cast<std::uint64_t>(now.QuadPart) ^ attempt * 0xD6E8FEB86659FD93u;
}

// Opens an existing destination without changing it, to learn what it is.
// Unshared: a rename cannot replace a file another program holds open, even
// one that lets it be deleted, so such a file does not open here and is
// written directly, as far as that program's sharing allows.
HANDLE ProbeDestination(const char* path)
{
    return OpenHandle(path, GENERIC_WRITE | DELETE, 0, OPEN_EXISTING, FILE_FLAG_OPEN_REPARSE_POINT);
}

// How many bytes of path the temporary name keeps: all of it, or where a
// name within 25 UTF-16 units of the 255 a component may hold leaves no
// room for the usual temporary name, only its folder (*folder bytes), so
// that a long name never sends an ordinary file to be written in place.
// The last separator is found a character at a time: in a double-byte code
// page a character's second byte may be a backslash.
std::size_t TempKeep(const char* path, std::size_t* folder)
{
    const UINT codePage = AreFileApisANSI() ? CP_ACP : CP_OEMCP;
    std::size_t length = 0;
    *folder = 0;
    for (; path[length] != '\0'; ++length) {
        if (IsDBCSLeadByteEx(codePage, static_cast<BYTE>(path[length])) && path[length + 1] != '\0')
            ++length;
        else if (path[length] == '\\' || path[length] == '/' || path[length] == ':')
            *folder = length + 1;
    }
    const int units = MultiByteToWideChar(codePage, 0, path + *folder, -1, nullptr, 0) - 1;
    return units >= 0 && static_cast<std::size_t>(units) + kTempNameLength > 255 ? *folder : length;
}

// A new file of our own beside path, or INVALID_HANDLE_VALUE, its reason
// in GetLastError, where the folder refuses one. Not inheritable, like
// every handle the job opens. A file system whose limit is not 255 UTF-16
// units (a Linux one under Wine or a Samba server, 255 bytes of UTF-8)
// may refuse the usual name at fewer units, so any refusal of it is tried
// again with the short one.
HANDLE CreateTemp(const char* path, DWORD attributes, SDestination* dst)
{
    std::size_t folder = 0;
    std::size_t keep = TempKeep(path, &folder);
    for (unsigned attempt = 0; attempt < 64; ++attempt) {
        TempPath(path, keep, TempSeed(attempt), dst->temp, sizeof dst->temp);
        const HANDLE handle = OpenHandle(dst->temp, GENERIC_WRITE, FILE_SHARE_READ, CREATE_NEW, attributes);
        if (handle == INVALID_HANDLE_VALUE && GetLastError() != ERROR_FILE_EXISTS && keep != folder) {
            keep = folder;
            continue;
        }
        if (handle != INVALID_HANDLE_VALUE || GetLastError() != ERROR_FILE_EXISTS)
            return handle;
    }
    return INVALID_HANDLE_VALUE;
}


// The empty path and a folder's path cannot have a temporary file beside them.
bool NamesAFile(const char* path)
{
    const std::size_t n = std::strlen(path);
    return n > 0 && path[n - 1] != '\\' && path[n - 1] != '/' && path[n - 1] != ':';
}

// The replacement keeps the old file's attributes but read-only, which the
// probe has already refused.
constexpr DWORD kKeptAttributes =
    FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_SYSTEM | FILE_ATTRIBUTE_ARCHIVE | FILE_ATTRIBUTE_NOT_CONTENT_INDEXED;

}  // namespace

bool OpenDestination(const char* path, SDestination* dst)
{
    dst->f = nullptr;
    dst->id = {false, 0, 0};
    dst->temp[0] = '\0';
    const HANDLE probe = ProbeDestination(path);
    const bool exists = probe != INVALID_HANDLE_VALUE;
    DWORD attributes = FILE_ATTRIBUTE_NORMAL;
    bool replace = false;
    if (probe == INVALID_HANDLE_VALUE) {
        replace = GetLastError() == ERROR_FILE_NOT_FOUND && NamesAFile(path);
    } else if (GetFileType(probe) != FILE_TYPE_DISK) {
        // A device or a pipe keeps this one handle: a pipe's reader never
        // sees a writer come and go.
        dst->f = ToStream(probe, 0, "wb");
        return dst->f != nullptr;
    } else {
        // Only an ordinary file with one name: a symlink or a hard link keeps
        // its meaning when written through.
        BY_HANDLE_FILE_INFORMATION info;
        const bool known = GetFileInformationByHandle(probe, &info) != 0;
        replace = known && info.nNumberOfLinks == 1 &&
                  (info.dwFileAttributes & (FILE_ATTRIBUTE_REPARSE_POINT | FILE_ATTRIBUTE_DIRECTORY)) == 0;
        if (replace && (info.dwFileAttributes & kKeptAttributes) != 0)
            attributes = info.dwFileAttributes & kKeptAttributes;
        if (known)
            dst->id = Identity(info);
        CloseHandle(probe);
    }
    if (replace) {
        const HANDLE temp = CreateTemp(path, attributes, dst);
        if (temp != INVALID_HANDLE_VALUE) {
            dst->f = ToStream(temp, 0, "wb");
            if (dst->f == nullptr) {
                RemoveTemp(dst->temp);
                dst->temp[0] = '\0';
            }
            return dst->f != nullptr;
        }
        dst->temp[0] = '\0';
        // Only a folder that refuses a new file sends an existing file to be
        // written in place: a full disk or no handle left fails the job with
        // the file as it was.
        if (exists && GetLastError() != ERROR_ACCESS_DENIED)
            return false;
    }
    const HANDLE handle = OpenHandle(path, GENERIC_WRITE, CREATE_ALWAYS);
    if (handle == INVALID_HANDLE_VALUE)
        return false;
    // What is written, not what the probe saw: through a symlink that may be
    // the source.
    dst->id = Identity(handle);
    dst->f = ToStream(handle, 0, "wb");
    return dst->f != nullptr;
}

bool SyncToDisk(std::FILE* f)
{
    return _commit(_fileno(f)) == 0;
}

// Puts the complete temporary file in the destination's place in one step,
// without waiting for the disk (no MOVEFILE_WRITE_THROUGH).
bool ReplaceWithTemp(const char* temp, const char* path)
{
    SWidePath from, to;
    return ToWidePath(temp, &from) && ToWidePath(path, &to) &&
           MoveFileExW(from.text, to.text, MOVEFILE_REPLACE_EXISTING) != 0;
}

void RemoveTemp(const char* temp)
{
    SWidePath wide;
    if (ToWidePath(temp, &wide))
        DeleteFileW(wide.text);
}

void* AllocateImageBuffer(std::size_t size)
{
    return std::malloc(size);
}

bool WithoutWriteSignals(bool (*write)(void* context), void* context)
{
    // No signal on a broken pipe or a size limit here: the write simply fails.
    return write(context);
}
