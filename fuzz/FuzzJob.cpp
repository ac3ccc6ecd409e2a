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
//   - either way, no descriptor outlives the job.
#include <dirent.h>
#include <fcntl.h>
#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "Quarnel.h"
#include "reference/ReferenceConvert.h"

#if defined(__has_feature)
#if __has_feature(address_sanitizer)
#include <sanitizer/common_interface_defs.h>
#define QUARNEL_FUZZ_ASAN 1
#endif
#endif

namespace {

using Bytes = std::vector<std::uint8_t>;

const Bytes kUntouched = {'u', 'n', 't', 'o', 'u', 'c', 'h', 'e', 'd'};

// Per process: a temp folder with the source, the destination and the file
// standard error goes to during a job. Made on the first input, reused after.
struct SWorkspace {
    std::string dir, src, dst, err;
    int realStderr = -1;
};

void RemoveWorkspace();

SWorkspace& Workspace()
{
    static SWorkspace w = [] {
        SWorkspace s;
        const char* base = std::getenv("TMPDIR");
        std::string pattern = std::string(base != nullptr ? base : "/tmp") + "/quarnel-fuzz-XXXXXX";
        std::vector<char> buf(pattern.begin(), pattern.end());
        buf.push_back('\0');
        if (mkdtemp(buf.data()) == nullptr)
            __builtin_trap();
        s.dir = buf.data();
        s.src = s.dir + "/src.tga";
        s.dst = s.dir + "/dst.tga";
        s.err = s.dir + "/stderr";
        s.realStderr = dup(STDERR_FILENO);
#if defined(QUARNEL_FUZZ_ASAN)
        // A sanitizer report from inside a job must reach the real stderr, not the capture file.
        static int reportFd = s.realStderr;
        __sanitizer_set_report_fd(reinterpret_cast<void*>(static_cast<std::intptr_t>(reportFd)));
#endif
        std::atexit(RemoveWorkspace);
        return s;
    }();
    return w;
}

void RemoveWorkspace()
{
    const SWorkspace& w = Workspace();
    std::remove(w.src.c_str());
    std::remove(w.dst.c_str());
    std::remove(w.err.c_str());
    rmdir(w.dir.c_str());
}

void Check(bool ok, const char* what)
{
    if (!ok) {
        std::fprintf(stderr, "quarnel fuzz: invariant broken: %s\n", what);
        std::fflush(stderr);
        __builtin_trap();
    }
}

void WriteBytes(const std::string& path, const std::uint8_t* data, std::size_t size)
{
    std::FILE* f = std::fopen(path.c_str(), "wb");
    Check(f != nullptr, "workspace file can be created");
    const bool ok = size == 0 || std::fwrite(data, 1, size, f) == size;
    Check(std::fclose(f) == 0 && ok, "workspace file can be written");
}

Bytes ReadBytes(const std::string& path)
{
    Bytes bytes;
    std::FILE* f = std::fopen(path.c_str(), "rb");
    if (f == nullptr)
        return bytes;
    std::uint8_t buf[65536];
    std::size_t got;
    while ((got = std::fread(buf, 1, sizeof buf, f)) > 0)
        bytes.insert(bytes.end(), buf, buf + got);
    std::fclose(f);
    return bytes;
}

int OpenDescriptors()
{
    int count = 0;
    if (DIR* d = opendir("/proc/self/fd")) {
        while (dirent* e = readdir(d))
            count += e->d_name[0] != '.';
        closedir(d);
    }
    return count;
}

// What the job must say about this source, worked out from the bytes alone;
// empty when it must convert.
std::string ExpectedMessage(const Bytes& s, const std::string& path)
{
    const std::string q = "'" + path + "'";
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

std::vector<std::string> Messages(const Bytes& captured)
{
    static const std::string caption = "!!! Error !!!: ";
    std::vector<std::string> messages;
    std::string text(captured.begin(), captured.end());
    std::size_t pos = 0;
    while (pos < text.size()) {
        std::size_t end = text.find('\n', pos);
        Check(end != std::string::npos, "every message ends its line");
        const std::string line = text.substr(pos, end - pos);
        Check(line.compare(0, caption.size(), caption) == 0, "only captioned lines on stderr");
        messages.push_back(line.substr(caption.size()));
        pos = end + 1;
    }
    return messages;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    const SWorkspace& w = Workspace();
    float texelsize = 1.0f;
    const std::uint8_t* source = data;
    std::size_t sourceSize = 0;
    if (size >= 4) {
        std::memcpy(&texelsize, data, sizeof texelsize);  // the hosts this runs on are little-endian
        source = data + 4;
        sourceSize = size - 4;
    }
    const Bytes sourceBytes(source, source + sourceSize);
    WriteBytes(w.src, source, sourceSize);
    WriteBytes(w.dst, kUntouched.data(), kUntouched.size());

    SCreateBumpMap job;
    std::memset(&job, 0, sizeof job);
    std::snprintf(job.srcpath, sizeof job.srcpath, "%s", w.src.c_str());
    std::snprintf(job.dstpath, sizeof job.dstpath, "%s", w.dst.c_str());
    job.texelsize = texelsize;

    const int descriptorsBefore = OpenDescriptors();
    std::fflush(stderr);
    const int capture = open(w.err.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0600);
    Check(capture >= 0 && dup2(capture, STDERR_FILENO) == STDERR_FILENO, "stderr can be captured");
    close(capture);
    CreateBumpMaps(&job, 1);
    std::fflush(stderr);
    Check(dup2(w.realStderr, STDERR_FILENO) == STDERR_FILENO, "stderr can be restored");
    Check(OpenDescriptors() == descriptorsBefore, "no descriptor outlives the job");

    const std::vector<std::string> messages = Messages(ReadBytes(w.err));
    const std::string expected = ExpectedMessage(sourceBytes, w.src);
    const Bytes out = ReadBytes(w.dst);
    if (!expected.empty()) {
        Check(messages.size() == 1, "a refused source gets exactly one message");
        Check(messages[0] == expected, "a refused source gets the message for its first fault");
        Check(out == kUntouched, "a refused source leaves the destination untouched");
        return 0;
    }
    Check(messages.empty(), "an accepted source gets no message");
    const int width = sourceBytes[12] | sourceBytes[13] << 8;
    const int height = sourceBytes[14] | sourceBytes[15] << 8;
    std::size_t prefix = sourceBytes[0];
    if (sourceBytes[1] == 1)
        prefix += static_cast<std::size_t>(sourceBytes[5] | sourceBytes[6] << 8) * ((sourceBytes[7] + 7u) / 8u);
    Check(out.size() == 18 + prefix + 3 * static_cast<std::size_t>(width) * static_cast<std::size_t>(height),
          "the destination has the size its header gives");
    Check(std::memcmp(out.data(), sourceBytes.data(), 18 + prefix) == 0,
          "the destination starts with the source's header, ID field and colour map");
    Check(out == reference::ConvertFile(sourceBytes, texelsize), "the normals match the reference");
    return 0;
}
