#include "Platform.h"

#include <fcntl.h>
#include <io.h>
#include <sys/stat.h>
#include <sys/types.h>
#include <windows.h>

#include <cstdint>
#include <cstdlib>

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

std::FILE* OpenDestinationFile(const char* path)
{
    const HANDLE handle = OpenHandle(path, GENERIC_WRITE, CREATE_ALWAYS);
    if (handle == INVALID_HANDLE_VALUE)
        return nullptr;
    return ToStream(handle, 0, "wb");
}

void* AllocateImageBuffer(std::size_t size)
{
    return std::malloc(size);
}

bool WithoutBrokenPipeSignal(bool (*write)(void* context), void* context)
{
    // No signal on a broken pipe here: the write simply fails.
    return write(context);
}
