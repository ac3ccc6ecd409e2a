// Files, images and captured messages for the tests.
#ifndef QUARNEL_TESTS_SUPPORT_H
#define QUARNEL_TESTS_SUPPORT_H

#include <cstdint>
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

// A fresh directory under the system's temporary folder, removed with its files.
struct TempDir {
    TempDir();
    ~TempDir();
    TempDir(const TempDir&) = delete;
    TempDir& operator=(const TempDir&) = delete;
    std::string Path(const std::string& name) const { return dir + "/" + name; }
    std::string dir;
};

void WriteFile(const std::string& path, const Bytes& bytes);
Bytes ReadFile(const std::string& path);  // empty if missing
bool FileExists(const std::string& path);

struct STgaFields {
    int width = 1;
    int height = 1;
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

// A whole source: header, the given bytes between header and pixels, pixels.
Bytes TgaFile(const STgaFields& fields, const Bytes& prefix, const Bytes& pixels);

// width x height BGR pixels with distinct values per channel, from a seed.
Bytes RandomPixels(int width, int height, std::uint32_t seed);

// A valid random source of the given size.
Bytes RandomTga(int width, int height, std::uint32_t seed);

SCreateBumpMap Job(const std::string& src, const std::string& dst, float texelsize = 1.0f);

// Runs fn with standard error sent to a file and returns what it wrote.
std::string CaptureStderr(const std::function<void()>& fn);

// Each "!!! Error !!!: " line of captured output, without the caption.
std::vector<std::string> Messages(const std::string& captured);

// Runs the jobs through CreateBumpMaps and returns the messages they showed.
// Inline, so binaries that load the module instead need not link the library.
inline std::vector<std::string> RunJobs(std::vector<SCreateBumpMap> jobs)
{
    return Messages(CaptureStderr([&] { CreateBumpMaps(jobs.data(), static_cast<int>(jobs.size())); }));
}

int OpenDescriptorCount();

// A device node like /dev/<name> inside tmp where this user may make one
// (root), else /dev/<name> itself: a job that wrongly replaced a device
// destination would then replace the test's node, not the machine's.
std::string Device(const TempDir& tmp, const std::string& name);

// The names in a folder, sorted; a job must leave no temporary file behind.
std::vector<std::string> FolderNames(const std::string& dir);

// Runs fn in a forked child with standard error captured: its wait status
// (fn's return value is the exit code) and the messages it showed.
struct SChild {
    int status;
    std::vector<std::string> messages;
};
SChild RunInChild(const std::function<int()>& fn);

}  // namespace testsupport

#endif
