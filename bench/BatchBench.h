// quarnel-bench --batch: 64 sources of 1024² and 16 of 2048² written into
// dir, converted by the batch engine one at a time and on two workers,
// and copied by the parallel I/O floor; prints files and MB (of sources) per
// second and the ratios. Returns the exit status.
#ifndef QUARNEL_BATCH_BENCH_H
#define QUARNEL_BATCH_BENCH_H

#include <string>

int RunBatchBench(const std::string& dir, int repeat);

#endif
