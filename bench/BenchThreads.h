// Runs body(context) on count threads, the caller's among them, and returns
// when every one has ended: the bench's pools, beside the engine's own.
#ifndef QUARNEL_BENCH_THREADS_H
#define QUARNEL_BENCH_THREADS_H

void RunThreads(int count, void (*body)(void*), void* context);

#endif
