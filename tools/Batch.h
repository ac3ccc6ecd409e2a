// The example host's batch: each record in a call of its own, on several
// threads at once (the library lets hosts call it concurrently on different
// files), with the status the module does not return worked out per job.
#ifndef QUARNEL_BATCH_H
#define QUARNEL_BATCH_H

#include <vector>

#include "HostPlatform.h"
#include "Progress.h"

struct SBatchOptions {
    int threads;
    bool update;  // skip a job whose destination is not older than its source
    bool makeFolders;  // make each destination's folder first
    EProgress progress;
    int failedBefore;  // counted as failed in the summary (folders that could not be read)
};

struct SBatchCounts {
    int converted;
    int skipped;
    int failed;
};

// Runs the jobs and prints the summary line. A job failed when the module
// gave a message during its call, or its destination was not written (see
// WriteStatus.h); each failed job is named in one line on standard error: the
// module's message as "quarnel-convert: <text>", or "<dst> was not written".
SBatchCounts RunBatch(CreateBumpMapsFn createBumpMaps, const std::vector<SCreateBumpMap>& jobs,
                      const SBatchOptions& options);

#endif
