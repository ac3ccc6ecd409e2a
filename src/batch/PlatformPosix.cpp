#include "Platform.h"

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <ctime>

#include <dlfcn.h>
#include <fcntl.h>
#include <pthread.h>
#include <signal.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

void ShowErrorMessage(const char* text, const char* caption)
{
    // A host that takes the messages itself defines MessageBoxA as Windows
    // has it; looked up at each report, so the library keeps nothing.
    using MessageBoxFn = int (*)(void* owner, const char* text, const char* caption, unsigned type);
    if (const auto messageBox = reinterpret_cast<MessageBoxFn>(dlsym(RTLD_DEFAULT, "MessageBoxA"))) {
        messageBox(nullptr, text, caption, 0);  // MB_OK
        return;
    }
    // Else one line on standard error, flushed so the user has it before the
    // batch goes on.
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

SFileId Identity(const struct stat& st)
{
    return {true, static_cast<std::uint64_t>(st.st_dev), static_cast<std::uint64_t>(st.st_ino)};
}

}  // namespace

std::FILE* OpenSourceFile(const char* path, std::uint64_t* size, SFileId* id)
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
    *id = Identity(st);
    return ToStream(fd, "rb");
}

namespace {

// Process and thread ids and the clock, so threads and processes seldom
// meet on a name.
std::uint64_t TempSeed(unsigned attempt)
{
    const pthread_t self = pthread_self();
    std::uint64_t thread = 0;
    std::memcpy(&thread, &self, sizeof self < sizeof thread ? sizeof self : sizeof thread);
    timespec now = {0, 0};
    clock_gettime(CLOCK_REALTIME, &now);
    return (static_cast<std::uint64_t>(getpid()) << 32) ^ thread * 0x9E3779B97F4A7C15u ^
           static_cast<std::uint64_t>(now.tv_nsec) ^ (static_cast<std::uint64_t>(now.tv_sec) << 30) ^
           attempt * 0xD6E8FEB86659FD93u;
}

// A new file of our own beside path, or -1 where the folder refuses one.
// A name within 25 bytes of the file system's limit (255 bytes on most)
// leaves no room for the usual temporary name; the short one, in the same
// folder, always fits, so a long name never sends an ordinary file to be
// written in place.
int CreateTemp(const char* path, mode_t mode, SDestination* dst)
{
    const char* slash = std::strrchr(path, '/');
    const std::size_t folder = slash != nullptr ? static_cast<std::size_t>(slash + 1 - path) : 0;
    std::size_t keep = std::strlen(path);
    for (unsigned attempt = 0; attempt < 64; ++attempt) {
        TempPath(path, keep, TempSeed(attempt), dst->temp, sizeof dst->temp);
        const int fd = open(dst->temp, O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, mode);
        if (fd < 0 && errno == ENAMETOOLONG && keep != folder) {
            keep = folder;
            continue;
        }
        if (fd >= 0 || errno != EEXIST)
            return fd;
    }
    return -1;
}

// Whether the file open as fd is mounted over its name (Linux 5.8 and
// later say so), even bound from its own file system, where st_dev, the
// older kernels' sign, is the folder's.
bool MountedOverItsName(int fd)
{
#if defined(STATX_ATTR_MOUNT_ROOT)
    struct statx sx;
    return statx(fd, "", AT_EMPTY_PATH, 0, &sx) == 0 && (sx.stx_attributes & STATX_ATTR_MOUNT_ROOT) != 0;
#else
    (void)fd;
    return false;
#endif
}

// The replacement keeps what the old file's name meant besides its bytes: its
// permission bits, owner and group. Where the owner cannot be kept (another
// user's file we may write), or the old file is mounted over the name (which
// no rename replaces), it is written directly.
bool TakeOver(int fd, int oldFd, const struct stat& old)
{
    struct stat mine;
    if (fstat(fd, &mine) != 0 || mine.st_dev != old.st_dev || MountedOverItsName(oldFd))
        return false;
    if ((mine.st_uid != old.st_uid || mine.st_gid != old.st_gid) && fchown(fd, old.st_uid, old.st_gid) != 0)
        return false;
    return fchmod(fd, old.st_mode & 07777) == 0;
}

// Whether path can name a file beside which a temporary one can be made: the
// empty path and a folder's path (a trailing slash) cannot.
bool NamesAFile(const char* path)
{
    const std::size_t n = std::strlen(path);
    return n > 0 && path[n - 1] != '/';
}

}  // namespace

bool OpenDestination(const char* path, SDestination* dst)
{
    dst->f = nullptr;
    dst->id = {false, 0, 0};
    dst->temp[0] = '\0';
    // Opened first without truncating or following a symlink: what it is
    // decides how to write it, and a read-only file stays refused even though
    // its folder would let a rename replace it. A FIFO keeps this one
    // descriptor, so its reader never sees a writer come and go.
    int fd = open(path, O_WRONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC);
    struct stat old;
    if (fd >= 0 && fstat(fd, &old) != 0) {
        close(fd);
        return false;
    }
    if (fd >= 0)
        dst->id = Identity(old);
    const bool replace = fd >= 0 ? S_ISREG(old.st_mode) && old.st_nlink == 1 : errno == ENOENT && NamesAFile(path);
    if (replace) {
        // A new file gets what "wb" would give it: 0666 less the umask.
        const int temp = CreateTemp(path, fd >= 0 ? 0600 : 0666, dst);
        const int refused = temp < 0 ? errno : 0;
        if (temp >= 0 && (fd < 0 || TakeOver(temp, fd, old))) {
            if (fd >= 0)
                close(fd);
            dst->f = ToStream(temp, "wb");
            if (dst->f == nullptr) {
                unlink(dst->temp);
                dst->temp[0] = '\0';
            }
            return dst->f != nullptr;
        }
        if (temp >= 0) {
            close(temp);
            unlink(dst->temp);
        }
        dst->temp[0] = '\0';
        // Only a folder that refuses a new file sends an ordinary file to be
        // written in place. Any other failure to make one (no inode left on
        // the disk, no descriptor left) fails the job with the file as it
        // was, since a failed write would leave it cut short.
        if (temp < 0 && fd >= 0 && refused != EACCES && refused != EPERM && refused != EROFS) {
            close(fd);
            return false;
        }
    }
    if (fd < 0) {
        // Through a symlink, say; what it leads to may be the source.
        fd = open(path, O_WRONLY | O_CREAT | O_TRUNC | O_NONBLOCK | O_CLOEXEC, 0666);
        if (fd >= 0 && fstat(fd, &old) == 0)
            dst->id = Identity(old);
    } else if (S_ISREG(old.st_mode) && ftruncate(fd, 0) != 0) {
        close(fd);
        return false;
    }
    if (fd < 0)
        return false;
    dst->f = ToStream(fd, "wb");
    return dst->f != nullptr;
}

bool SyncToDisk(std::FILE* f)
{
    return fsync(fileno(f)) == 0;
}

bool ReplaceWithTemp(const char* temp, const char* path)
{
    // A plain rename, though exchanging the names and removing the old file
    // would cost less on ext4 and btrfs: those write the new file's data
    // inside a rename over an existing file, which keeps the old file or the
    // whole new one there after a crash, and folder watchers understand a
    // rename where an exchange shows them the destination moving away.
    return rename(temp, path) == 0;
}

void RemoveTemp(const char* temp)
{
    unlink(temp);
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

bool WithoutWriteSignals(bool (*write)(void* context), void* context)
{
    const int signals[] = {SIGPIPE, SIGXFSZ};
    sigset_t held, saved, before, after;
    sigemptyset(&held);
    for (const int s : signals)
        sigaddset(&held, s);
    // A signal pending before we start is the host's; only ours is discarded.
    if (sigpending(&before) != 0)
        sigfillset(&before);
    if (pthread_sigmask(SIG_BLOCK, &held, &saved) != 0)
        return write(context);
    const bool ok = write(context);
    if (sigpending(&after) == 0) {
        for (const int s : signals) {
            if (sigismember(&before, s) == 1 || sigismember(&after, s) != 1)
                continue;
            sigset_t one;
            sigemptyset(&one);
            sigaddset(&one, s);
            const timespec now = {0, 0};
            sigtimedwait(&one, nullptr, &now);
        }
    }
    pthread_sigmask(SIG_SETMASK, &saved, nullptr);
    return ok;
}
