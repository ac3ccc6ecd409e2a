// What the example host asks of the operating system, in one place: loading
// the module and taking its messages, the times, sizes and identities that
// tell whether a file was written, folders, threads, a lock and the console.
#ifndef QUARNEL_HOST_PLATFORM_H
#define QUARNEL_HOST_PLATFORM_H

#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

#include "Quarnel.h"

// The header's type, calling convention included (__cdecl on Windows).
using CreateBumpMapsFn = decltype(&CreateBumpMaps);

// The module's file name on this platform.
extern const char* const kModuleName;

// Returns the export or null after saying why. The module stays loaded until
// exit. On Windows its MessageBoxA import is pointed at the host's own
// handler first, so no message of it ever waits for a click (see below).
CreateBumpMapsFn LoadCreateBumpMaps(const char* module);

// The module's messages while a batch runs go to deliver instead of the
// user. job is the job the message belongs to, or -1 when none can be told;
// message is false for other text that reached standard error, which is
// passed on as it is. finish(job) follows once every message of the job's
// call has been delivered.
//   Windows: the MessageBoxA handler, on the thread whose job it is; finish
//   from LeaveJob.
//   Elsewhere: standard error becomes a pipe that a thread reads; a line
//   "!!! Error !!!: <text>" belongs to the running job whose path it quotes,
//   and finish comes from that thread when it meets the job's fence, so a
//   worker never waits for it.
struct SMessageSink {
    void (*deliver)(void* context, int job, const char* text, bool message);
    void (*finish)(void* context, int job);
    void* context;
};
struct SMessageRoute;
SMessageRoute* BeginMessageRoute(const SMessageSink& sink);
// Where the host's own error lines go while the route is up.
std::FILE* RouteErrorStream(SMessageRoute* route);
// Around each call on a worker.
void EnterJob(SMessageRoute* route, int job, const char* src, const char* dst);
void LeaveJob(SMessageRoute* route, int job);
// Returns once every job has been finished.
void EndMessageRoute(SMessageRoute* route);

struct FileStamp {
    bool exists;
    bool regular;  // a plain file, which reading cannot block on
    bool folder;
    std::int64_t time;  // last write, in nanoseconds on the clock Now() reads
    std::uint64_t size;
};
FileStamp ReadFileStamp(const char* path);
std::int64_t Now();
void SleepNanoseconds(std::int64_t ns);

// Which file a path names, links followed: equal for two names of one file.
struct SFileId {
    bool valid;
    std::uint64_t device;
    std::uint64_t index;
    bool operator<(const SFileId& o) const { return device != o.device ? device < o.device : index < o.index; }
    bool operator==(const SFileId& o) const { return valid && o.valid && device == o.device && index == o.index; }
};
SFileId FileIdentity(const char* path);

// True when path is a folder afterwards, made now or already there.
bool MakeDirectory(const char* path);
bool IsPathSeparator(char c);
// The path as this platform compares names: folded to lower case and with
// one kind of separator where the file system ignores case (Windows).
std::string PathKey(const std::string& path);

struct SFolderEntry {
    std::string name;
    bool folder;  // a folder, links followed
};
// The entries of a folder but . and .., in no particular order.
bool ListFolder(const char* path, std::vector<SFolderEntry>& entries);

// Processors this process may run on (its affinity), at least 1.
int AvailableProcessors();

// Runs body(context) on count threads, the caller's among them, and returns
// when every one has ended: the number that ran (fewer when no more could start).
int RunThreads(int count, void (*body)(void*), void* context);

class HostMutex {
public:
    HostMutex();
    ~HostMutex();
    HostMutex(const HostMutex&) = delete;
    HostMutex& operator=(const HostMutex&) = delete;
    void Lock();
    void Unlock();

private:
    alignas(8) unsigned char storage_[64];
};

bool IsTerminal(std::FILE* stream);

#endif
