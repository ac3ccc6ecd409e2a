#include "TestSupport.h"

#include <cstring>
#include <limits>
#include <random>
#include <stdexcept>

namespace testsupport {

Bytes TgaHeader(const STgaFields& t)
{
    auto lo = [](int v) { return static_cast<std::uint8_t>(v & 0xFF); };
    auto hi = [](int v) { return static_cast<std::uint8_t>((v >> 8) & 0xFF); };
    return {t.idlen,       t.cmaptype,    t.imgtype,     lo(t.cmapfirst), hi(t.cmapfirst),
            lo(t.cmaplen), hi(t.cmaplen), t.cmapbits,    lo(t.xorigin),   hi(t.xorigin),
            lo(t.yorigin), hi(t.yorigin), lo(t.width),   hi(t.width),     lo(t.height),
            hi(t.height),  t.pixsize,     t.desc};
}

Bytes TgaFile(const STgaFields& fields, const Bytes& prefix, const Bytes& pixels)
{
    Bytes file = TgaHeader(fields);
    file.insert(file.end(), prefix.begin(), prefix.end());
    file.insert(file.end(), pixels.begin(), pixels.end());
    return file;
}

Bytes RandomPixels(int width, int height, std::uint32_t seed)
{
    std::mt19937 rng(seed);
    Bytes pixels(3 * static_cast<std::size_t>(width) * static_cast<std::size_t>(height));
    for (auto& b : pixels)
        b = static_cast<std::uint8_t>(rng() >> 24);
    return pixels;
}

Bytes RandomTga(int width, int height, std::uint32_t seed)
{
    STgaFields fields;
    fields.width = width;
    fields.height = height;
    return TgaFile(fields, {}, RandomPixels(width, height, seed));
}

Bytes WithFooter(Bytes file)
{
    const char footer[] = "\0\0\0\0\0\0\0\0TRUEVISION-XFILE.";
    file.insert(file.end(), footer, footer + sizeof footer);
    return file;
}

SCreateBumpMap Job(const std::string& src, const std::string& dst, float texelsize)
{
    SCreateBumpMap job;
    std::memset(&job, 0, sizeof job);
    if (src.size() >= sizeof job.srcpath || dst.size() >= sizeof job.dstpath)
        throw std::runtime_error("path too long for a job record");
    std::memcpy(job.srcpath, src.c_str(), src.size() + 1);
    std::memcpy(job.dstpath, dst.c_str(), dst.size() + 1);
    job.texelsize = texelsize;
    return job;
}

std::string Quote(const std::string& path)
{
    return "'" + path + "'";
}

Strings RunJobs(std::vector<SCreateBumpMap> jobs, CreateBumpMapsFn create)
{
    int left = 0;
    Strings messages = ShownMessages([&] {
        const int before = OpenDescriptorCount();
        create(jobs.data(), static_cast<int>(jobs.size()));
        left = OpenDescriptorCount() - before;
    });
    if (left != 0)
        messages.push_back("(" + std::to_string(left) + " descriptors left open)");
    const Strings temps = TempFilesLeft(jobs);
    messages.insert(messages.end(), temps.begin(), temps.end());
    return messages;
}

Strings TempFilesLeft(const std::vector<SCreateBumpMap>& jobs)
{
    Strings left;
    for (const SCreateBumpMap& job : jobs) {
        const std::string dst(job.dstpath, strnlen(job.dstpath, sizeof job.dstpath));
        const std::size_t slash = dst.find_last_of("/\\");
        if (slash == std::string::npos)
            continue;  // the tests name every destination by its folder
        for (const std::string& name : FolderNames(dst.substr(0, slash + 1)))
            if (name.find(".quarnel-") != std::string::npos)
                left.push_back("(temporary file left: " + name + ")");
    }
    return left;
}

std::vector<SRefused> RefusedSources()
{
    // Header bytes changed in a valid 6 x 5 header: pixsize at 16, imgtype at
    // 2, desc at 17, width at 12 and 13, height at 14 and 15. The file holds
    // 64 x 64 pixels, so its size never decides. Several faults at once show
    // that the checks run in the order pixsize, imgtype, desc, width, height.
    struct SEdit {
        int at;
        std::uint8_t value;
    };
    const struct {
        const char* name;
        std::vector<SEdit> edits;
        const char* message;
    } headers[] = {
        {"32-bit", {{16, 32}}, "pixsize!=24 (pixsize==32)"},
        {"32-bit rle with alpha", {{16, 32}, {2, 10}, {17, 8}}, "pixsize!=24 (pixsize==32)"},
        {"8-bit", {{16, 8}}, "pixsize!=24 (pixsize==8)"},
        {"16-bit", {{16, 16}}, "pixsize!=24 (pixsize==16)"},
        {"pixsize 0", {{16, 0}}, "pixsize!=24 (pixsize==0)"},
        {"pixsize 255", {{16, 255}}, "pixsize!=24 (pixsize==255)"},
        {"rle", {{2, 10}}, "imgtype!=2 (imgtype==10)"},
        {"rle top-down", {{2, 10}, {17, 32}}, "imgtype!=2 (imgtype==10)"},
        {"colour-mapped", {{2, 1}}, "imgtype!=2 (imgtype==1)"},
        {"grey", {{2, 3}}, "imgtype!=2 (imgtype==3)"},
        {"rle colour-mapped", {{2, 9}}, "imgtype!=2 (imgtype==9)"},
        {"rle grey", {{2, 11}}, "imgtype!=2 (imgtype==11)"},
        {"no image", {{2, 0}}, "imgtype!=2 (imgtype==0)"},
        {"type 255", {{2, 255}}, "imgtype!=2 (imgtype==255)"},
        {"top-down", {{17, 32}}, "desc!=0 (desc==32)"},
        {"alpha bits", {{17, 8}}, "desc!=0 (desc==8)"},
        {"right to left", {{17, 16}}, "desc!=0 (desc==16)"},
        {"desc 48", {{17, 48}}, "desc!=0 (desc==48)"},
        {"desc 64", {{17, 64}}, "desc!=0 (desc==64)"},
        {"desc 128", {{17, 128}}, "desc!=0 (desc==128)"},
        {"top-down and width 0", {{17, 32}, {12, 0}}, "desc!=0 (desc==32)"},
        {"width 0", {{12, 0}}, "width<1 (width==0)"},
        {"width 0x8000", {{12, 0}, {13, 0x80}}, "width<1 (width==-32768)"},
        {"width 0xFFFF", {{12, 0xFF}, {13, 0xFF}}, "width<1 (width==-1)"},
        {"height 0", {{14, 0}}, "height<1 (height==0)"},
        {"height 0x8000", {{14, 0}, {15, 0x80}}, "height<1 (height==-32768)"},
        {"height 0xFFFF", {{14, 0xFF}, {15, 0xFF}}, "height<1 (height==-1)"},
        {"width and height 0", {{12, 0}, {14, 0}}, "width<1 (width==0)"},
    };
    std::vector<SRefused> refused;
    for (const auto& h : headers) {
        Bytes file = TgaFile(STgaFields(), {}, RandomPixels(64, 64, 1));
        for (const SEdit& e : h.edits)
            file[static_cast<std::size_t>(e.at)] = e.value;
        refused.push_back({h.name, file, std::string(" tgaHeader.") + h.message});
    }

    // Files that hold less than their header declares, or no whole header:
    // refused before any buffer is sized from the header.
    STgaFields id, cmap, huge;
    id.width = id.height = cmap.width = cmap.height = 2;
    id.idlen = 255;
    cmap.cmaptype = 1;
    cmap.cmaplen = 256;
    cmap.cmapbits = 24;
    huge.width = huge.height = 32767;
    const Bytes valid = RandomTga(6, 5, 2);
    const std::pair<const char*, Bytes> shortFiles[] = {
        {"empty", {}},
        {"17 bytes", Bytes(valid.begin(), valid.begin() + 17)},
        {"header only", Bytes(valid.begin(), valid.begin() + 18)},
        {"one byte short", Bytes(valid.begin(), valid.end() - 1)},
        {"ends inside the ID field", TgaFile(id, Bytes(100, 7), {})},
        {"ID field but no pixels", TgaFile(id, Bytes(255, 7), RandomPixels(2, 1, 3))},
        {"colour map runs past the end", TgaFile(cmap, Bytes(700, 1), {})},
        {"32767 x 32767 in a small file", TgaFile(huge, {}, RandomPixels(64, 64, 4))},
    };
    for (const auto& [name, file] : shortFiles)
        refused.push_back({name, file, " is truncated"});
    return refused;
}

std::vector<SAccepted> AcceptedSources()
{
    const float inf = std::numeric_limits<float>::infinity();
    std::vector<SAccepted> accepted;
    // Odd sizes (one row, one column, wider than any vector) and texel sizes
    // that leave nothing to normalise (0, infinite, NaN).
    const struct {
        int width, height;
        float texelsize;
    } images[] = {
        {1, 1, 1.0f},  {2, 2, 1.0f},    {3, 1, 1.0f},    {1, 5, 1.0f},  {17, 3, 0.75f}, {33, 17, 1.5f},
        {64, 64, 0.0625f}, {255, 3, 1.0f}, {7, 300, 2.0f}, {1000, 1, 1.0f}, {5, 5, 0.0f}, {6, 4, inf},
        {6, 4, std::numeric_limits<float>::quiet_NaN()}, {9, 9, -1.0f}, {4, 4, 1e-30f}, {4, 4, 1e30f},
        {513, 129, 0.3f},
    };
    std::uint32_t seed = 10;
    for (const auto& im : images) {
        accepted.push_back({std::to_string(im.width) + "x" + std::to_string(im.height) + " at " +
                                std::to_string(im.texelsize),
                            RandomTga(im.width, im.height, ++seed), im.texelsize});
    }

    // Header fields the library only carries, with values in every byte.
    STgaFields carried;
    carried.width = 17;
    carried.height = 3;
    carried.cmapfirst = 0x1234;  // colour-map fields without a colour map: carried, not skipped
    carried.cmaplen = 0x5678;
    carried.cmapbits = 15;
    carried.xorigin = 0xBEEF;
    carried.yorigin = 0x0102;
    accepted.push_back({"carried header fields", TgaFile(carried, {}, RandomPixels(17, 3, ++seed)), 0.75f});

    // ID fields and colour maps, skipped on reading and copied; colour-map
    // fields without cmaptype 1 describe nothing and skip nothing.
    const struct {
        std::uint8_t idlen, cmaptype;
        std::uint16_t cmaplen;
        std::uint8_t cmapbits;
        std::size_t prefix;
    } prefixes[] = {{5, 0, 0, 0, 5},    {0, 1, 4, 24, 12}, {3, 1, 2, 15, 7},  {255, 1, 3, 32, 267},
                    {2, 1, 1, 1, 3},    {0, 0, 9, 24, 0},  {4, 2, 9, 24, 4},  {0, 255, 0xFFFF, 255, 0}};
    for (const auto& p : prefixes) {
        STgaFields f;
        f.idlen = p.idlen;
        f.cmaptype = p.cmaptype;
        f.cmaplen = p.cmaplen;
        f.cmapbits = p.cmapbits;
        accepted.push_back({"ID " + std::to_string(p.idlen) + ", colour map type " + std::to_string(p.cmaptype) +
                                " of " + std::to_string(p.cmaplen) + " x " + std::to_string(p.cmapbits) + " bits",
                            TgaFile(f, Bytes(p.prefix, 0x5A), RandomPixels(6, 5, ++seed)), 1.0f});
    }
    accepted.push_back({"footer after the pixels", WithFooter(RandomTga(6, 5, ++seed)), 1.0f});
    return accepted;
}

void WriteFile(const std::string& path, const Bytes& bytes)
{
    std::FILE* f = OpenFile(path, "wb");
    if (f == nullptr)
        throw std::runtime_error("cannot create " + path);
    const bool ok = std::fwrite(bytes.data(), 1, bytes.size(), f) == bytes.size();
    if (std::fclose(f) != 0 || !ok)
        throw std::runtime_error("cannot write " + path);
}

Bytes ReadFile(const std::string& path)
{
    Bytes bytes;
    std::FILE* f = OpenFile(path, "rb");
    if (f == nullptr)
        return bytes;
    std::uint8_t buf[65536];
    std::size_t got;
    while ((got = std::fread(buf, 1, sizeof buf, f)) > 0)
        bytes.insert(bytes.end(), buf, buf + got);
    std::fclose(f);
    return bytes;
}

std::vector<SCreateBumpMap> AcceptedJobs(const TempDir& tmp, const std::vector<SAccepted>& accepted)
{
    std::vector<SCreateBumpMap> jobs;
    for (std::size_t i = 0; i < accepted.size(); ++i) {
        const std::string n = std::to_string(i);
        WriteFile(tmp.Path(n + ".tga"), accepted[i].file);
        jobs.push_back(Job(tmp.Path(n + ".tga"), tmp.Path(n + "-out.tga"), accepted[i].texelsize));
    }
    return jobs;
}

Strings RefusedSourceFaults(CreateBumpMapsFn create)
{
    TempDir tmp;
    const std::string src = tmp.Path("src.tga"), dst = tmp.Path("dst.tga"), absent = tmp.Path("absent.tga");
    const Bytes keep = {'k', 'e', 'e', 'p'};
    Strings faults;
    for (const SRefused& t : RefusedSources()) {
        WriteFile(src, t.file);
        WriteFile(dst, keep);
        const Strings shown = RunJobs({Job(src, dst), Job(src, absent), Job(src, src)}, create);
        if (shown != Strings(3, Quote(src) + t.message)) {
            std::string all = t.name + ": shown";
            for (const std::string& line : shown)
                all += " [" + line + "]";
            faults.push_back(all);
        }
        if (ReadFile(dst) != keep || FileExists(absent) || ReadFile(src) != t.file)
            faults.push_back(t.name + ": a destination or the source changed");
    }
    return faults;
}

Strings UnterminatedMessages()
{
    return {"srcpath is not terminated within 512 bytes", "dstpath is not terminated within 512 bytes"};
}

std::vector<SCreateBumpMap> UnterminatedJobs(const std::string& src, const std::string& dst)
{
    std::vector<SCreateBumpMap> jobs = {Job(src, dst), Job(src, dst)};
    std::memset(jobs[0].srcpath, 'a', sizeof jobs[0].srcpath);
    std::memset(jobs[1].dstpath, 'b', sizeof jobs[1].dstpath);
    return jobs;
}

}  // namespace testsupport
