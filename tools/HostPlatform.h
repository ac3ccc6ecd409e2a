// What the example host asks of the operating system, in one place: loading
// the module, and the times and sizes that tell whether a file was written.
#ifndef QUARNEL_HOST_PLATFORM_H
#define QUARNEL_HOST_PLATFORM_H

#include <cstdint>

#include "Quarnel.h"

// The header's type, calling convention included (__cdecl on Windows).
using CreateBumpMapsFn = decltype(&CreateBumpMaps);

// The module's file name on this platform.
extern const char* const kModuleName;

// Returns the export or null after saying why. The module stays loaded until exit.
CreateBumpMapsFn LoadCreateBumpMaps(const char* module);

struct FileStamp {
    bool exists;
    bool regular;  // a plain file, which reading cannot block on
    std::int64_t time;  // last write, in nanoseconds on the clock Now() reads
    std::uint64_t size;
};
FileStamp ReadFileStamp(const char* path);
std::int64_t Now();
void SleepNanoseconds(std::int64_t ns);

// True when path is a folder afterwards, made now or already there.
bool MakeDirectory(const char* path);
bool IsPathSeparator(char c);

#endif
