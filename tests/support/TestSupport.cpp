#include "TestSupport.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <algorithm>
#include <cstring>
#include <random>
#include <stdexcept>

namespace testsupport {

TempDir::TempDir()
{
    const char* base = std::getenv("TMPDIR");
    std::string pattern = std::string(base != nullptr ? base : "/tmp") + "/quarnel-test-XXXXXX";
    std::vector<char> buf(pattern.begin(), pattern.end());
    buf.push_back('\0');
    if (mkdtemp(buf.data()) == nullptr)
        throw std::runtime_error("mkdtemp failed");
    dir = buf.data();
}

namespace {

// Tests make plain files, FIFOs and folders, some of them read-only.
void RemoveTree(const std::string& dir)
{
    if (DIR* d = opendir(dir.c_str())) {
        while (dirent* e = readdir(d)) {
            const std::string name = e->d_name;
            if (name == "." || name == "..")
                continue;
            const std::string path = dir + "/" + name;
            struct stat st;
            if (lstat(path.c_str(), &st) == 0 && S_ISDIR(st.st_mode)) {
                chmod(path.c_str(), 0700);
                RemoveTree(path);
            } else {
                unlink(path.c_str());
            }
        }
        closedir(d);
    }
    rmdir(dir.c_str());
}

}  // namespace

TempDir::~TempDir()
{
    RemoveTree(dir);
}

void WriteFile(const std::string& path, const Bytes& bytes)
{
    std::FILE* f = std::fopen(path.c_str(), "wb");
    if (f == nullptr)
        throw std::runtime_error("cannot create " + path);
    const bool ok = std::fwrite(bytes.data(), 1, bytes.size(), f) == bytes.size();
    if (std::fclose(f) != 0 || !ok)
        throw std::runtime_error("cannot write " + path);
}

Bytes ReadFile(const std::string& path)
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

bool FileExists(const std::string& path)
{
    struct stat st;
    return stat(path.c_str(), &st) == 0;
}

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

std::string CaptureStderr(const std::function<void()>& fn)
{
    TempDir tmp;
    const std::string path = tmp.Path("stderr");
    std::fflush(stderr);
    const int saved = dup(STDERR_FILENO);
    const int fd = open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
    if (saved < 0 || fd < 0)
        throw std::runtime_error("cannot redirect stderr");
    dup2(fd, STDERR_FILENO);
    close(fd);
    fn();
    std::fflush(stderr);
    dup2(saved, STDERR_FILENO);
    close(saved);
    const Bytes bytes = ReadFile(path);
    return std::string(bytes.begin(), bytes.end());
}

std::vector<std::string> Messages(const std::string& captured)
{
    static const std::string caption = "!!! Error !!!: ";
    std::vector<std::string> messages;
    std::size_t pos = 0;
    while (pos < captured.size()) {
        std::size_t end = captured.find('\n', pos);
        if (end == std::string::npos)
            end = captured.size();
        const std::string line = captured.substr(pos, end - pos);
        if (line.compare(0, caption.size(), caption) == 0)
            messages.push_back(line.substr(caption.size()));
        pos = end + 1;
    }
    return messages;
}

int OpenDescriptorCount()
{
    int count = 0;
    if (DIR* d = opendir("/proc/self/fd")) {
        while (dirent* e = readdir(d))
            if (e->d_name[0] != '.')
                ++count;
        closedir(d);
    }
    return count - 1;  // the directory stream's own descriptor
}

std::string Device(const TempDir& tmp, const std::string& name)
{
    const std::string system = "/dev/" + name, own = tmp.Path(name);
    struct stat st;
    if (stat(system.c_str(), &st) != 0 || mknod(own.c_str(), S_IFCHR | 0666, st.st_rdev) != 0)
        return system;
    const int fd = open(own.c_str(), O_WRONLY | O_CLOEXEC);  // fails on a nodev mount
    if (fd < 0) {
        unlink(own.c_str());
        return system;
    }
    close(fd);
    return own;
}

std::vector<std::string> FolderNames(const std::string& dir)
{
    std::vector<std::string> names;
    if (DIR* d = opendir(dir.c_str())) {
        while (dirent* e = readdir(d))
            if (std::strcmp(e->d_name, ".") != 0 && std::strcmp(e->d_name, "..") != 0)
                names.push_back(e->d_name);
        closedir(d);
    }
    std::sort(names.begin(), names.end());
    return names;
}

SChild RunInChild(const std::function<int()>& fn)
{
    TempDir tmp;
    const std::string path = tmp.Path("stderr");
    std::fflush(stderr);
    const pid_t pid = fork();
    if (pid < 0)
        throw std::runtime_error("fork failed");
    if (pid == 0)
        _exit(std::freopen(path.c_str(), "w", stderr) != nullptr ? fn() : 100);
    SChild child = {0, {}};
    if (waitpid(pid, &child.status, 0) != pid)
        throw std::runtime_error("waitpid failed");
    const Bytes text = ReadFile(path);
    child.messages = Messages(std::string(text.begin(), text.end()));
    return child;
}

}  // namespace testsupport
