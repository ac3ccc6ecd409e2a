// Runs a planned batch on worker threads (QuarnelBatch.h: Update, Workers
// and memory, Messages): each job judged, admitted, prepared, converted by
// one call of the module and reported.
#ifndef QUARNEL_ENGINE_RUN_H
#define QUARNEL_ENGINE_RUN_H

#include <atomic>
#include <cstdint>

#include "Console.h"
#include "Plan.h"
#include "QuarnelBatch.h"

struct SRunSettings {
    CreateBumpMapsFn create;
    float texelsize;
    int workers;           // 0: one per processor
    std::uint64_t memory;  // 0: half of physical memory
    bool update;
    QuarnelJobFn onJob;
    QuarnelProgressFn onProgress;
    void* context;
    const std::atomic<int>* cancelled;
};

// Returns the batch's status; counts gets its outcome, why the reason where
// it could not run at all.
int RunPlan(const SPlan& plan, const SRunSettings& settings, SConsole& console, SQuarnelBatchCounts& counts,
            std::string& why);

// Whether the module's messages reach the engine: one record it refuses
// before naming any file (its srcpath unterminated) must show one.
bool TakesMessages(CreateBumpMapsFn create);

// Bytes of the module's buffers for a job whose source has this header.
std::uint64_t BufferBytes(const unsigned char (&header)[18]);
// Bytes of the map the module writes for it.
std::uint64_t ConvertedSize(const unsigned char (&header)[18]);

#endif
