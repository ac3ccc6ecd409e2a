#include "ConversionJob.h"

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "../normalmap/NormalMap.h"
#include "Platform.h"
#include "ReportError.h"
#include "Tga.h"

namespace {

// Owning handles, so every early return releases what the job holds.
struct SFile {
    std::FILE* f = nullptr;
    ~SFile()
    {
        if (f != nullptr)
            std::fclose(f);
    }
    // Closes now and says whether everything buffered reached the file.
    bool Close()
    {
        const bool ok = std::fclose(f) == 0;
        f = nullptr;
        return ok;
    }
};

// The destination while it is written; one never committed is dropped.
struct SOutputFile {
    SDestination d = {nullptr, {false, 0, 0}, {'\0'}};
    ~SOutputFile() { DiscardDestination(&d); }
};

struct SBuffer {
    std::uint8_t* data = nullptr;
    ~SBuffer() { std::free(data); }
    bool Allocate(std::uint64_t size)
    {
        // Refuse what this address space cannot index rather than wrap size_t.
        if (size > SIZE_MAX)
            return false;
        data = static_cast<std::uint8_t*>(std::malloc(size == 0 ? 1 : static_cast<std::size_t>(size)));
        return data != nullptr;
    }
    // For the image itself, whose every page the job touches.
    bool AllocateImage(std::uint64_t size)
    {
        if (size > SIZE_MAX)
            return false;
        data = static_cast<std::uint8_t*>(AllocateImageBuffer(size == 0 ? 1 : static_cast<std::size_t>(size)));
        return data != nullptr;
    }
};

// Large transfers go in blocks of 1 GiB: some C runtimes mishandle a single
// fread or fwrite of more than 2^31 bytes.
constexpr std::size_t kBlock = std::size_t{1} << 30;

bool ReadFully(std::FILE* f, std::uint8_t* data, std::uint64_t size)
{
    while (size > 0) {
        const std::size_t chunk = size < kBlock ? static_cast<std::size_t>(size) : kBlock;
        if (std::fread(data, 1, chunk, f) != chunk)
            return false;
        data += chunk;
        size -= chunk;
    }
    return true;
}

bool WriteFully(std::FILE* f, const std::uint8_t* data, std::uint64_t size)
{
    while (size > 0) {
        const std::size_t chunk = size < kBlock ? static_cast<std::size_t>(size) : kBlock;
        if (std::fwrite(data, 1, chunk, f) != chunk)
            return false;
        data += chunk;
        size -= chunk;
    }
    return true;
}

// What goes into the destination, for WriteOutput.
struct SOutput {
    SDestination* dst;
    const char* dstpath;
    const std::uint8_t* header;
    const std::uint8_t* prefix;
    std::uint64_t prefixSize;
    const std::uint8_t* normals;
    std::uint64_t pixelBytes;
    SFileId source;
};

// Writes the destination and puts it in place; true if every byte reached it.
bool WriteOutput(void* context)
{
    const SOutput& o = *static_cast<const SOutput*>(context);
    const bool written = WriteFully(o.dst->f, o.header, kTgaHeaderSize) &&
                         WriteFully(o.dst->f, o.prefix, o.prefixSize) &&
                         WriteFully(o.dst->f, o.normals, o.pixelBytes);
    if (!written)
        DiscardDestination(o.dst);
    return written && CommitDestination(o.dst, o.dstpath, o.source);
}

// Reports the first header field the library cannot handle; true if all pass.
bool CheckHeader(const STgaHeader& tgaHeader, const char* srcpath)
{
    if (tgaHeader.pixsize != 24) {
        ReportError("'%s' tgaHeader.pixsize!=24 (pixsize==%d)", srcpath, tgaHeader.pixsize);
        return false;
    }
    if (tgaHeader.imgtype != 2) {
        ReportError("'%s' tgaHeader.imgtype!=2 (imgtype==%d)", srcpath, tgaHeader.imgtype);
        return false;
    }
    if (tgaHeader.desc != 0) {
        ReportError("'%s' tgaHeader.desc!=0 (desc==%d)", srcpath, tgaHeader.desc);
        return false;
    }
    if (tgaHeader.width < 1) {
        ReportError("'%s' tgaHeader.width<1 (width==%d)", srcpath, tgaHeader.width);
        return false;
    }
    if (tgaHeader.height < 1) {
        ReportError("'%s' tgaHeader.height<1 (height==%d)", srcpath, tgaHeader.height);
        return false;
    }
    return true;
}

}  // namespace

void CreateBumpMap(const SCreateBumpMap& map)
{
    // The host owns the records; a path without its terminator would send
    // fopen past the field, and a silently shortened path names another file.
    if (std::memchr(map.srcpath, '\0', sizeof map.srcpath) == nullptr) {
        ReportError("srcpath is not terminated within %d bytes", static_cast<int>(sizeof map.srcpath));
        return;
    }
    if (std::memchr(map.dstpath, '\0', sizeof map.dstpath) == nullptr) {
        ReportError("dstpath is not terminated within %d bytes", static_cast<int>(sizeof map.dstpath));
        return;
    }
    const char* srcpath = map.srcpath;
    const char* dstpath = map.dstpath;

    std::uint64_t fileSize = 0;
    SFileId source = {false, 0, 0};
    SFile src;
    src.f = OpenSourceFile(srcpath, &fileSize, &source);
    if (src.f == nullptr) {
        ReportError("Cant open '%s' for reading", srcpath);
        return;
    }

    std::uint8_t raw[kTgaHeaderSize];
    if (fileSize < kTgaHeaderSize) {
        ReportError("'%s' is truncated", srcpath);
        return;
    }
    // A failing read is not a short file; the pixel read below tells them apart too.
    if (std::fread(raw, 1, sizeof raw, src.f) != sizeof raw) {
        if (std::ferror(src.f))
            ReportError("Cant read '%s'", srcpath);
        else
            ReportError("'%s' is truncated", srcpath);
        return;
    }
    const STgaHeader tgaHeader = ParseTgaHeader(raw);
    if (!CheckHeader(tgaHeader, srcpath))
        return;

    // 64-bit sizes: 32767 * 32767 * 3 needs 32 bits unsigned, and the whole file
    // (header, up to 2 MiB of ID and colour map, pixels) a little more.
    const int width = tgaHeader.width;
    const int height = tgaHeader.height;
    const std::uint64_t n = static_cast<std::uint64_t>(width) * static_cast<std::uint64_t>(height);
    const std::uint64_t prefixSize = TgaPrefixSize(tgaHeader);
    const std::uint64_t pixelBytes = 3 * n;
    // Trust the file over the header: a tiny file that claims 32767 x 32767 must
    // not make us allocate gigabytes before finding out.
    if (fileSize - kTgaHeaderSize < prefixSize + pixelBytes) {
        ReportError("'%s' is truncated", srcpath);
        return;
    }

    SBuffer pixels, normals, heights, prefix;
    if (!pixels.AllocateImage(pixelBytes) || !normals.AllocateImage(pixelBytes) || !heights.AllocateImage(n) ||
        !prefix.Allocate(prefixSize)) {
        ReportError("'%s' out of memory", srcpath);
        return;
    }

    // The file may have changed since it was measured; a short read is caught here.
    if (!ReadFully(src.f, prefix.data, prefixSize) || !ReadFully(src.f, pixels.data, pixelBytes)) {
        if (std::ferror(src.f))
            ReportError("Cant read '%s'", srcpath);
        else
            ReportError("'%s' is truncated", srcpath);
        return;
    }
    // Closed before the destination opens, so a job may convert a file in place.
    src.Close();

    ComputeHeights(pixels.data, heights.data, width, height);
    ComputeNormals(heights.data, normals.data, width, height, map.texelsize);

    SOutputFile dst;
    if (!OpenDestination(dstpath, &dst.d)) {
        ReportError("Cant open '%s' for writing", dstpath);
        return;
    }
    SOutput output = {&dst.d, dstpath, tgaHeader.bytes, prefix.data, prefixSize, normals.data, pixelBytes, source};
    if (!WithoutWriteSignals(WriteOutput, &output))
        ReportError("Cant write '%s'", dstpath);
}
