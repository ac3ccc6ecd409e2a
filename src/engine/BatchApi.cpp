// The engine's C interface (QuarnelBatch.h): records in and out, a status for
// every call, and no exception past it. Only the standard library's are
// caught: a thread's forced unwinding (pthread_exit, a host ending its
// threads) must pass.
#include <algorithm>
#include <atomic>
#include <cstddef>
#include <cstring>
#include <exception>
#include <new>

#include "Console.h"
#include "Plan.h"
#include "QuarnelBatch.h"
#include "Run.h"
#include "Values.h"

static_assert(sizeof(void*) != 8 || sizeof(SQuarnelBatchOptions) == 80, "SQuarnelBatchOptions layout");
static_assert(sizeof(void*) != 4 || sizeof(SQuarnelBatchOptions) == 56, "SQuarnelBatchOptions layout");
static_assert(sizeof(SQuarnelBatchCounts) == 40, "SQuarnelBatchCounts layout");
static_assert(sizeof(SQuarnelJobReport) == 16 + 3 * sizeof(void*), "SQuarnelJobReport layout");
static_assert(sizeof(SQuarnelPlannedJob) == 8 + 3 * sizeof(void*), "SQuarnelPlannedJob layout");

struct QuarnelBatch {
    SQuarnelBatchOptions options;
    std::string outDir, module;
    // DONE, or what every call now returns: a refusal, no module, a run.
    int32_t status = QUARNEL_BATCH_DONE;
    std::string why;
    bool ran = false;
    bool planned = false;  // the plan is finished: nothing more is added
    // What was added so far: paths, or jobs of a plan made elsewhere.
    enum class EAdded { kNothing, kPaths, kJobs } added = EAdded::kNothing;
    CreateBumpMapsFn create = nullptr;
    SPlan plan;
    SConsole console;
    std::atomic<int> cancelled{0};
};

namespace {

// Text into a host's buffer of size bytes, cut to fit, ended by a NUL.
void CopyText(const std::string& text, char* out, uint32_t size)
{
    if (out == nullptr || size == 0)
        return;
    const std::size_t n = std::min<std::size_t>(text.size(), size - 1);
    std::memcpy(out, text.data(), n);
    out[n] = '\0';
}

static_assert(std::atomic<int>::is_always_lock_free, "a cancel from a signal handler needs a lock-free flag");

int32_t Refuse(QuarnelBatch& b, int32_t status, const std::string& why)
{
    b.status = status;
    b.why = why;
    SayFailure(b.console, why);
    return status;
}

// Each entry point's body, run so that no exception leaves the engine.
template <typename Body>
int32_t Guarded(QuarnelBatch* b, Body body)
{
    if (b == nullptr)
        return QUARNEL_BATCH_REFUSED;
    if (b->status != QUARNEL_BATCH_DONE)
        return b->status;
    try {
        return body(*b);
    } catch (const std::exception&) {
        b->status = QUARNEL_BATCH_FAILED;
        b->why = "out of memory";
        return b->status;
    }
}

void Copy(void* to, std::size_t toSize, const void* from, std::size_t fromSize)
{
    std::memcpy(to, from, std::min(toSize, fromSize));
}

// Why nothing of this kind can be added now; "" when it can.
std::string Closed(QuarnelBatch& b, QuarnelBatch::EAdded kind)
{
    if (b.ran)
        return "the batch has run";
    if (b.planned)
        return "the batch is planned";
    if (b.added != QuarnelBatch::EAdded::kNothing && b.added != kind)
        return "a batch takes paths or planned jobs, not both";
    b.added = kind;
    return "";
}

// Finishes the plan once, for QuarnelBatchPlan or QuarnelBatchRun.
std::string Finish(QuarnelBatch& b)
{
    if (b.planned)
        return "";
    b.planned = true;
    return FinishPlan(b.plan);
}

}  // namespace

extern "C" {

void QUARNEL_BATCH_CALL QuarnelBatchInitOptions(SQuarnelBatchOptions* options)
{
    if (options == nullptr)
        return;
    *options = SQuarnelBatchOptions{};
    options->size = sizeof *options;
    options->texelsize = 1.0;
}

int32_t QUARNEL_BATCH_CALL QuarnelBatchReadValue(SQuarnelBatchOptions* options, int32_t value, const char* text,
                                                  char* why, uint32_t whySize)
{
    try {
        SQuarnelBatchOptions o;
        QuarnelBatchInitOptions(&o);
        if (options == nullptr || options->size < sizeof o || text == nullptr)
            return QUARNEL_BATCH_REFUSED;
        Copy(&o, sizeof o, options, options->size);
        const std::string reason = ReadValue(o, value, text);
        CopyText(reason, why, whySize);
        if (!reason.empty())
            return QUARNEL_BATCH_REFUSED;
        Copy(options, sizeof o, &o, sizeof o);
        return QUARNEL_BATCH_DONE;
    } catch (const std::exception&) {
        return QUARNEL_BATCH_REFUSED;
    }
}

QuarnelBatch* QUARNEL_BATCH_CALL QuarnelBatchCreate(const SQuarnelBatchOptions* options)
{
    if (options == nullptr || options->size < sizeof(SQuarnelBatchOptions))
        return nullptr;
    QuarnelBatch* b = new (std::nothrow) QuarnelBatch;
    if (b == nullptr)
        return nullptr;
    Guarded(b, [options](QuarnelBatch& batch) {
        SQuarnelBatchOptions& o = batch.options;
        QuarnelBatchInitOptions(&o);
        Copy(&o, sizeof o, options, options->size);
        OpenConsole(batch.console, o.console >= 0 && o.console <= QUARNEL_CONSOLE_AUTO ? o.console : 0,
                    o.program != nullptr ? o.program : "quarnel");
        std::string why = CheckOptions(o);
        if (why.empty() && o.outDir != nullptr && o.outDir[0] == '\0')
            why = "--out-dir is an empty path";
        if (why.empty() && o.module != nullptr && o.module[0] == '\0')
            why = "--module is an empty path";
        if (!why.empty())
            return Refuse(batch, QUARNEL_BATCH_REFUSED, why);
        batch.plan.outDirForm = o.outDir != nullptr;
        if (o.outDir != nullptr)
            batch.outDir = batch.plan.outDir = o.outDir;
        if (o.module != nullptr)
            batch.module = o.module;
        // The strings are the batch's own from here on.
        o.outDir = batch.plan.outDirForm ? batch.outDir.c_str() : nullptr;
        o.module = o.program = nullptr;
        batch.create = LoadQuarnel(batch.module.empty() ? nullptr : batch.module.c_str(), why);
        // A module that showed its messages elsewhere would pass failed jobs for converted ones.
        if (batch.create != nullptr && !TakesMessages(batch.create))
            why = "the module's messages do not reach the engine (a module older than the engine?)";
        return why.empty() ? QUARNEL_BATCH_DONE : Refuse(batch, QUARNEL_BATCH_NO_MODULE, why);
    });
    return b;
}

int32_t QUARNEL_BATCH_CALL QuarnelBatchAdd(QuarnelBatch* batch, const char* path)
{
    return Guarded(batch, [path](QuarnelBatch& b) {
        std::string why = Closed(b, QuarnelBatch::EAdded::kPaths);
        if (why.empty())
            why = path == nullptr ? "no path" : AddPath(b.plan, path);
        return why.empty() ? QUARNEL_BATCH_DONE : Refuse(b, QUARNEL_BATCH_REFUSED, why);
    });
}

int32_t QUARNEL_BATCH_CALL QuarnelBatchAddList(QuarnelBatch* batch, const char* listPath)
{
    return Guarded(batch, [listPath](QuarnelBatch& b) {
        std::string why = Closed(b, QuarnelBatch::EAdded::kPaths);
        if (why.empty())
            why = listPath == nullptr ? "no list" : AddList(b.plan, listPath);
        return why.empty() ? QUARNEL_BATCH_DONE : Refuse(b, QUARNEL_BATCH_REFUSED, why);
    });
}

int32_t QUARNEL_BATCH_CALL QuarnelBatchAddJob(QuarnelBatch* batch, const SQuarnelPlannedJob* job)
{
    return Guarded(batch, [job](QuarnelBatch& b) {
        std::string why = Closed(b, QuarnelBatch::EAdded::kJobs);
        if (why.empty() && (job == nullptr || job->size < sizeof *job || job->srcpath == nullptr ||
                            job->dstpath == nullptr || job->failure == nullptr))
            why = "no planned job";
        if (why.empty()) {
            SJob planned = {job->srcpath, job->dstpath, 0, job->failure};
            planned.place = job->job;
            why = AddPlanned(b.plan, planned);
        }
        return why.empty() ? QUARNEL_BATCH_DONE : Refuse(b, QUARNEL_BATCH_REFUSED, why);
    });
}

int32_t QUARNEL_BATCH_CALL QuarnelBatchPlan(QuarnelBatch* batch, QuarnelPlannedFn onPlanned, void* context)
{
    return Guarded(batch, [onPlanned, context](QuarnelBatch& b) -> int32_t {
        const std::string why = b.ran ? "the batch has run" : Finish(b);
        if (!why.empty())
            return Refuse(b, QUARNEL_BATCH_REFUSED, why);
        for (std::size_t j = 0; onPlanned != nullptr && j < b.plan.jobs.size(); ++j) {
            const SJob& job = b.plan.jobs[j];
            const SQuarnelPlannedJob planned = {static_cast<uint32_t>(sizeof planned),
                                                job.place >= 0 ? job.place : static_cast<int32_t>(j),
                                                job.src.c_str(), job.dst.c_str(), job.failure.c_str()};
            onPlanned(context, &planned);
        }
        return QUARNEL_BATCH_DONE;
    });
}

int32_t QUARNEL_BATCH_CALL QuarnelBatchRun(QuarnelBatch* batch, SQuarnelBatchCounts* counts)
{
    return Guarded(batch, [counts](QuarnelBatch& b) {
        if (b.ran)
            return Refuse(b, QUARNEL_BATCH_REFUSED, "the batch has run");
        b.ran = true;
        std::string why = Finish(b);
        if (!why.empty())
            return Refuse(b, QUARNEL_BATCH_REFUSED, why);
        const SQuarnelBatchOptions& o = b.options;
        const SRunSettings settings = {b.create,     static_cast<float>(o.texelsize), o.workers, o.memory,
                                       o.update != 0, o.onJob, o.onProgress, o.context, &b.cancelled};
        SQuarnelBatchCounts outcome = {};
        const int32_t status = RunPlan(b.plan, settings, b.console, outcome, why);
        b.why = why;
        // Every field the host's record has room for, but its size.
        const std::size_t skip = sizeof outcome.size;
        if (counts != nullptr && counts->size > skip)
            Copy(reinterpret_cast<char*>(counts) + skip, counts->size - skip,
                 reinterpret_cast<const char*>(&outcome) + skip, sizeof outcome - skip);
        return status;
    });
}

void QUARNEL_BATCH_CALL QuarnelBatchCancel(QuarnelBatch* batch)
{
    if (batch != nullptr)
        batch->cancelled.store(1);
}

const char* QUARNEL_BATCH_CALL QuarnelBatchWhy(const QuarnelBatch* batch)
{
    return batch != nullptr ? batch->why.c_str() : "";
}

void QUARNEL_BATCH_CALL QuarnelBatchDestroy(QuarnelBatch* batch)
{
    delete batch;
}

uint32_t QUARNEL_BATCH_CALL QuarnelBatchPrintable(const char* text, char* out, uint32_t outSize)
{
    try {
        const std::string shown = Printable(text != nullptr ? text : "");
        CopyText(shown, out, outSize);
        return static_cast<uint32_t>(std::min<std::size_t>(shown.size() + 1, UINT32_MAX));
    } catch (const std::exception&) {
        return 0;
    }
}

const char* QUARNEL_BATCH_CALL QuarnelBatchVersion(void)
{
    return QUARNEL_VERSION;
}

}  // extern "C"
