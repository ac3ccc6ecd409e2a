// Fuzz target: one conversion job on whatever bytes the fuzzer makes.
//
// Input layout: the first 4 bytes are the job's texel size (little-endian IEEE
// single), the rest is the source file. An input under 4 bytes runs an empty
// source with texel size 1. Keeping the texel size in front means mutations
// that cut or grow the end of the input cut or grow the TGA, not the float.
//
// After each job the target checks what a host relies on and traps otherwise:
//   - a refused source: exactly the one message its header and size call for,
//     and the destination, made beforehand with known bytes, still holds them;
//   - an accepted source: no message, and a destination of 18 + ID + colour map
//     + 3 * width * height bytes that starts with the source's header, ID field
//     and colour map and holds the normals the independent reference computes;
//   - either way, no descriptor outlives the job and no temporary file stays.
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "TestSupport.h"
#include "reference/ReferenceConvert.h"

#if defined(__has_feature)
#if __has_feature(address_sanitizer)
#include <sanitizer/common_interface_defs.h>
#include <unistd.h>
#define QUARNEL_FUZZ_ASAN 1
#endif
#endif

namespace {

using namespace testsupport;

const Bytes kUntouched = {'u', 'n', 't', 'o', 'u', 'c', 'h', 'e', 'd'};

void Check(bool ok, const char* what)
{
    if (!ok) {
        std::fprintf(stderr, "quarnel fuzz: invariant broken: %s\n", what);
        std::fflush(stderr);
        __builtin_trap();
    }
}

// What the job must say about this source, worked out from the bytes alone;
// empty when it must convert.
std::string ExpectedMessage(const Bytes& s, const std::string& path)
{
    const std::string q = Quote(path);
    if (s.size() < 18)
        return q + " is truncated";
    const int pixsize = s[16], imgtype = s[2], desc = s[17];
    const int width = static_cast<std::int16_t>(static_cast<std::uint16_t>(s[12] | s[13] << 8));
    const int height = static_cast<std::int16_t>(static_cast<std::uint16_t>(s[14] | s[15] << 8));
    if (pixsize != 24)
        return q + " tgaHeader.pixsize!=24 (pixsize==" + std::to_string(pixsize) + ")";
    if (imgtype != 2)
        return q + " tgaHeader.imgtype!=2 (imgtype==" + std::to_string(imgtype) + ")";
    if (desc != 0)
        return q + " tgaHeader.desc!=0 (desc==" + std::to_string(desc) + ")";
    if (width < 1)
        return q + " tgaHeader.width<1 (width==" + std::to_string(width) + ")";
    if (height < 1)
        return q + " tgaHeader.height<1 (height==" + std::to_string(height) + ")";
    std::uint64_t need = 18u + s[0];
    if (s[1] == 1)
        need += static_cast<std::uint64_t>(s[5] | s[6] << 8) * ((s[7] + 7u) / 8u);
    need += 3u * static_cast<std::uint64_t>(width) * static_cast<std::uint64_t>(height);
    if (s.size() < need)
        return q + " is truncated";
    return "";
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    // One folder per process for the source and the destination, removed at exit.
    static const TempDir dir;
    static const std::string src = dir.Path("src.tga"), dst = dir.Path("dst.tga");
#if defined(QUARNEL_FUZZ_ASAN)
    // A sanitizer report from inside a job must reach the real stderr, not the capture.
    static const int reportFd = [] {
        const int fd = dup(2);
        __sanitizer_set_report_fd(reinterpret_cast<void*>(static_cast<std::intptr_t>(fd)));
        return fd;
    }();
    (void)reportFd;
#endif
    float texelsize = 1.0f;
    Bytes source;
    if (size >= 4) {
        std::memcpy(&texelsize, data, sizeof texelsize);  // the hosts this runs on are little-endian
        source.assign(data + 4, data + size);
    }
    WriteFile(src, source);
    WriteFile(dst, kUntouched);

    // Exactly the messages expected, and nothing left open or behind.
    const Strings messages = RunJobs({Job(src, dst, texelsize)});
    const std::string expected = ExpectedMessage(source, src);
    const Bytes out = ReadFile(dst);
    if (!expected.empty()) {
        Check(messages == Strings{expected}, "a refused source gets exactly the message for its first fault");
        Check(out == kUntouched, "a refused source leaves the destination untouched");
        return 0;
    }
    Check(messages.empty(), "an accepted source gets no message");
    const int width = source[12] | source[13] << 8;
    const int height = source[14] | source[15] << 8;
    std::size_t prefix = source[0];
    if (source[1] == 1)
        prefix += static_cast<std::size_t>(source[5] | source[6] << 8) * ((source[7] + 7u) / 8u);
    Check(out.size() == 18 + prefix + 3 * static_cast<std::size_t>(width) * static_cast<std::size_t>(height),
          "the destination has the size its header gives");
    Check(std::memcmp(out.data(), source.data(), 18 + prefix) == 0,
          "the destination starts with the source's header, ID field and colour map");
    Check(out == reference::ConvertFile(source, texelsize), "the normals match the reference");
    return 0;
}
