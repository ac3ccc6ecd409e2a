#include "HostPlatform.h"

#include <cerrno>
#include <cstdlib>
#include <cstring>

#include <dirent.h>
#include <dlfcn.h>
#include <fcntl.h>
#include <pthread.h>
#include <sched.h>
#include <sys/stat.h>
#include <time.h>
#include <unistd.h>

const char* const kModuleName = "libQuarnel.so";

CreateBumpMapsFn LoadCreateBumpMaps(const char* module)
{
    static const char* const exportName = "_Z14CreateBumpMapsP14SCreateBumpMapi";
    void* handle = dlopen(module, RTLD_NOW | RTLD_LOCAL);
    if (handle == nullptr) {
        std::fprintf(stderr, "quarnel-convert: cannot load %s: %s\n", module, dlerror());
        return nullptr;
    }
    auto fn = reinterpret_cast<CreateBumpMapsFn>(dlsym(handle, exportName));
    if (fn == nullptr)
        std::fprintf(stderr, "quarnel-convert: %s has no export %s\n", module, exportName);
    return fn;
}

// The module writes each message with one stdio call on unbuffered standard
// error: one write of at most 4015 bytes (3999 of text, the caption and the
// newline), which a pipe takes whole (PIPE_BUF is 4096). After its call a
// worker writes a fence line naming its job and goes on; the pipe keeps
// order, so once the reader meets the fence it has delivered every message
// of the call, and finishes the job.
struct SMessageRoute {
    SMessageSink sink;
    int savedErr = -1;
    int readEnd = -1;
    std::FILE* err = nullptr;
    pthread_t reader;
    pthread_mutex_t lock = PTHREAD_MUTEX_INITIALIZER;  // for running
    struct SRunning {
        int job;
        std::string src, dst;  // quoted, as messages name them
        int messages;
    };
    std::vector<SRunning> running;
};

namespace {

const char kFence[] = "\x1equarnel-fence ";
const char kCaption[] = "!!! Error !!!: ";

// The running job whose quoted path the line names, one that has no message
// yet first (two jobs may read one source).
int Owner(SMessageRoute* r, const std::string& line)
{
    SMessageRoute::SRunning* owner = nullptr;
    for (auto& job : r->running) {
        if (line.find(job.src) == std::string::npos && line.find(job.dst) == std::string::npos)
            continue;
        if (owner == nullptr || (owner->messages > 0 && job.messages == 0))
            owner = &job;
    }
    if (owner == nullptr)
        return -1;
    ++owner->messages;
    return owner->job;
}

void Deliver(SMessageRoute* r, const std::string& line)
{
    if (line.compare(0, sizeof kCaption - 1, kCaption) != 0) {
        r->sink.deliver(r->sink.context, -1, line.c_str(), false);
        return;
    }
    pthread_mutex_lock(&r->lock);
    const int job = Owner(r, line);
    pthread_mutex_unlock(&r->lock);
    r->sink.deliver(r->sink.context, job, line.c_str() + sizeof kCaption - 1, true);
}

// Every message of the job's call is in: it is no longer running.
void Finish(SMessageRoute* r, int job)
{
    pthread_mutex_lock(&r->lock);
    for (auto it = r->running.begin(); it != r->running.end(); ++it) {
        if (it->job == job) {
            r->running.erase(it);
            break;
        }
    }
    pthread_mutex_unlock(&r->lock);
    r->sink.finish(r->sink.context, job);
}

void* ReadMessages(void* arg)
{
    auto* r = static_cast<SMessageRoute*>(arg);
    std::string pending;
    char buffer[4096];
    for (;;) {
        const ssize_t n = read(r->readEnd, buffer, sizeof buffer);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            break;
        pending.append(buffer, static_cast<std::size_t>(n));
        std::size_t end;
        while ((end = pending.find('\n')) != std::string::npos) {
            std::string line = pending.substr(0, end);
            pending.erase(0, end + 1);
            // Text left without its newline by someone else may precede a fence.
            const std::size_t fence = line.find(kFence);
            if (fence == std::string::npos) {
                Deliver(r, line);
                continue;
            }
            if (fence > 0)
                Deliver(r, line.substr(0, fence));
            Finish(r, std::atoi(line.c_str() + fence + sizeof kFence - 1));
        }
    }
    if (!pending.empty())
        Deliver(r, pending);
    return nullptr;
}

}  // namespace

SMessageRoute* BeginMessageRoute(const SMessageSink& sink)
{
    auto* r = new SMessageRoute;
    r->sink = sink;
    r->err = stderr;
    // Without a pipe or its reader, messages reach standard error as they are.
    int ends[2];
    std::fflush(stderr);
    const int saved = fcntl(STDERR_FILENO, F_DUPFD_CLOEXEC, 3);
    std::FILE* err = saved >= 0 ? fdopen(saved, "w") : nullptr;
    if (err == nullptr || pipe(ends) != 0) {
        if (err != nullptr)
            std::fclose(err);
        else if (saved >= 0)
            close(saved);
        return r;
    }
    fcntl(ends[0], F_SETFD, FD_CLOEXEC);
    r->readEnd = ends[0];
    if (pthread_create(&r->reader, nullptr, ReadMessages, r) != 0) {
        close(ends[0]);
        close(ends[1]);
        std::fclose(err);
        r->readEnd = -1;
        return r;
    }
    r->savedErr = saved;
    r->err = err;
    dup2(ends[1], STDERR_FILENO);
    close(ends[1]);
    return r;
}

std::FILE* RouteErrorStream(SMessageRoute* route)
{
    return route->err;
}

void EnterJob(SMessageRoute* r, int job, const char* src, const char* dst)
{
    pthread_mutex_lock(&r->lock);
    r->running.push_back({job, "'" + std::string(src) + "'", "'" + std::string(dst) + "'", 0});
    pthread_mutex_unlock(&r->lock);
}

void LeaveJob(SMessageRoute* r, int job)
{
    if (r->readEnd >= 0) {
        char fence[64];
        const int n = std::snprintf(fence, sizeof fence, "%s%d\n", kFence, job);
        ssize_t written;
        while ((written = write(STDERR_FILENO, fence, static_cast<std::size_t>(n))) < 0 && errno == EINTR) {
        }
        if (written == n)
            return;
    }
    Finish(r, job);
}

void EndMessageRoute(SMessageRoute* r)
{
    if (r->readEnd >= 0) {
        // The pipe's last write end closes, so the reader ends.
        std::fflush(stderr);
        dup2(r->savedErr, STDERR_FILENO);
        pthread_join(r->reader, nullptr);
        close(r->readEnd);
        std::fclose(r->err);
    }
    delete r;
}

FileStamp ReadFileStamp(const char* path)
{
    struct stat st;
    if (stat(path, &st) != 0)
        return {false, false, false, 0, 0};
    return {true, S_ISREG(st.st_mode), S_ISDIR(st.st_mode),
            static_cast<std::int64_t>(st.st_mtim.tv_sec) * 1000000000 + st.st_mtim.tv_nsec,
            static_cast<std::uint64_t>(st.st_size)};
}

std::int64_t Now()
{
    struct timespec now;
    clock_gettime(CLOCK_REALTIME, &now);
    return static_cast<std::int64_t>(now.tv_sec) * 1000000000 + now.tv_nsec;
}

void SleepNanoseconds(std::int64_t ns)
{
    struct timespec wait = {static_cast<time_t>(ns / 1000000000), static_cast<long>(ns % 1000000000)};
    while (nanosleep(&wait, &wait) != 0 && errno == EINTR) {
    }
}

SFileId FileIdentity(const char* path)
{
    struct stat st;
    if (stat(path, &st) != 0)
        return {false, 0, 0};
    return {true, static_cast<std::uint64_t>(st.st_dev), static_cast<std::uint64_t>(st.st_ino)};
}

bool MakeDirectory(const char* path)
{
    struct stat st;
    return mkdir(path, 0777) == 0 || (stat(path, &st) == 0 && S_ISDIR(st.st_mode));
}

bool IsPathSeparator(char c)
{
    return c == '/';
}

std::string PathKey(const std::string& path)
{
    return path;
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
        // A link to a folder is a folder; a dangling one is a file the module will refuse.
        bool folder = e->d_type == DT_DIR;
        if (e->d_type == DT_LNK || e->d_type == DT_UNKNOWN) {
            struct stat st;
            folder = fstatat(dirfd(d), e->d_name, &st, 0) == 0 && S_ISDIR(st.st_mode);
        }
        entries.push_back({e->d_name, folder});
        errno = 0;
    }
    const bool ok = errno == 0;
    closedir(d);
    return ok;
}

int AvailableProcessors()
{
    cpu_set_t set;
    if (sched_getaffinity(0, sizeof set, &set) == 0 && CPU_COUNT(&set) > 0)
        return CPU_COUNT(&set);
    const long online = sysconf(_SC_NPROCESSORS_ONLN);
    return online > 0 ? static_cast<int>(online) : 1;
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
    SThreadStart start = {body, context};
    std::vector<pthread_t> threads;
    for (int i = 1; i < count; ++i) {
        pthread_t t;
        if (pthread_create(&t, nullptr, ThreadMain, &start) != 0)
            break;
        threads.push_back(t);
    }
    body(context);
    for (pthread_t t : threads)
        pthread_join(t, nullptr);
    return static_cast<int>(threads.size()) + 1;
}

static_assert(sizeof(pthread_mutex_t) <= 64, "HostMutex storage");

HostMutex::HostMutex()
{
    pthread_mutex_init(reinterpret_cast<pthread_mutex_t*>(storage_), nullptr);
}

HostMutex::~HostMutex()
{
    pthread_mutex_destroy(reinterpret_cast<pthread_mutex_t*>(storage_));
}

void HostMutex::Lock()
{
    pthread_mutex_lock(reinterpret_cast<pthread_mutex_t*>(storage_));
}

void HostMutex::Unlock()
{
    pthread_mutex_unlock(reinterpret_cast<pthread_mutex_t*>(storage_));
}

bool IsTerminal(std::FILE* stream)
{
    return isatty(fileno(stream)) == 1;
}
