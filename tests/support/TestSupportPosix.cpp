#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <stdexcept>

#include "TestSupport.h"

namespace testsupport {

TempDir::TempDir()
{
    const char* base = std::getenv("TMPDIR");
    std::string pattern = std::string(base != nullptr ? base : "/tmp") + "/quarnel-test-XXXXXX";
    if (mkdtemp(pattern.data()) == nullptr)
        throw std::runtime_error("mkdtemp failed");
    dir = pattern;
}

namespace {

// Tests make plain files, FIFOs and folders, some of them read-only, and
// trees deeper than a path may name: removed through folder descriptors.
void RemoveTree(int parent, const char* name)
{
    if (unlinkat(parent, name, 0) == 0)
        return;
    fchmodat(parent, name, 0700, 0);
    const int fd = openat(parent, name, O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
    if (DIR* d = fd >= 0 ? fdopendir(fd) : nullptr) {
        std::vector<std::string> names;
        while (dirent* e = readdir(d))
            if (std::strcmp(e->d_name, ".") != 0 && std::strcmp(e->d_name, "..") != 0)
                names.push_back(e->d_name);
        for (const std::string& n : names)
            RemoveTree(dirfd(d), n.c_str());
        closedir(d);
    }
    unlinkat(parent, name, AT_REMOVEDIR);
}

}  // namespace

TempDir::~TempDir()
{
    RemoveTree(AT_FDCWD, dir.c_str());
}

std::string TempDir::Path(const std::string& name) const
{
    return dir + "/" + name;
}

std::FILE* OpenFile(const std::string& path, const char* mode)
{
    return std::fopen(path.c_str(), mode);
}

bool FileExists(const std::string& path)
{
    struct stat st;
    return stat(path.c_str(), &st) == 0;
}

bool MakeFolder(const std::string& path)
{
    return mkdir(path.c_str(), 0777) == 0;
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

int OpenDescriptorCount()
{
    return static_cast<int>(FolderNames("/proc/self/fd").size()) - 1;  // less the listing's own
}

namespace {

// What was written to a capture file, which is then closed.
std::string TakeText(std::FILE* capture)
{
    std::string text;
    char buf[4096];
    std::rewind(capture);
    for (std::size_t got; (got = std::fread(buf, 1, sizeof buf, capture)) > 0;)
        text.append(buf, got);
    std::fclose(capture);
    return text;
}

// Each line of captured standard error as ShownMessages returns it.
Strings Messages(const std::string& captured)
{
    static const std::string caption = "!!! Error !!!: ";
    Strings messages;
    for (std::size_t pos = 0; pos < captured.size();) {
        const std::size_t end = std::min(captured.find('\n', pos), captured.size());
        const std::string line = captured.substr(pos, end - pos);
        if (end == captured.size())
            messages.push_back("(line not ended) " + line);
        else if (line.compare(0, caption.size(), caption) == 0)
            messages.push_back(line.substr(caption.size()));
        else
            messages.push_back("(not a message) " + line);
        pos = end + 1;
    }
    return messages;
}

}  // namespace

Strings ShownMessages(const std::function<void()>& call)
{
    std::fflush(stderr);
    std::FILE* capture = std::tmpfile();
    const int saved = dup(STDERR_FILENO);
    if (capture == nullptr || saved < 0 || dup2(fileno(capture), STDERR_FILENO) < 0)
        throw std::runtime_error("cannot redirect stderr");
    call();
    std::fflush(stderr);
    dup2(saved, STDERR_FILENO);
    close(saved);
    return Messages(TakeText(capture));
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

SChild RunInChild(const std::function<int()>& fn)
{
    std::fflush(stderr);
    std::FILE* capture = std::tmpfile();
    if (capture == nullptr)
        throw std::runtime_error("cannot make a file for the child's messages");
    const pid_t pid = fork();
    if (pid < 0)
        throw std::runtime_error("fork failed");
    if (pid == 0)
        _exit(dup2(fileno(capture), STDERR_FILENO) >= 0 ? fn() : 100);
    SChild child = {0, {}};
    if (waitpid(pid, &child.status, 0) != pid)
        throw std::runtime_error("waitpid failed");
    child.messages = Messages(TakeText(capture));
    return child;
}

}  // namespace testsupport
