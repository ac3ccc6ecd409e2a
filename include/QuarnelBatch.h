// QuarnelBatch: the batch engine under the Quarnel tools. It plans a batch of
// conversions from files, folders, SRC DST pairs and list files, runs it on
// worker threads through the Quarnel module, and tells its host what became of
// each job: as data, through callbacks, and, where asked, printed as the
// command line prints it. quarnel-convert and the Python package are thin
// faces over it; any language that can call C (C# through DllImport, Python
// through ctypes) drives it the same way.
//
// Use from a host
//   SQuarnelBatchOptions options;
//   QuarnelBatchInitOptions(&options);
//   options.outDir = "normals";            // null: SRC DST pairs instead
//   options.workers = 4;                   // 0: one per processor
//   options.onJob = OnJob;                 // optional: each job's outcome and messages
//   options.context = &state;
//   QuarnelBatch* batch = QuarnelBatchCreate(&options);   // loads the module
//   QuarnelBatchAdd(batch, "textures");                    // a folder, a file, a pair's half
//   QuarnelBatchAddList(batch, "-");                       // one path a line from standard input
//   SQuarnelBatchCounts counts = {sizeof counts};
//   int status = QuarnelBatchRun(batch, &counts);          // QUARNEL_BATCH_DONE, ...
//   QuarnelBatchDestroy(batch);
//
// A host that spreads a batch over processes or machines plans it once
// (QuarnelBatchPlan instead of QuarnelBatchRun), sends parts of the plan
// to workers that see the same paths, and each runs its part as a batch
// of its own with the same OUT (QuarnelBatchAddJob, then QuarnelBatchRun).
//
// The engine is libQuarnelBatch.so or QuarnelBatch.dll; it exports these
// functions under their plain names (extern "C", __cdecl) and nothing else
// but, on POSIX systems, MessageBoxA (see Messages).
//
// Forms
//   Pairs (outDir null): the paths added are SRC DST SRC DST ..., in order.
//   Where a destination is named twice or is another pair's source (by name
//   or, for files that exist, by identity), the pairs run one after another
//   in the order given, so the files end as one CreateBumpMaps call with all
//   the records would leave them. No folder is made.
//   Out-dir (outDir set): a file added writes OUT/<stem>_n.tga, the stem
//   being its name less the last extension (rock.v2.tga: rock.v2_n.tga). A
//   folder added is walked without recursion, in byte order of names, links
//   followed and each folder once by its identity: every file whose name ends
//   in .tga (any case) writes OUT/<path below the folder>/<stem>_n.tga; one
//   ending in _n.tga is taken for an earlier run's output and left alone.
//   Two sources of one destination, or a destination that is another's
//   source, refuse the plan. Folders under OUT are made as needed, and
//   nothing is ever written outside OUT: a link (or anything but a folder)
//   where a folder under OUT goes is removed and the folder made, and a
//   link, a file with other hard links, a FIFO or a device where a map goes
//   is moved aside (.quarnel-<process>-<job>.old in its folder) so that the
//   map replaces the name, never what it leads to; a failed job puts it back.
//   A folder that cannot be listed, or whose path leaves no room in a job
//   record's 511 bytes, is a job of its own that fails with a message naming
//   it; so is a file found there whose source or map path is too long.
//
// Update (options.update)
//   A job is skipped when its destination is a regular file (in the out-dir
//   form one the engine would not move aside) of the very size its source's
//   header implies, and its time, to the nanosecond the file system keeps, is
//   not older than its source's. The texel size is not tracked: a map made at
//   another texel size counts as up to date. Each job is judged as it is
//   taken, so a dependent pair sees what the pair before it wrote.
//
// Workers and memory
//   Jobs start in plan order on up to options.workers threads, the calling
//   thread among them; fewer when the system starts no more (the batch then
//   runs on those it has, on the caller's alone at worst). The threads it
//   starts hold back the asynchronous signals, so the host's own threads
//   take them. A job is admitted when the buffers of the running jobs and
//   its own (7 bytes a pixel, read from its header) fit options.memory; one
//   larger than that runs alone.
//
// Messages
//   A job failed exactly when the module showed a message during its call
//   (the module reports every failure) or the engine had one for it first.
//   The messages are taken as calls on the job's own thread, never as text:
//   on Windows the loaded module's MessageBoxA import is pointed at the
//   engine's handler; elsewhere the module calls MessageBoxA wherever the
//   process defines it, and the engine defines it (as an export, made global
//   when the engine is loaded: hosts link it or load it with RTLD_GLOBAL). A
//   message on a thread that runs no job of the engine's is shown as the
//   module would show it: a box on Windows, a line on standard error. A
//   module whose messages do not reach the engine (an older one, or another
//   MessageBoxA found first) is refused when it is loaded: one record it
//   refuses before naming any file must show its message.
//   No process-wide descriptor, handle or setting is changed, but that on
//   POSIX systems, when the console is on, a closed standard output or error
//   gets /dev/null on its number, so no file opened later lands there (its
//   lines then count as unwritten).
//
// Console (options.console)
//   What the command lines print, written by the engine so every face prints
//   it alike. Control characters in printed text (names, messages), C1's
//   among them, and where paths are UTF-8 each byte outside it, are
//   written as \xHH. Each line goes out whole in one write.
//     NONE      nothing
//     QUIET     "<program>: <message>" on standard error for each failure,
//               and each refusal
//     LINES     and "[k/N] SRC" on standard output as job k starts, then
//               "N converted, K skipped, M failed"
//     TERMINAL  one line in place instead of the start lines: jobs done of
//               the total, jobs per second and the time left; other lines
//               are written below it and it is drawn again
//     AUTO      TERMINAL when standard output is a terminal, else LINES
//   A cancelled batch ends with "<program>: interrupted: N converted, K
//   skipped, M failed, R not started" on standard error instead of the
//   summary. A closed or full output stops nothing: its lines count as
//   unwritten, and the status says so.
//
// Ownership and threads
//   Strings passed in are copied; those passed to callbacks are valid during
//   the call only. One thread at a time may use a batch (different batches
//   on different threads at once); QuarnelBatchCancel may come from any
//   thread or a signal handler, between Create and Destroy. Callbacks run on
//   the worker threads, one at a time for a batch; they may call
//   QuarnelBatchCancel and nothing else of the engine's. No exception leaves
//   the engine. The module stays loaded once loaded.
//
// Records
//   Each record starts with its size in bytes. A host sets it (as
//   QuarnelBatchInitOptions does for the options); the engine reads no
//   field past it, giving those the defaults, and fills no field past it.
//   New fields are only ever added at the end.
#ifndef QUARNEL_BATCH_H
#define QUARNEL_BATCH_H

#include <stdint.h>

#if defined(_WIN32)
#define QUARNEL_BATCH_CALL __cdecl
#if defined(QUARNEL_BATCH_BUILD)
#define QUARNEL_BATCH_API __declspec(dllexport)
#else
#define QUARNEL_BATCH_API __declspec(dllimport)
#endif
#else
#define QUARNEL_BATCH_CALL
#define QUARNEL_BATCH_API __attribute__((visibility("default")))
#endif

#ifdef __cplusplus
extern "C" {
#endif

// What QuarnelBatchRun returns (and QuarnelBatchAdd, QuarnelBatchAddList,
// QuarnelBatchReadValue where they refuse). The command lines exit with the
// first four as they are, and with 128 + the signal's number when cancelled.
enum {
    QUARNEL_BATCH_DONE = 0,        // every job converted or skipped
    QUARNEL_BATCH_FAILED = 1,      // a job failed, or OUT could not be made
    QUARNEL_BATCH_REFUSED = 2,     // a usage error: an option, a path, the plan; nothing ran
    QUARNEL_BATCH_UNREPORTED = 3,  // every job converted or skipped, but a console line was not written
    QUARNEL_BATCH_CANCELLED = 4,   // jobs that had started finished; no other started
    QUARNEL_BATCH_NO_MODULE = 5    // the module could not be loaded or its messages not taken
};

enum { QUARNEL_JOB_CONVERTED = 0, QUARNEL_JOB_SKIPPED = 1, QUARNEL_JOB_FAILED = 2 };

enum {
    QUARNEL_CONSOLE_NONE = 0,
    QUARNEL_CONSOLE_QUIET = 1,
    QUARNEL_CONSOLE_LINES = 2,
    QUARNEL_CONSOLE_TERMINAL = 3,
    QUARNEL_CONSOLE_AUTO = 4
};

// The values a command line gives as text (QuarnelBatchReadValue).
enum { QUARNEL_VALUE_WORKERS = 1, QUARNEL_VALUE_TEXEL_SIZE = 2, QUARNEL_VALUE_MEMORY = 3 };

// One job's end: converted, skipped or failed with its messages. 40 bytes on
// 64-bit systems, 28 on 32-bit ones.
typedef struct SQuarnelJobReport {
    uint32_t size;
    int32_t job;                  // its place in the plan, from 0
    int32_t outcome;              // QUARNEL_JOB_*
    int32_t messageCount;
    const char* srcpath;
    const char* dstpath;          // "" for a folder that could not be walked
    const char* const* messages;  // messageCount texts, the module's or the engine's
} SQuarnelJobReport;

// The batch so far; at the end of QuarnelBatchRun, its outcome.
typedef struct SQuarnelBatchCounts {
    uint32_t size;
    int32_t jobs;       // in the plan
    int32_t started;    // began converting (a skipped job never does)
    int32_t running;    // converting now
    int32_t converted;
    int32_t skipped;
    int32_t failed;
    int32_t unwritten;  // console lines that could not be written
    double seconds;     // since QuarnelBatchRun began
} SQuarnelBatchCounts;

typedef void(QUARNEL_BATCH_CALL* QuarnelJobFn)(void* context, const SQuarnelJobReport* report);
typedef void(QUARNEL_BATCH_CALL* QuarnelProgressFn)(void* context, const SQuarnelBatchCounts* counts);

// A job of a plan, as QuarnelBatchPlan gives it and QuarnelBatchAddJob takes
// it back. 20 bytes on 32-bit systems, 32 on 64-bit ones.
typedef struct SQuarnelPlannedJob {
    uint32_t size;
    int32_t job;          // its place in the plan, from 0
    const char* srcpath;
    const char* dstpath;  // "" for a folder that could not be walked
    const char* failure;  // the engine's message for a job that fails without a call; else ""
} SQuarnelPlannedJob;

typedef void(QUARNEL_BATCH_CALL* QuarnelPlannedFn)(void* context, const SQuarnelPlannedJob* job);

// 80 bytes on 64-bit systems, 56 on 32-bit ones.
typedef struct SQuarnelBatchOptions {
    uint32_t size;
    int32_t workers;            // 1 to 4096, or 0: one per processor this process may run on
    double texelsize;           // finite, not 0, within a float's range; rounded to one
    uint64_t memory;            // bytes for the running jobs' buffers; 0: half of physical memory
    int32_t update;             // non-zero: skip what is up to date (see Update)
    int32_t console;            // QUARNEL_CONSOLE_*
    const char* outDir;         // null: the pair form
    const char* module;         // Quarnel's path; null: beside the engine, then the system's search
    const char* program;        // what console lines start with; null: "quarnel"
    QuarnelJobFn onJob;         // each job as it ends; may be null
    QuarnelProgressFn onProgress;  // after each job starts and ends; may be null
    void* context;              // passed to both
} SQuarnelBatchOptions;

typedef struct QuarnelBatch QuarnelBatch;

// Fills options with the defaults: its size, texel size 1, everything else
// 0 or null.
QUARNEL_BATCH_API void QUARNEL_BATCH_CALL QuarnelBatchInitOptions(SQuarnelBatchOptions* options);

// Reads text as a command line gives a value, with the rule both command
// lines share, into options:
//   WORKERS     a whole number from 1 to 4096
//   TEXEL_SIZE  a number, finite, not 0 and within a float's range
//   MEMORY      a whole number of bytes above 0, or of K, M, G or T (2^10 ...)
// Returns QUARNEL_BATCH_DONE, or QUARNEL_BATCH_REFUSED with a line saying
// what was wrong and what is allowed in why (whySize bytes, cut to fit).
QUARNEL_BATCH_API int32_t QUARNEL_BATCH_CALL QuarnelBatchReadValue(SQuarnelBatchOptions* options, int32_t value,
                                                                   const char* text, char* why, uint32_t whySize);

// A batch with these options, its module loaded. Null only without memory
// or options (or a size below the first version's). A batch whose options
// are refused or whose module does not load is returned all the same: every
// call on it returns that status, and QuarnelBatchWhy says why.
QUARNEL_BATCH_API QuarnelBatch* QUARNEL_BATCH_CALL QuarnelBatchCreate(const SQuarnelBatchOptions* options);

// Adds one path, as a command line's argument: in the pair form half a
// pair, in the out-dir form a file or a folder (walked now). Refuses an
// empty path and one longer than a record's 511 bytes.
QUARNEL_BATCH_API int32_t QUARNEL_BATCH_CALL QuarnelBatchAdd(QuarnelBatch* batch, const char* path);

// Adds each line of the file at listPath ("-": standard input) as
// QuarnelBatchAdd does. Lines end in \n or \r\n; empty lines are passed
// over, so a name that holds a newline (or ends in \r) cannot be listed.
QUARNEL_BATCH_API int32_t QUARNEL_BATCH_CALL QuarnelBatchAddList(QuarnelBatch* batch, const char* listPath);

// Adds a job of a plan made by QuarnelBatchPlan, in a batch of the out-dir
// form whose OUT is the plan's, spelt alike: its map must lie below OUT (no
// "." or ".." on the way), which keeps every write inside OUT. Its report
// and the name of what is moved aside at its map carry its place in the
// plan, so parts of one plan run at once without meeting. The pair form
// refuses it; a batch takes paths or planned jobs, not both.
QUARNEL_BATCH_API int32_t QUARNEL_BATCH_CALL QuarnelBatchAddJob(QuarnelBatch* batch, const SQuarnelPlannedJob* job);

// Plans the batch as QuarnelBatchRun would begin to, refusing what it would
// refuse, and gives each job to onPlanned (if not null) in plan order on
// this thread. Nothing is written, not even OUT. The batch may still run;
// nothing more can be added to it.
QUARNEL_BATCH_API int32_t QUARNEL_BATCH_CALL QuarnelBatchPlan(QuarnelBatch* batch, QuarnelPlannedFn onPlanned,
                                                              void* context);

// Runs the batch, once, and returns its status; counts (when not null, its
// size set) gets its outcome.
QUARNEL_BATCH_API int32_t QUARNEL_BATCH_CALL QuarnelBatchRun(QuarnelBatch* batch, SQuarnelBatchCounts* counts);

// Starts no more jobs; those running finish. Safe in a signal handler and
// from any thread; a null batch is ignored.
QUARNEL_BATCH_API void QUARNEL_BATCH_CALL QuarnelBatchCancel(QuarnelBatch* batch);

// Why the batch was refused or its module not loaded; "" otherwise. Valid
// until the next call on the batch.
QUARNEL_BATCH_API const char* QUARNEL_BATCH_CALL QuarnelBatchWhy(const QuarnelBatch* batch);

QUARNEL_BATCH_API void QUARNEL_BATCH_CALL QuarnelBatchDestroy(QuarnelBatch* batch);

// Text as the console prints it (control characters, and where paths are
// UTF-8 each byte outside it, as \xHH), for a host's own lines that name
// what a user gave, such as an unknown option: written to out (outSize
// bytes, cut to fit, ended by a NUL). Returns the bytes the whole takes,
// its NUL included; 0 without memory.
QUARNEL_BATCH_API uint32_t QUARNEL_BATCH_CALL QuarnelBatchPrintable(const char* text, char* out, uint32_t outSize);

// The engine's version, "1.0.0".
QUARNEL_BATCH_API const char* QUARNEL_BATCH_CALL QuarnelBatchVersion(void);

#ifdef __cplusplus
}
#endif

#endif
