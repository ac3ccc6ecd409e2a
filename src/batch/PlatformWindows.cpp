#include "Platform.h"

#include <fcntl.h>
#include <io.h>
#include <sys/stat.h>
#include <sys/types.h>
#include <windows.h>

#include <cstdint>
#include <cstdlib>
#include <cstring>

void ShowErrorMessage(const char* text, const char* caption)
{
    // Modal, no owner window: the host's windows are not ours to know.
    MessageBoxA(nullptr, text, caption, MB_OK);
}

namespace {

// Opens with CreateFileA rather than fopen: the C runtime's handles are
// inheritable, so a child process the host starts while a job runs would keep
// our file open (and locked) for as long as it lives. These handles are not.
// Sharing is what fopen grants.
HANDLE OpenHandle(const char* path, DWORD access, DWORD disposition)
{
    return CreateFileA(path, access, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, disposition,
                       FILE_ATTRIBUTE_NORMAL, nullptr);
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

}  // namespace

std::FILE* OpenSourceFile(const char* path, std::uint64_t* size)
{
    // A folder does not open here; a device (NUL, CON) or a pipe does, and is
    // refused below before anything reads from it.
    const HANDLE handle = OpenHandle(path, GENERIC_READ, OPEN_EXISTING);
    if (handle == INVALID_HANDLE_VALUE)
        return nullptr;
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
    return CreateFileA(path, GENERIC_WRITE | DELETE, 0, nullptr, OPEN_EXISTING, FILE_FLAG_OPEN_REPARSE_POINT, nullptr);
}

// A new file of our own beside path, or INVALID_HANDLE_VALUE where the
// folder refuses one. Not inheritable, like every handle the job opens.
HANDLE CreateTemp(const char* path, DWORD attributes, SDestination* dst)
{
    for (unsigned attempt = 0; attempt < 64; ++attempt) {
        TempPath(path, TempSeed(attempt), dst->temp, sizeof dst->temp);
        const HANDLE handle = CreateFileA(dst->temp, GENERIC_WRITE, FILE_SHARE_READ, nullptr, CREATE_NEW, attributes, nullptr);
        if (handle != INVALID_HANDLE_VALUE || GetLastError() != ERROR_FILE_EXISTS)
            return handle;
    }
    return INVALID_HANDLE_VALUE;
}

// Puts the complete temporary file in the destination's place in one step.
bool ReplaceWithTemp(const char* temp, const char* path)
{
    return MoveFileExA(temp, path, MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH) != 0;
}

void RemoveTemp(const char* temp)
{
    DeleteFileA(temp);
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
    dst->temp[0] = '\0';
    const HANDLE probe = ProbeDestination(path);
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
        replace = GetFileInformationByHandle(probe, &info) && info.nNumberOfLinks == 1 &&
                  (info.dwFileAttributes & (FILE_ATTRIBUTE_REPARSE_POINT | FILE_ATTRIBUTE_DIRECTORY)) == 0;
        if (replace && (info.dwFileAttributes & kKeptAttributes) != 0)
            attributes = info.dwFileAttributes & kKeptAttributes;
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
    }
    const HANDLE handle = OpenHandle(path, GENERIC_WRITE, CREATE_ALWAYS);
    if (handle == INVALID_HANDLE_VALUE)
        return false;
    dst->f = ToStream(handle, 0, "wb");
    return dst->f != nullptr;
}

bool CommitDestination(SDestination* dst, const char* path)
{
    std::FILE* f = dst->f;
    dst->f = nullptr;
    const bool replacing = dst->temp[0] != '\0';
    bool ok = std::fflush(f) == 0;
    // On disk before the rename, so a power loss leaves the old file or the
    // whole new one under the name.
    if (ok && replacing)
        ok = _commit(_fileno(f)) == 0;
    ok = std::fclose(f) == 0 && ok;
    if (replacing) {
        ok = ok && ReplaceWithTemp(dst->temp, path);
        if (!ok)
            RemoveTemp(dst->temp);
        dst->temp[0] = '\0';
    }
    return ok;
}

void DiscardDestination(SDestination* dst)
{
    if (dst->f != nullptr)
        std::fclose(dst->f);
    dst->f = nullptr;
    if (dst->temp[0] != '\0')
        RemoveTemp(dst->temp);
    dst->temp[0] = '\0';
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
