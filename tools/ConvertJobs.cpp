#include "ConvertJobs.h"

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <map>
#include <set>

namespace {

struct SPair {
    std::string src, dst;
};

std::string Join(const std::string& folder, const std::string& name)
{
    if (folder.empty() || IsPathSeparator(folder.back()))
        return folder + name;
    return folder + '/' + name;
}

bool EndsWithNoCase(const std::string& name, const char* suffix)
{
    const std::size_t n = std::strlen(suffix);
    if (name.size() < n)
        return false;
    for (std::size_t i = 0; i < n; ++i) {
        char c = name[name.size() - n + i];
        if (c >= 'A' && c <= 'Z')
            c = static_cast<char>(c - 'A' + 'a');
        if (c != suffix[i])
            return false;
    }
    return true;
}

// "dir/rock_n.tga" for "textures/rock.tga".
std::string DestinationFor(const std::string& dir, const char* src)
{
    const char* name = src + std::strlen(src);
    while (name != src && !IsPathSeparator(name[-1]))
        --name;
    std::string stem = name;
    const std::size_t dot = stem.rfind('.');
    if (dot != std::string::npos && dot != 0)
        stem.erase(dot);
    return Join(dir, stem + "_n.tga");
}

// Every .tga under folder, its destination under out. visited holds the
// folders met so far, so a link back up the tree is not followed again.
void Walk(const std::string& folder, const std::string& out, std::set<SFileId>& visited, std::vector<SPair>& found,
          int& unreadable)
{
    std::vector<SFolderEntry> entries;
    if (!ListFolder(folder.c_str(), entries)) {
        std::fprintf(stderr, "quarnel-convert: cannot read the folder %s\n", folder.c_str());
        ++unreadable;
        return;
    }
    std::sort(entries.begin(), entries.end(),
              [](const SFolderEntry& a, const SFolderEntry& b) { return a.name < b.name; });
    for (const SFolderEntry& e : entries) {
        const std::string path = Join(folder, e.name);
        if (e.folder) {
            const SFileId id = FileIdentity(path.c_str());
            if (id.valid && visited.insert(id).second)
                Walk(path, Join(out, e.name), visited, found, unreadable);
        } else if (EndsWithNoCase(e.name, ".tga") && !EndsWithNoCase(e.name, "_n.tga")) {
            found.push_back({path, Join(out, e.name.substr(0, e.name.size() - 4) + "_n.tga")});
        }
    }
}

bool MakeJobs(const std::vector<SPair>& pairs, float texelsize, std::vector<SCreateBumpMap>& jobs)
{
    jobs.assign(pairs.size(), SCreateBumpMap{});
    for (std::size_t j = 0; j < jobs.size(); ++j) {
        if (!SetPath(jobs[j].srcpath, pairs[j].src.c_str()) || !SetPath(jobs[j].dstpath, pairs[j].dst.c_str()))
            return false;
        jobs[j].texelsize = texelsize;
    }
    return true;
}

}  // namespace

bool SetPath(char (&field)[512], const char* path)
{
    const std::size_t len = std::strlen(path);
    if (len >= sizeof field) {
        std::fprintf(stderr, "quarnel-convert: path longer than %zu bytes: %s\n", sizeof field - 1, path);
        return false;
    }
    std::memcpy(field, path, len + 1);
    return true;
}

bool MakeFoldersFor(const char* path)
{
    const std::string p = path;
    std::size_t end = p.size();
    while (end > 0 && !IsPathSeparator(p[end - 1]))
        --end;
    if (end == 0 || ReadFileStamp(p.substr(0, end).c_str()).folder)
        return true;
    for (std::size_t i = 1; i < end; ++i)
        if (IsPathSeparator(p[i]) && !IsPathSeparator(p[i - 1]))
            MakeDirectory(p.substr(0, i).c_str());
    return end == 0 || ReadFileStamp(p.substr(0, end).c_str()).folder;
}

bool MakeDirJobs(const char* dir, const std::vector<const char*>& sources, float texelsize,
                 std::vector<SCreateBumpMap>& jobs, int& unreadable)
{
    std::vector<SPair> pairs;
    std::set<SFileId> visited;
    for (const char* src : sources) {
        if (!ReadFileStamp(src).folder) {
            pairs.push_back({src, DestinationFor(dir, src)});
            continue;
        }
        const SFileId id = FileIdentity(src);
        if (id.valid && visited.insert(id).second)
            Walk(src, dir, visited, pairs, unreadable);
    }
    std::string why;
    if (!MakeJobs(pairs, texelsize, jobs))
        return false;
    if (!IndependentJobs(jobs, why)) {
        std::fprintf(stderr, "quarnel-convert: %s\n", why.c_str());
        return false;
    }
    return true;
}

bool MakePairJobs(const std::vector<const char*>& paths, float texelsize, std::vector<SCreateBumpMap>& jobs)
{
    std::vector<SPair> pairs;
    for (std::size_t i = 0; i + 1 < paths.size(); i += 2)
        pairs.push_back({paths[i], paths[i + 1]});
    return MakeJobs(pairs, texelsize, jobs);
}

bool IndependentJobs(const std::vector<SCreateBumpMap>& jobs, std::string& why)
{
    // Who reads each name and each existing file; who writes each.
    std::multimap<std::string, std::size_t> sources;
    std::multimap<SFileId, std::size_t> sourceFiles;
    std::map<std::string, std::size_t> destinations;
    std::map<SFileId, std::size_t> destinationFiles;
    for (std::size_t j = 0; j < jobs.size(); ++j) {
        sources.emplace(PathKey(jobs[j].srcpath), j);
        const SFileId id = FileIdentity(jobs[j].srcpath);
        if (id.valid)
            sourceFiles.emplace(id, j);
    }
    const auto readByOther = [](const auto& readers, const auto& key, std::size_t j) {
        const auto range = readers.equal_range(key);
        return std::any_of(range.first, range.second, [j](const auto& r) { return r.second != j; });
    };
    for (std::size_t j = 0; j < jobs.size(); ++j) {
        const char* dst = jobs[j].dstpath;
        const std::string key = PathKey(dst);
        const SFileId id = FileIdentity(dst);
        std::size_t writer = destinations.emplace(key, j).first->second;
        if (writer == j && id.valid)
            writer = destinationFiles.emplace(id, j).first->second;
        if (writer != j) {
            why = std::string(jobs[writer].srcpath) + " and " + jobs[j].srcpath + " would both write " + dst;
            return false;
        }
        if (readByOther(sources, key, j) || (id.valid && readByOther(sourceFiles, id, j))) {
            why = std::string(jobs[j].srcpath) + " would write " + dst + ", which another job reads";
            return false;
        }
    }
    return true;
}
