#include "Run.h"

#include <cstring>
#include <exception>

namespace {

// The messages of the job running on a thread, taken as the module shows them.
struct SJobMessages {
    std::vector<std::string> texts;
    bool shown = false;  // one came, even one that could not be kept
};
thread_local SJobMessages* t_messages = nullptr;

unsigned ReadU16(const unsigned char* p)
{
    return static_cast<unsigned>(p[0] | p[1] << 8);
}

struct SRun {
    const SPlan* plan;
    const SRunSettings* settings;
    SConsole* console;
    std::uint64_t budget;
    double start;
    // Under monitor: whose turn it is to take a job, the next one, the
    // running jobs' buffers, the counts.
    Monitor monitor;
    bool turnTaken = false;
    std::size_t next = 0;
    std::uint64_t inUse = 0;
    SQuarnelBatchCounts counts;
};

// A job's number in its reports and the names it leaves: its place in the
// plan it came from.
std::size_t Place(const SRun& r, std::size_t j)
{
    const std::int32_t place = r.plan->jobs[j].place;
    return place >= 0 ? static_cast<std::size_t>(place) : j;
}

bool Cancelled(const SRun& r)
{
    return r.settings->cancelled->load() != 0;
}

struct SProbe {
    bool upToDate;
    std::uint64_t need;
};

// What the job needs, from its source's header, and whether --update skips it.
SProbe Probe(const SRun& r, const SJob& job)
{
    unsigned char header[18];
    if (!job.failure.empty() || !ReadHeader(job.src.c_str(), header))
        return {false, 0};
    SProbe p = {false, BufferBytes(header)};
    if (r.settings->update) {
        const bool outDir = r.plan->outDirForm;
        const SFileInfo src = FileInfo(job.src.c_str(), true), dst = FileInfo(job.dst.c_str(), !outDir);
        p.upToDate = dst.regular && !(outDir && ToReplace(dst)) && dst.size == ConvertedSize(header) &&
                     dst.time >= src.time;
    }
    return p;
}

void Callbacks(SRun& r)
{
    r.counts.seconds = MonotonicSeconds() - r.start;
    if (r.settings->onProgress != nullptr)
        r.settings->onProgress(r.settings->context, &r.counts);
}

// A job has ended: counted, printed, handed to the host. Under the monitor.
void Report(SRun& r, std::size_t j, int outcome, const std::vector<std::string>& messages)
{
    std::int32_t& count = outcome == QUARNEL_JOB_CONVERTED ? r.counts.converted
                          : outcome == QUARNEL_JOB_SKIPPED   ? r.counts.skipped
                                                             : r.counts.failed;
    ++count;
    const SJob& job = r.plan->jobs[j];
    try {
        for (const std::string& text : messages)
            SayFailure(*r.console, text);
        SayEnd(*r.console);
        if (r.settings->onJob != nullptr) {
            std::vector<const char*> texts;
            for (const std::string& text : messages)
                texts.push_back(text.c_str());
            const SQuarnelJobReport report = {static_cast<std::uint32_t>(sizeof report),
                                              static_cast<std::int32_t>(Place(r, j)),
                                              outcome,
                                              static_cast<std::int32_t>(texts.size()),
                                              job.src.c_str(),
                                              job.dst.c_str(),
                                              texts.data()};
            r.settings->onJob(r.settings->context, &report);
        }
    } catch (const std::exception&) {
        // Out of memory for a line: the counts still hold.
    }
    r.counts.unwritten = r.console->unwritten;
    Callbacks(r);
}

// The next job to convert, in plan order, once it fits beside the running
// jobs' buffers (alone when it fits nowhere); false when none is left or the
// batch is cancelled. Jobs --update skips are reported on the way.
bool Take(SRun& r, std::size_t& j, std::uint64_t& need)
{
    r.monitor.Lock();
    while (r.turnTaken)
        r.monitor.Wait();
    r.turnTaken = true;
    bool taken = false;
    while (!taken && !Cancelled(r) && r.next < r.plan->jobs.size()) {
        j = r.next++;
        // Files are looked at with the lock free, still in turn.
        r.monitor.Unlock();
        const SProbe probe = Probe(r, r.plan->jobs[j]);
        r.monitor.Lock();
        if (probe.upToDate) {
            Report(r, j, QUARNEL_JOB_SKIPPED, {});
            continue;
        }
        while (r.counts.running > 0 && r.inUse + probe.need > r.budget)
            r.monitor.Wait();
        if (Cancelled(r))
            break;
        need = probe.need;
        r.inUse += need;
        ++r.counts.running;
        ++r.counts.started;
        try {
            SayStart(*r.console, static_cast<int>(j) + 1, r.plan->jobs[j].src);
        } catch (const std::exception&) {
        }
        Callbacks(r);
        taken = true;
    }
    r.turnTaken = false;
    r.monitor.WakeAll();
    r.monitor.Unlock();
    return taken;
}

// Below OUT, the folders on the way to the map are made, or replaced where
// something else stands there, never followed: nothing is written outside
// OUT. What stands at the map's own name and would lead elsewhere (a link,
// another name of a file, a FIFO, a device) is moved aside to a hidden name
// of this job's in the same folder: the module then writes a new file there,
// and a failed job puts it back.
std::string PrepareMap(const SJob& job, std::size_t j, std::string& aside)
{
    for (std::size_t i = job.below + 1; i < job.dst.size(); ++i) {
        if (!IsPathSeparator(job.dst[i]) || IsPathSeparator(job.dst[i - 1]))
            continue;
        const std::string folder = job.dst.substr(0, i);
        const SFileInfo info = FileInfo(folder.c_str(), false);
        if (info.folder && !info.link)
            continue;
        if ((info.exists && !(info.link && RemoveName(folder.c_str()))) || !MakeFolder(folder.c_str()))
            return "cannot make the folder '" + folder + "'";
    }
    if (!ToReplace(FileInfo(job.dst.c_str(), false)))
        return "";
    std::size_t name = job.dst.size();
    while (name > 0 && !IsPathSeparator(job.dst[name - 1]))
        --name;
    // The name is this process's and job's own, but a killed run's may be
    // left there (an earlier process of the same number, in a container).
    const std::string stem = job.dst.substr(0, name) + ".quarnel-" + std::to_string(ProcessId()) + "-" +
                             std::to_string(j);
    for (int k = 0; k < 100; ++k) {
        aside = stem + (k == 0 ? "" : "-" + std::to_string(k)) + ".old";
        if (MoveName(job.dst.c_str(), aside.c_str()))
            return "";
        if (!FileInfo(aside.c_str(), false).exists)
            break;
    }
    aside.clear();
    return "cannot replace '" + job.dst + "'";
}

void Convert(const SRun& r, std::size_t j, SJobMessages& messages)
{
    const SJob& job = r.plan->jobs[j];
    std::string aside;
    try {
        std::string why = job.failure;
        if (why.empty() && r.plan->outDirForm)
            why = PrepareMap(job, Place(r, j), aside);
        if (!why.empty()) {
            messages.shown = true;
            messages.texts.push_back(why);
            return;
        }
        SCreateBumpMap record = {};
        std::memcpy(record.srcpath, job.src.c_str(), job.src.size() + 1);
        std::memcpy(record.dstpath, job.dst.c_str(), job.dst.size() + 1);
        record.texelsize = r.settings->texelsize;
        t_messages = &messages;
        r.settings->create(&record, 1);
        t_messages = nullptr;
    } catch (const std::exception&) {
        messages.shown = true;
    }
    if (aside.empty())
        return;
    // A failed job wrote nothing at the name, so the old one goes back.
    if (messages.shown ? !MoveName(aside.c_str(), job.dst.c_str()) : !RemoveName(aside.c_str())) {
        messages.shown = true;
        try {
            messages.texts.push_back("what stood at '" + job.dst + "' is left at '" + aside + "'");
        } catch (const std::exception&) {
        }
    }
}

void Work(void* context)
{
    SRun& r = *static_cast<SRun*>(context);
    std::size_t j = 0;
    std::uint64_t need = 0;
    while (Take(r, j, need)) {
        SJobMessages messages;
        Convert(r, j, messages);
        r.monitor.Lock();
        r.inUse -= need;
        --r.counts.running;
        Report(r, j, messages.shown ? QUARNEL_JOB_FAILED : QUARNEL_JOB_CONVERTED, messages.texts);
        r.monitor.WakeAll();
        r.monitor.Unlock();
    }
}

// OUT and the folders on the way to it, links followed: the user named it.
bool MakeFolderPath(const std::string& path)
{
    for (std::size_t i = 1; i < path.size(); ++i)
        if (IsPathSeparator(path[i]) && !IsPathSeparator(path[i - 1]))
            MakeFolder(path.substr(0, i).c_str());
    return MakeFolder(path.c_str());
}

}  // namespace

bool TakeMessage(const char* text)
{
    SJobMessages* messages = t_messages;
    if (messages == nullptr)
        return false;
    messages->shown = true;
    try {
        messages->texts.emplace_back(text);
    } catch (const std::exception&) {
        // The job has failed all the same.
    }
    return true;
}

bool TakesMessages(CreateBumpMapsFn create)
{
    SCreateBumpMap record;
    std::memset(&record, 'x', sizeof record);
    SJobMessages messages;
    t_messages = &messages;
    create(&record, 1);
    t_messages = nullptr;
    return messages.shown;
}

std::uint64_t BufferBytes(const unsigned char (&h)[18])
{
    // The pixels, the normals and the heights: 3 + 3 + 1 bytes a pixel.
    return 7ull * ReadU16(h + 12) * ReadU16(h + 14);
}

std::uint64_t ConvertedSize(const unsigned char (&h)[18])
{
    // The header, the ID field, the colour map and three bytes a pixel.
    const std::uint64_t cmap = h[1] == 1 ? static_cast<std::uint64_t>(ReadU16(h + 5)) * ((h[7] + 7u) / 8) : 0;
    return 18 + h[0] + cmap + 3ull * ReadU16(h + 12) * ReadU16(h + 14);
}

int RunPlan(const SPlan& plan, const SRunSettings& settings, SConsole& console, SQuarnelBatchCounts& counts,
            std::string& why)
{
    SRun r;
    r.plan = &plan;
    r.settings = &settings;
    r.console = &console;
    const std::uint64_t physical = PhysicalMemory();
    r.budget = settings.memory > 0 ? settings.memory : physical > 0 ? physical / 2 : UINT64_MAX;
    r.start = MonotonicSeconds();
    r.counts = {static_cast<std::uint32_t>(sizeof r.counts), static_cast<std::int32_t>(plan.jobs.size()), 0, 0, 0, 0, 0, 0, 0};
    BeginConsole(console, r.counts.jobs);
    if (plan.outDirForm && !MakeFolderPath(plan.outDir)) {
        why = "cannot make the folder '" + plan.outDir + "'";
        SayFailure(console, why);
        counts = r.counts;
        return QUARNEL_BATCH_FAILED;
    }
    int workers = settings.workers > 0 ? settings.workers : AvailableProcessors();
    if (plan.serial)
        workers = 1;
    if (static_cast<std::size_t>(workers) > plan.jobs.size())
        workers = plan.jobs.empty() ? 1 : static_cast<int>(plan.jobs.size());
    RunThreads(workers, Work, &r);
    r.counts.seconds = MonotonicSeconds() - r.start;
    const bool cancelled = Cancelled(r);
    SaySummary(console, r.counts, cancelled);
    r.counts.unwritten = console.unwritten;
    counts = r.counts;
    if (cancelled)
        return QUARNEL_BATCH_CANCELLED;
    if (r.counts.failed > 0)
        return QUARNEL_BATCH_FAILED;
    return r.counts.unwritten > 0 ? QUARNEL_BATCH_UNREPORTED : QUARNEL_BATCH_DONE;
}
