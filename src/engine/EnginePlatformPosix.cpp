#include "EnginePlatform.h"

#include <cerrno>
#include <cstdio>
#include <cstring>

#include <dirent.h>
#include <dlfcn.h>
#include <fcntl.h>
#include <pthread.h>
#include <sched.h>
#include <signal.h>
#include <sys/stat.h>
#include <time.h>
#include <unistd.h>

#include "QuarnelBatch.h"

// The module calls the MessageBoxA the process defines, as Windows has it, on
// the thread whose job failed.
extern "C" QUARNEL_BATCH_API int MessageBoxA(void* owner, const char* text, const char* caption, unsigned type);

extern "C" int MessageBoxA(void*, const char* text, const char* caption, unsigned)
{
    if (TakeMessage(text != nullptr ? text : ""))
        return 1;  // IDOK
    // No job of ours on this thread: as the module shows it by itself.
    std::fprintf(stderr, "%s: %s\n", caption != nullptr ? caption : "", text != nullptr ? text : "");
    std::fflush(stderr);
    return 1;
}

namespace {

const char kModuleName[] = "libQuarnel.so";
const char kExportName[] = "_Z14CreateBumpMapsP14SCreateBumpMapi";

std::string EnginePath()
{
    Dl_info info;
    if (dladdr(reinterpret_cast<void*>(&LoadQuarnel), &info) == 0 || info.dli_fname == nullptr)
        return "";
    return info.dli_fname;
}

}  // namespace

CreateBumpMapsFn LoadQuarnel(const char* path, std::string& why)
{
    // The module looks MessageBoxA up in the process's global scope: the
    // engine is put there, however its host loaded it, and its definition
    // must be the one found, or a failed job would pass for a converted one.
    const std::string self = EnginePath();
    void* engine = self.empty() ? nullptr : dlopen(self.c_str(), RTLD_NOW | RTLD_NOLOAD | RTLD_GLOBAL);
    void* ours = engine != nullptr ? dlsym(engine, "MessageBoxA") : nullptr;
    if (ours == nullptr || dlsym(RTLD_DEFAULT, "MessageBoxA") != ours) {
        why = "another MessageBoxA in this process would take the module's messages";
        return nullptr;
    }
    std::string module = path != nullptr ? path : kModuleName;
    if (path == nullptr) {
        const std::string beside = self.substr(0, self.rfind('/') + 1) + kModuleName;
        if (access(beside.c_str(), F_OK) == 0)
            module = beside;
    }
    void* handle = dlopen(module.c_str(), RTLD_NOW | RTLD_LOCAL);
    if (handle == nullptr) {
        const char* error = dlerror();
        why = std::string("cannot load the module: ") + (error != nullptr ? error : module.c_str());
        return nullptr;
    }
    auto create = reinterpret_cast<CreateBumpMapsFn>(dlsym(handle, kExportName));
    if (create == nullptr)
        why = module + " has no export " + kExportName;
    return create;
}

SFileInfo FileInfo(const char* path, bool followLinks)
{
    struct stat st;
    if ((followLinks ? stat(path, &st) : lstat(path, &st)) != 0)
        return {false, false, false, false, 0, 0, 0};
    return {true,
            S_ISDIR(st.st_mode),
            S_ISREG(st.st_mode),
            S_ISLNK(st.st_mode),
            static_cast<std::uint32_t>(st.st_nlink),
            static_cast<std::uint64_t>(st.st_size),
            static_cast<std::int64_t>(st.st_mtim.tv_sec) * 1000000000 + st.st_mtim.tv_nsec};
}

SFileId FileIdentity(const char* path)
{
    struct stat st;
    if (stat(path, &st) != 0)
        return {false, 0, 0};
    return {true, static_cast<std::uint64_t>(st.st_dev), static_cast<std::uint64_t>(st.st_ino)};
}

bool ListFolder(const char* path, std::vector<SFolderEntry>& entries)
{
    DIR* d = opendir(path);
    if (d == nullptr)
        return false;
    errno = 0;
    while (const dirent* e = readdir(d)) {
        if (std::strcmp(e->d_name, ".") == 0 || std::strcmp(e->d_name, "..") == 0)
            continue;
        // A link to a folder is a folder; a dangling one is a file the module
        // will refuse. One that cannot be looked at (a folder that may be
        // read but not searched) is taken for a folder, which the walk then
        // names as one it cannot read.
        bool folder = e->d_type == DT_DIR;
        if (e->d_type == DT_LNK || e->d_type == DT_UNKNOWN) {
            struct stat st;
            const bool seen = fstatat(dirfd(d), e->d_name, &st, 0) == 0;
            folder = seen ? S_ISDIR(st.st_mode) : errno != ENOENT && errno != ELOOP;
        }
        entries.push_back({e->d_name, folder});
        errno = 0;
    }
    const bool ok = errno == 0;
    closedir(d);
    return ok;
}

bool MakeFolder(const char* path)
{
    struct stat st;
    return mkdir(path, 0777) == 0 || (stat(path, &st) == 0 && S_ISDIR(st.st_mode));
}

bool RemoveName(const char* path)
{
    return unlink(path) == 0;
}

bool MoveName(const char* from, const char* to)
{
#ifdef RENAME_NOREPLACE
    if (renameat2(AT_FDCWD, from, AT_FDCWD, to, RENAME_NOREPLACE) == 0)
        return true;
    if (errno != EINVAL && errno != ENOSYS)
        return false;
#endif
    // Where the file system cannot refuse to replace: the name is this
    // process's and job's own, so only a leftover of a killed run is there.
    struct stat st;
    return lstat(to, &st) != 0 && errno == ENOENT && rename(from, to) == 0;
}

int ProcessId()
{
    return static_cast<int>(getpid());
}

bool IsPathSeparator(char c)
{
    return c == '/';
}

std::string PathKey(const std::string& path)
{
    return path;
}

bool ReadHeader(const char* path, unsigned char (&header)[18])
{
    const int fd = open(path, O_RDONLY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0)
        return false;
    struct stat st;
    std::size_t got = 0;
    const bool regular = fstat(fd, &st) == 0 && S_ISREG(st.st_mode);
    while (regular && got < sizeof header) {
        const ssize_t n = read(fd, header + got, sizeof header - got);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            break;
        got += static_cast<std::size_t>(n);
    }
    close(fd);
    return got == sizeof header;
}

bool ReadWholeFile(const char* path, std::string& text)
{
    const bool standardInput = std::strcmp(path, "-") == 0;
    const int fd = standardInput ? STDIN_FILENO : open(path, O_RDONLY | O_CLOEXEC);
    if (fd < 0)
        return false;
    char buffer[65536];
    ssize_t n;
    while ((n = read(fd, buffer, sizeof buffer)) != 0) {
        if (n < 0 && errno == EINTR)
            continue;
        if (n < 0)
            break;
        text.append(buffer, static_cast<std::size_t>(n));
    }
    if (!standardInput)
        close(fd);
    return n == 0;
}

int AvailableProcessors()
{
    cpu_set_t set;
    if (sched_getaffinity(0, sizeof set, &set) == 0 && CPU_COUNT(&set) > 0)
        return CPU_COUNT(&set);
    const long online = sysconf(_SC_NPROCESSORS_ONLN);
    return online > 0 ? static_cast<int>(online) : 1;
}

std::uint64_t PhysicalMemory()
{
    const long pages = sysconf(_SC_PHYS_PAGES), size = sysconf(_SC_PAGESIZE);
    return pages > 0 && size > 0 ? static_cast<std::uint64_t>(pages) * static_cast<std::uint64_t>(size) : 0;
}

double MonotonicSeconds()
{
    timespec now;
    clock_gettime(CLOCK_MONOTONIC, &now);
    return static_cast<double>(now.tv_sec) + static_cast<double>(now.tv_nsec) * 1e-9;
}

namespace {

struct SThreadStart {
    void (*body)(void*);
    void* context;
};

void* ThreadMain(void* arg)
{
    auto* start = static_cast<SThreadStart*>(arg);
    start->body(start->context);
    return nullptr;
}

}  // namespace

int RunThreads(int count, void (*body)(void*), void* context)
{
    // Threads inherit the mask they are started with: all but the signals a
    // fault raises on the thread itself, so the host's handlers run on its own.
    sigset_t all, saved;
    sigfillset(&all);
    for (const int s : {SIGSEGV, SIGBUS, SIGFPE, SIGILL, SIGTRAP, SIGSYS, SIGABRT})
        sigdelset(&all, s);
    const bool masked = pthread_sigmask(SIG_BLOCK, &all, &saved) == 0;
    SThreadStart start = {body, context};
    std::vector<pthread_t> threads;
    for (int i = 1; i < count; ++i) {
        pthread_t t;
        if (pthread_create(&t, nullptr, ThreadMain, &start) != 0)
            break;
        threads.push_back(t);
    }
    if (masked)
        pthread_sigmask(SIG_SETMASK, &saved, nullptr);
    body(context);
    for (pthread_t t : threads)
        pthread_join(t, nullptr);
    return static_cast<int>(threads.size()) + 1;
}

namespace {

struct SMonitor {
    pthread_mutex_t mutex;
    pthread_cond_t condition;
};
static_assert(sizeof(SMonitor) <= 128, "Monitor storage");

SMonitor& Of(unsigned char* storage)
{
    return *reinterpret_cast<SMonitor*>(storage);
}

}  // namespace

Monitor::Monitor()
{
    pthread_mutex_init(&Of(storage_).mutex, nullptr);
    pthread_cond_init(&Of(storage_).condition, nullptr);
}

Monitor::~Monitor()
{
    pthread_cond_destroy(&Of(storage_).condition);
    pthread_mutex_destroy(&Of(storage_).mutex);
}

void Monitor::Lock()
{
    pthread_mutex_lock(&Of(storage_).mutex);
}

void Monitor::Unlock()
{
    pthread_mutex_unlock(&Of(storage_).mutex);
}

void Monitor::Wait()
{
    pthread_cond_wait(&Of(storage_).condition, &Of(storage_).mutex);
}

void Monitor::WakeAll()
{
    pthread_cond_broadcast(&Of(storage_).condition);
}

void ReserveConsole(bool& outOpen, bool& errOpen)
{
    for (const int fd : {STDOUT_FILENO, STDERR_FILENO}) {
        const bool open = fcntl(fd, F_GETFD) != -1 || errno != EBADF;
        (fd == STDOUT_FILENO ? outOpen : errOpen) = open;
        if (open)
            continue;
        const int null = ::open("/dev/null", O_RDWR);
        if (null >= 0 && null != fd) {
            dup2(null, fd);
            close(null);
        }
    }
}

bool WriteStandard(int stream, const std::string& text)
{
    // SIGPIPE held back for this thread: a reader that has gone ends only
    // the line. One raised here is taken away; one pending before is left.
    sigset_t pipe, saved, pending;
    sigemptyset(&pipe);
    sigaddset(&pipe, SIGPIPE);
    const bool before = sigpending(&pending) == 0 && sigismember(&pending, SIGPIPE) == 1;
    const bool masked = pthread_sigmask(SIG_BLOCK, &pipe, &saved) == 0;
    std::size_t done = 0;
    bool broken = false;
    while (done < text.size()) {
        const ssize_t n = write(stream, text.data() + done, text.size() - done);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0) {
            broken = n < 0 && errno == EPIPE;
            break;
        }
        done += static_cast<std::size_t>(n);
    }
    if (broken && masked && !before) {
        const timespec now = {0, 0};
        sigtimedwait(&pipe, nullptr, &now);
    }
    if (masked)
        pthread_sigmask(SIG_SETMASK, &saved, nullptr);
    return done == text.size();
}

bool IsTerminal(int stream)
{
    return isatty(stream) == 1;
}

bool PathsAreUtf8()
{
    return true;
}
