#include "Platform.h"

#include <cstdlib>

#include <fcntl.h>
#include <sys/mman.h>
#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

void ShowErrorMessage(const char* text, const char* caption)
{
    // No message box here: one line on standard error, flushed so the user has
    // it before the batch goes on.
    std::fprintf(stderr, "%s: %s\n", caption, text);
    std::fflush(stderr);
}

namespace {

// Wraps a descriptor opened with O_NONBLOCK in a blocking stdio stream.
std::FILE* ToStream(int fd, const char* mode)
{
    const int flags = fcntl(fd, F_GETFL);
    if (flags < 0 || fcntl(fd, F_SETFL, flags & ~O_NONBLOCK) < 0) {
        close(fd);
        return nullptr;
    }
    std::FILE* f = fdopen(fd, mode);
    if (f == nullptr)
        close(fd);
    return f;
}

}  // namespace

std::FILE* OpenSourceFile(const char* path, std::uint64_t* size)
{
    const int fd = open(path, O_RDONLY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0)
        return nullptr;
    struct stat st;
    if (fstat(fd, &st) != 0 || !S_ISREG(st.st_mode) || st.st_size < 0) {
        close(fd);
        return nullptr;
    }
    *size = static_cast<std::uint64_t>(st.st_size);
    return ToStream(fd, "rb");
}

std::FILE* OpenDestinationFile(const char* path)
{
    const int fd = open(path, O_WRONLY | O_CREAT | O_TRUNC | O_NONBLOCK | O_CLOEXEC, 0666);
    if (fd < 0)
        return nullptr;
    return ToStream(fd, "wb");
}

void* AllocateImageBuffer(std::size_t size)
{
#ifdef MADV_HUGEPAGE
    // Linux maps large pages only on aligned 2 MiB spans of regions marked
    // for them. Rounding up wastes at most 2 MiB of address space, never
    // touched; if the system says no to the hint, small pages serve as before.
    constexpr std::size_t kLargePage = std::size_t{2} << 20;
    if (size >= kLargePage && size <= SIZE_MAX - kLargePage) {
        const std::size_t rounded = (size + kLargePage - 1) & ~(kLargePage - 1);
        void* p = nullptr;
        if (posix_memalign(&p, kLargePage, rounded) != 0)
            return nullptr;
        madvise(p, rounded, MADV_HUGEPAGE);
        return p;
    }
#endif
    return std::malloc(size);
}

bool WithoutBrokenPipeSignal(bool (*write)(void* context), void* context)
{
    sigset_t pipeOnly, saved, pending;
    sigemptyset(&pipeOnly);
    sigaddset(&pipeOnly, SIGPIPE);
    // A SIGPIPE pending before we start is the host's; only ours is discarded.
    const bool hostPending = sigpending(&pending) == 0 && sigismember(&pending, SIGPIPE) == 1;
    if (pthread_sigmask(SIG_BLOCK, &pipeOnly, &saved) != 0)
        return write(context);
    const bool ok = write(context);
    if (!hostPending && sigpending(&pending) == 0 && sigismember(&pending, SIGPIPE) == 1) {
        const timespec now = {0, 0};
        sigtimedwait(&pipeOnly, nullptr, &now);
    }
    pthread_sigmask(SIG_SETMASK, &saved, nullptr);
    return ok;
}
