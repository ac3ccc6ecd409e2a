#include "Platform.h"

#include <sys/stat.h>
#include <sys/types.h>
#include <windows.h>

void ShowErrorMessage(const char* text, const char* caption)
{
    MessageBoxA(nullptr, text, caption, MB_OK);
}

std::FILE* OpenSourceFile(const char* path, std::uint64_t* size)
{
    std::FILE* f = std::fopen(path, "rb");
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
    return std::fopen(path, "wb");
}

bool WithoutBrokenPipeSignal(bool (*write)(void* context), void* context)
{
    // No signal on a broken pipe here: the write simply fails.
    return write(context);
}
