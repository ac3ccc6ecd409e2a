// What every test program shares (the Linux suites, the Windows hosts, the
// fuzz target): TGA sources built field by field, random images, job records,
// the tables of sources every host must refuse or convert, files, and the
// messages a call shows. Portable parts in TestSupport.cpp; files, descriptors
// and message capture in TestSupportPosix.cpp or TestSupportWindows.cpp.
#ifndef QUARNEL_TESTS_SUPPORT_H
#define QUARNEL_TESTS_SUPPORT_H

#include <cstdint>
#include <cstdio>
#include <functional>
#include <string>
#include <vector>

#include "Quarnel.h"

// QUARNEL_ASAN: built with AddressSanitizer, which reserves more address space
// than a lowered limit allows and keeps its own heap figures.
#if defined(__SANITIZE_ADDRESS__)
#define QUARNEL_ASAN 1
#elif defined(__has_feature)
#if __has_feature(address_sanitizer)
#define QUARNEL_ASAN 1
#endif
#endif

namespace testsupport {

using Bytes = std::vector<std::uint8_t>;
using Strings = std::vector<std::string>;

struct STgaFields {
    int width = 6;
    int height = 5;
    std::uint8_t idlen = 0;
    std::uint8_t cmaptype = 0;
    std::uint8_t imgtype = 2;
    std::uint16_t cmapfirst = 0;
    std::uint16_t cmaplen = 0;
    std::uint8_t cmapbits = 0;
    std::uint16_t xorigin = 0;
    std::uint16_t yorigin = 0;
    std::uint8_t pixsize = 24;
    std::uint8_t desc = 0;
};

// 18 header bytes; width and height are stored as 16-bit values.
Bytes TgaHeader(const STgaFields& fields);

// A whole source: header, the bytes between header and pixels, pixels.
Bytes TgaFile(const STgaFields& fields, const Bytes& prefix, const Bytes& pixels);

// width x height BGR pixels from a seed, the same on every system.
Bytes RandomPixels(int width, int height, std::uint32_t seed);

// A valid source of the given size over random pixels.
Bytes RandomTga(int width, int height, std::uint32_t seed);

// The bytes a TGA 2.0 footer adds after the pixels.
Bytes WithFooter(Bytes file);

SCreateBumpMap Job(const std::string& src, const std::string& dst, float texelsize = 1.0f);

std::string Quote(const std::string& path);

// A source every host must refuse, and what its message says after the
// quoted source path.
struct SRefused {
    std::string name;
    Bytes file;
    std::string message;
};
std::vector<SRefused> RefusedSources();

// A source every host must convert, at a texel size, into what the
// reference computes.
struct SAccepted {
    std::string name;
    Bytes file;
    float texelsize;
};
std::vector<SAccepted> AcceptedSources();

// A fresh folder under the system's temporary folder, removed with what it holds.
struct TempDir {
    TempDir();
    ~TempDir();
    TempDir(const TempDir&) = delete;
    TempDir& operator=(const TempDir&) = delete;
    std::string Path(const std::string& name) const;
    std::string dir;
};

// Paths of any length the system takes (on Windows past MAX_PATH too).
std::FILE* OpenFile(const std::string& path, const char* mode);
void WriteFile(const std::string& path, const Bytes& bytes);  // throws if it cannot
Bytes ReadFile(const std::string& path);                       // empty if missing
bool FileExists(const std::string& path);
bool MakeFolder(const std::string& path);
std::vector<std::string> FolderNames(const std::string& dir);  // sorted

// The accepted sources written into tmp as <i>.tga, a job each to <i>-out.tga.
std::vector<SCreateBumpMap> AcceptedJobs(const TempDir& tmp, const std::vector<SAccepted>& accepted);

// Two records back to back, the first's srcpath and the second's dstpath
// filling their fields: an unterminated field would run into the next one.
std::vector<SCreateBumpMap> UnterminatedJobs(const std::string& src, const std::string& dst);
// What a call on those two records shows.
Strings UnterminatedMessages();

// The process's open descriptors (on Windows, handles).
int OpenDescriptorCount();

using CreateBumpMapsFn = decltype(&CreateBumpMaps);

// The messages shown while call runs, in order. One not shown as the library
// shows it (without its caption or its line's end; on Windows with an owner
// window or another style) is marked so that it matches no expected text.
// On Windows, InstallMessageRecorder first.
Strings ShownMessages(const std::function<void()>& call);

// Runs create on the jobs and returns the messages the call showed, and
// after them one line for what it should not have left: descriptors still
// open, a temporary file beside any destination.
Strings RunJobs(std::vector<SCreateBumpMap> jobs, CreateBumpMapsFn create = CreateBumpMaps);
// The second of those checks alone: a line for each temporary file in a
// destination's folder.
Strings TempFilesLeft(const std::vector<SCreateBumpMap>& jobs);

// Runs each refused source through create into an existing destination, a
// missing one and itself, and returns what went wrong: a message other than
// its one, a destination or the source changed. Empty when all is well.
Strings RefusedSourceFaults(CreateBumpMapsFn create);

#if defined(_WIN32)
// Points the module's MessageBoxA import at the recorder ShownMessages reads,
// so no box waits for a user. Returns what the import held; null if the
// module does not import MessageBoxA from USER32.
void* InstallMessageRecorder(void* module);
// Runs while each message is shown, for a test that looks at the process then.
void WhileMessageShows(std::function<void()> fn);
#else
// A device node like /dev/<name> inside tmp where this user may make one
// (root), else /dev/<name> itself: a job that wrongly replaced a device
// destination would then replace the test's node, not the machine's.
std::string Device(const TempDir& tmp, const std::string& name);

// Runs fn in a forked child, its messages captured: its wait status (fn's
// return value is the exit code) and the messages it showed.
struct SChild {
    int status;
    Strings messages;
};
SChild RunInChild(const std::function<int()>& fn);
#endif

}  // namespace testsupport

#endif
