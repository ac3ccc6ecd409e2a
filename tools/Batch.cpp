#include "Batch.h"

#include <string>

#include "ConvertJobs.h"
#include "WriteStatus.h"

namespace {

struct SBatch {
    CreateBumpMapsFn create;
    const std::vector<SCreateBumpMap>* jobs;
    std::vector<std::size_t> todo;
    bool makeFolders;
    SMessageRoute* route;
    // Under lock: the next job to take, what was printed, and the outcomes.
    HostMutex lock;
    std::size_t next;
    SProgress progress;
    std::vector<int> messages;  // per job
    std::vector<char> written;  // per job, its destination
    int converted;
    int failed;
};

void Deliver(void* context, int job, const char* text, bool message)
{
    auto* b = static_cast<SBatch*>(context);
    b->lock.Lock();
    if (job >= 0)
        ++b->messages[static_cast<std::size_t>(job)];
    ShowLine(b->progress, message ? std::string("quarnel-convert: ") + text : text, true);
    b->lock.Unlock();
}

// Every message of the job's call is in: it worked when there was none and
// its destination was written.
void Finish(void* context, int job)
{
    auto* b = static_cast<SBatch*>(context);
    const std::size_t j = static_cast<std::size_t>(job);
    b->lock.Lock();
    const bool shown = b->messages[j] > 0;
    if (!b->written[j] && !shown)
        ShowLine(b->progress, std::string("quarnel-convert: ") + (*b->jobs)[j].dstpath + " was not written", true);
    b->written[j] && !shown ? ++b->converted : ++b->failed;
    ShowDone(b->progress);
    b->lock.Unlock();
}

void Convert(SBatch& b, std::size_t j)
{
    const SCreateBumpMap& job = (*b.jobs)[j];
    if (b.makeFolders && !MakeFoldersFor(job.dstpath)) {
        Deliver(&b, static_cast<int>(j), (std::string("cannot make the folder of ") + job.dstpath).c_str(), true);
        Finish(&b, static_cast<int>(j));
        return;
    }
    const FileStamp before = ReadFileStamp(job.dstpath);
    const std::int64_t wait = WaitBeforeCall(before, Now());
    if (wait > 0)
        SleepNanoseconds(wait);
    const long long expected = ExpectedSize(job.srcpath);
    SCreateBumpMap record = job;  // the call takes a pointer to change, though it never does
    EnterJob(b.route, static_cast<int>(j), job.srcpath, job.dstpath);
    b.create(&record, 1);
    const bool written = DestinationWritten(before, ReadFileStamp(job.dstpath), expected);
    b.lock.Lock();
    b.written[j] = written;
    b.lock.Unlock();
    LeaveJob(b.route, static_cast<int>(j));
}

void Work(void* context)
{
    auto& b = *static_cast<SBatch*>(context);
    for (;;) {
        b.lock.Lock();
        if (b.next == b.todo.size()) {
            b.lock.Unlock();
            return;
        }
        const std::size_t j = b.todo[b.next++];
        ShowStart(b.progress, static_cast<int>(b.next), (*b.jobs)[j].srcpath);
        b.lock.Unlock();
        Convert(b, j);
    }
}

}  // namespace

SBatchCounts RunBatch(CreateBumpMapsFn createBumpMaps, const std::vector<SCreateBumpMap>& jobs,
                      const SBatchOptions& options)
{
    SBatch b;
    b.create = createBumpMaps;
    b.jobs = &jobs;
    for (std::size_t j = 0; j < jobs.size(); ++j)
        if (!options.update || !UpToDate(ReadFileStamp(jobs[j].srcpath), ReadFileStamp(jobs[j].dstpath)))
            b.todo.push_back(j);
    b.makeFolders = options.makeFolders;
    b.next = 0;
    b.messages.assign(jobs.size(), 0);
    b.written.assign(jobs.size(), 0);
    b.converted = 0;
    b.failed = 0;
    b.progress = StartProgress(options.progress, stdout, stderr, static_cast<int>(b.todo.size()));
    b.route = BeginMessageRoute({Deliver, Finish, &b});
    b.lock.Lock();
    b.progress.err = RouteErrorStream(b.route);
    b.lock.Unlock();
    const int threads = options.threads < static_cast<int>(b.todo.size()) ? options.threads
                                                                           : static_cast<int>(b.todo.size());
    RunThreads(threads > 1 ? threads : 1, Work, &b);
    EndMessageRoute(b.route);
    b.progress.err = stderr;
    const SBatchCounts counts = {b.converted, static_cast<int>(jobs.size() - b.todo.size()),
                                 b.failed + options.failedBefore};
    ShowSummary(b.progress, counts.converted, counts.skipped, counts.failed);
    return counts;
}
