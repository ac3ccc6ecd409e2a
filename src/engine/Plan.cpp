#include "Plan.h"

#include <algorithm>
#include <map>

namespace {

std::string Quoted(const std::string& path)
{
    return "'" + path + "'";
}

std::string TooLong(const std::string& path)
{
    return "path longer than the " + std::to_string(kMaxPath) + " bytes a job record holds: " + Quoted(path);
}

std::string Join(const std::string& folder, const std::string& name)
{
    if (folder.empty() || IsPathSeparator(folder.back()))
        return folder + name;
    return folder + '/' + name;
}

bool EndsWithNoCase(const std::string& name, const char* suffix)
{
    const std::size_t n = std::char_traits<char>::length(suffix);
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

// Where the part of a map's path below OUT starts.
std::size_t Below(const SPlan& plan)
{
    return Join(plan.outDir, "").size();
}

void AddFailed(SPlan& plan, const std::string& src, const std::string& failure)
{
    plan.jobs.push_back({src, "", 0, failure});
}

// A found file's job, or one that fails where a path is too long for a record.
void AddFound(SPlan& plan, const std::string& src, const std::string& dst)
{
    SJob job = {src, dst, Below(plan), ""};
    for (const std::string* path : {&src, &dst})
        if (job.failure.empty() && path->size() > kMaxPath)
            job.failure = TooLong(*path);
    plan.jobs.push_back(job);
}

struct SFrame {
    std::string folder, out;
    std::vector<SFolderEntry> entries;
    std::size_t next;
};

// Opens a folder of the walk, or adds the job that says why it cannot be.
void Enter(SPlan& plan, std::vector<SFrame>& stack, const std::string& folder, const std::string& out)
{
    // The shortest source below it (".tga") or map ("_n.tga") would not fit a record.
    if (folder.size() + 5 > kMaxPath || out.size() + 7 > kMaxPath) {
        AddFailed(plan, folder, "cannot convert below " + Quoted(folder) + ": its path leaves no room in the " +
                                    std::to_string(kMaxPath) + " bytes a job record holds");
        return;
    }
    SFrame frame = {folder, out, {}, 0};
    if (!ListFolder(folder.c_str(), frame.entries)) {
        AddFailed(plan, folder, "cannot read the folder " + Quoted(folder));
        return;
    }
    std::sort(frame.entries.begin(), frame.entries.end(),
              [](const SFolderEntry& a, const SFolderEntry& b) { return a.name < b.name; });
    stack.push_back(std::move(frame));
}

// Depth first, in name order, on a stack of its own: a tree of any depth.
void Walk(SPlan& plan, const std::string& root)
{
    std::vector<SFrame> stack;
    Enter(plan, stack, root, plan.outDir);
    while (!stack.empty()) {
        SFrame& top = stack.back();
        if (top.next == top.entries.size()) {
            stack.pop_back();
            continue;
        }
        const SFolderEntry entry = top.entries[top.next++];
        const std::string path = Join(top.folder, entry.name), out = Join(top.out, entry.name);
        if (entry.folder) {
            const SFileId id = FileIdentity(path.c_str());
            if (!id.valid)
                AddFailed(plan, path, "cannot read the folder " + Quoted(path));
            else if (plan.walked.insert(id).second)
                Enter(plan, stack, path, out);
        } else if (EndsWithNoCase(entry.name, ".tga") && !EndsWithNoCase(entry.name, "_n.tga")) {
            AddFound(plan, path, Join(top.out, MapName(entry.name)));
        }
    }
}

// A separator between names; ':' after a drive letter is not one for this.
bool IsSlash(char c)
{
    return IsPathSeparator(c) && c != ':';
}

// Where the last name of a path starts, trailing separators left out.
void LastName(const std::string& path, std::size_t& start, std::size_t& end)
{
    end = path.size();
    while (end > 1 && IsSlash(path[end - 1]))
        --end;
    start = end;
    while (start > 0 && !IsPathSeparator(path[start - 1]))
        --start;
}

// The path as the platform compares names, with one separator between
// them and no "." or trailing one: "o//a", "./o/a/" and "o/a" are one.
std::string Spelling(const std::string& path)
{
    std::string out = !path.empty() && IsSlash(path[0]) ? "/" : "";
    for (std::size_t at = 0, end = 0; at < path.size(); at = end + 1) {
        end = at;
        while (end < path.size() && !IsSlash(path[end]))
            ++end;
        const std::string name = path.substr(at, end - at);
        if (name.empty() || name == ".")
            continue;
        if (!out.empty() && out.back() != '/')
            out += '/';
        out += name;
    }
    return PathKey(out.empty() ? "." : out);
}

std::string IdKey(char kind, const SFileId& id)
{
    return kind + std::to_string(id.device) + ':' + std::to_string(id.index);
}

// Each key a path's file goes by: its spelling and, unless only its name
// counts, the file's identity where it exists and its folder's identity
// and its own name where the folder does (a file not made yet, spelled
// another way or reached through another mount of its folder).
std::vector<std::string> FileKeys(const std::string& path, bool nameOnly)
{
    std::vector<std::string> keys = {"n" + Spelling(path)};
    if (nameOnly)
        return keys;
    const SFileId id = FileIdentity(path.c_str());
    if (id.valid)
        keys.push_back(IdKey('i', id));
    std::size_t name = 0, end = 0;
    LastName(path, name, end);
    const SFileId folder = FileIdentity(name == 0 ? "." : path.substr(0, name).c_str());
    if (folder.valid)
        keys.push_back(IdKey('f', folder) + '/' + PathKey(path.substr(name, end - name)));
    return keys;
}

// A map's path below OUT whose folders or own name the out-dir form
// replaces (a link, a FIFO): where it leads now is not where it will be.
bool Replaced(const SJob& job)
{
    for (std::size_t i = job.below + 1; i <= job.dst.size(); ++i) {
        if (i < job.dst.size() && (!IsSlash(job.dst[i]) || IsSlash(job.dst[i - 1])))
            continue;
        const SFileInfo info = FileInfo(job.dst.substr(0, i).c_str(), false);
        if (i == job.dst.size() ? ToReplace(info) : info.exists && (info.link || !info.folder))
            return true;
    }
    return false;
}

// Why the jobs cannot run at once in any order: a destination named twice,
// another job's source, or a folder another map needs, by any key of its
// file (but only by name where the out-dir form replaces what is there).
std::string Dependence(const std::vector<SJob>& jobs, bool outDirForm)
{
    std::multimap<std::string, std::size_t> sources;
    std::map<std::string, std::size_t> destinations;
    for (std::size_t j = 0; j < jobs.size(); ++j)
        if (jobs[j].failure.empty())
            for (const std::string& key : FileKeys(jobs[j].src, false))
                sources.emplace(key, j);
    for (std::size_t j = 0; j < jobs.size(); ++j) {
        if (!jobs[j].failure.empty())
            continue;
        const std::string& dst = jobs[j].dst;
        for (const std::string& key : FileKeys(dst, outDirForm && Replaced(jobs[j]))) {
            const std::size_t writer = destinations.emplace(key, j).first->second;
            if (writer != j)
                return Quoted(jobs[writer].src) + " and " + Quoted(jobs[j].src) + " would both write " + Quoted(dst);
            const auto range = sources.equal_range(key);
            if (std::any_of(range.first, range.second, [j](const auto& r) { return r.second != j; }))
                return Quoted(jobs[j].src) + " would write " + Quoted(dst) + ", which another job reads";
        }
    }
    // Spellings sort a folder's paths right after it and its separator.
    for (auto d = destinations.begin(); outDirForm && d != destinations.end(); ++d) {
        const auto below = destinations.lower_bound(d->first + '/');
        if (d->first[0] == 'n' && below != destinations.end() && below->first.rfind(d->first + '/', 0) == 0)
            return Quoted(jobs[d->second].dst) + " would be the map of " + Quoted(jobs[d->second].src) +
                   " and a folder of the map of " + Quoted(jobs[below->second].src);
    }
    return "";
}

}  // namespace

bool ToReplace(const SFileInfo& info)
{
    return info.exists && !info.folder && (info.link || !info.regular || info.links > 1);
}

std::string MapName(const std::string& name)
{
    const std::size_t dot = name.rfind('.');
    return (dot == std::string::npos || dot == 0 ? name : name.substr(0, dot)) + "_n.tga";
}

std::string AddPath(SPlan& plan, const std::string& path)
{
    if (path.empty())
        return "an empty path names no file";
    if (path.size() > kMaxPath)
        return TooLong(path);
    if (!plan.outDirForm) {
        plan.halves.push_back(path);
        return "";
    }
    if (FileInfo(path.c_str(), true).folder) {
        const SFileId id = FileIdentity(path.c_str());
        if (!id.valid || plan.walked.insert(id).second)
            Walk(plan, path);
        return "";
    }
    std::size_t name = 0, end = 0;
    LastName(path, name, end);
    const std::string dst = Join(plan.outDir, MapName(path.substr(name, end - name)));
    if (dst.size() > kMaxPath)
        return "the map of " + Quoted(path) + " would have a " + TooLong(dst);
    plan.jobs.push_back({path, dst, Below(plan), ""});
    return "";
}

std::string AddPlanned(SPlan& plan, const SJob& job)
{
    if (!plan.outDirForm)
        return "a planned job needs the out-dir form";
    if (job.place < 0)
        return "a planned job's place is below 0";
    if (!job.failure.empty()) {
        plan.jobs.push_back(job);
        return "";
    }
    const std::size_t below = Below(plan);
    if (job.src.empty() || job.src.size() > kMaxPath || job.dst.size() > kMaxPath)
        return "a planned job's paths do not fit a record: " + Quoted(job.src) + ", " + Quoted(job.dst);
    bool inside = job.dst.size() > below && job.dst.compare(0, below, Join(plan.outDir, "")) == 0;
    // Each name on the way below OUT, none of them . or ..: the map stays inside.
    for (std::size_t at = below, end = at; inside && at <= job.dst.size(); at = end + 1) {
        end = at;
        while (end < job.dst.size() && !IsPathSeparator(job.dst[end]))
            ++end;
        const std::string name = job.dst.substr(at, end - at);
        inside = !name.empty() && name != "." && name != "..";
    }
    if (!inside)
        return "the planned map " + Quoted(job.dst) + " is not below " + Quoted(plan.outDir);
    plan.jobs.push_back(job);
    plan.jobs.back().below = below;
    return "";
}

std::string AddList(SPlan& plan, const std::string& listPath)
{
    if (listPath.empty())
        return "--files-from is an empty path";
    std::string text;
    if (!ReadWholeFile(listPath.c_str(), text))
        return "cannot read the list " + Quoted(listPath);
    int line = 0;
    for (std::size_t at = 0; at < text.size();) {
        std::size_t end = text.find('\n', at);
        if (end == std::string::npos)
            end = text.size();
        std::string path = text.substr(at, end - at);
        at = end + 1;
        ++line;
        if (!path.empty() && path.back() == '\r')
            path.pop_back();
        if (path.empty())
            continue;
        const std::string why = path.find('\0') != std::string::npos ? "a NUL byte in a path" : AddPath(plan, path);
        if (!why.empty())
            return "line " + std::to_string(line) + " of the list " + Quoted(listPath) + ": " + why;
    }
    return "";
}

std::string FinishPlan(SPlan& plan)
{
    if (!plan.outDirForm) {
        if (plan.halves.size() % 2 != 0)
            return Quoted(plan.halves.back()) + " has no DST: without --out-dir, paths come in SRC DST pairs";
        for (std::size_t i = 0; i < plan.halves.size(); i += 2)
            plan.jobs.push_back({plan.halves[i], plan.halves[i + 1], 0, ""});
    }
    const std::string why = Dependence(plan.jobs, plan.outDirForm);
    if (why.empty() || plan.outDirForm)
        return why;
    // One after another in the order given, as a single call would.
    plan.serial = true;
    return "";
}
