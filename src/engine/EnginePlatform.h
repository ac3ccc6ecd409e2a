// What the engine asks of the operating system, in one place: loading the
// module and taking its messages, files and folders, threads, the console.
// EnginePlatformPosix.cpp or EnginePlatformWindows.cpp; nothing else in the
// engine is platform-specific.
#ifndef QUARNEL_ENGINE_PLATFORM_H
#define QUARNEL_ENGINE_PLATFORM_H

#include <cstdint>
#include <string>
#include <vector>

#include "Quarnel.h"

// The header's type, calling convention included (__cdecl on Windows).
using CreateBumpMapsFn = decltype(&CreateBumpMaps);

// The module at path, or with a null path the one beside the engine, else
// wherever the system's loader finds it, its messages routed to TakeMessage.
// Null after putting the reason in why.
CreateBumpMapsFn LoadQuarnel(const char* path, std::string& why);

// Takes a message the module shows on the calling thread; false when no job
// of the engine's runs there, and the message is shown as the module would.
// Defined by the engine's run (Run.cpp).
bool TakeMessage(const char* text);

struct SFileInfo {
    bool exists;
    bool folder;
    bool regular;  // a plain file, which reading cannot block on
    bool link;     // the name itself is a link (only when links are not followed)
    std::uint32_t links;  // names of the file (hard links)
    std::uint64_t size;
    std::int64_t time;  // last write, in nanoseconds
};
SFileInfo FileInfo(const char* path, bool followLinks);

// Which file a path names, links followed: equal for two names of one file.
struct SFileId {
    bool valid;
    std::uint64_t device;
    std::uint64_t index;
    bool operator<(const SFileId& o) const { return device != o.device ? device < o.device : index < o.index; }
};
SFileId FileIdentity(const char* path);

struct SFolderEntry {
    std::string name;
    bool folder;  // a folder, links followed
};
// The entries of a folder but . and .., in no particular order.
bool ListFolder(const char* path, std::vector<SFolderEntry>& entries);

// True when path is a folder afterwards, made now or there already.
bool MakeFolder(const char* path);
// Removes the name itself: a link, never what it leads to.
bool RemoveName(const char* path);
// Gives what is at from (a link itself, never what it leads to) the name to,
// in the same folder; false where to exists already.
bool MoveName(const char* from, const char* to);
int ProcessId();
bool IsPathSeparator(char c);
// The path as this platform compares names: folded to lower case and with
// one kind of separator where the file system ignores case (Windows).
std::string PathKey(const std::string& path);

// The first 18 bytes of a regular file; false for anything else (a FIFO
// would block) or a shorter file.
bool ReadHeader(const char* path, unsigned char (&header)[18]);
// The whole file at path; "-" is standard input.
bool ReadWholeFile(const char* path, std::string& text);

// Processors this process may run on (its affinity), at least 1.
int AvailableProcessors();
// Bytes of physical memory; 0 when unknown.
std::uint64_t PhysicalMemory();
double MonotonicSeconds();

// Runs body(context) on count threads, the caller's among them, and returns
// when every one has ended: the number that ran (fewer when no more could
// start). The threads it starts leave the host's signals to the host's own.
int RunThreads(int count, void (*body)(void*), void* context);

// A lock and one condition to wait on under it.
class Monitor {
public:
    Monitor();
    ~Monitor();
    Monitor(const Monitor&) = delete;
    Monitor& operator=(const Monitor&) = delete;
    void Lock();
    void Unlock();
    void Wait();  // with the lock held
    void WakeAll();

private:
    alignas(8) unsigned char storage_[128];
};

// Standard output (1) and error (2). Where one is closed, something opened
// later would take its number: it gets /dev/null instead, and is reported
// closed, so that its lines count as unwritten.
void ReserveConsole(bool& outOpen, bool& errOpen);
// One write of text; false when not all of it was written. A pipe whose
// reader has gone raises no signal.
bool WriteStandard(int stream, const std::string& text);
bool IsTerminal(int stream);
// Whether paths are UTF-8 here (always on POSIX; on Windows where the code
// page of the A functions is), so that a byte outside UTF-8 is no character.
bool PathsAreUtf8();

#endif
