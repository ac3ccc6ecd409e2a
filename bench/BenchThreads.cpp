#include "BenchThreads.h"

#include <vector>

#if defined(_WIN32)
#include <windows.h>
#else
#include <pthread.h>
#endif

namespace {

struct SStart {
    void (*body)(void*);
    void* context;
};

#if defined(_WIN32)
DWORD WINAPI Main(void* arg)
#else
void* Main(void* arg)
#endif
{
    const SStart* start = static_cast<const SStart*>(arg);
    start->body(start->context);
    return 0;
}

}  // namespace

void RunThreads(int count, void (*body)(void*), void* context)
{
    SStart start = {body, context};
#if defined(_WIN32)
    std::vector<HANDLE> threads;
    for (int i = 1; i < count; ++i)
        if (const HANDLE t = CreateThread(nullptr, 0, Main, &start, 0, nullptr))
            threads.push_back(t);
    body(context);
    for (HANDLE t : threads) {
        WaitForSingleObject(t, INFINITE);
        CloseHandle(t);
    }
#else
    std::vector<pthread_t> threads;
    for (int i = 1; i < count; ++i) {
        pthread_t t;
        if (pthread_create(&t, nullptr, Main, &start) == 0)
            threads.push_back(t);
    }
    body(context);
    for (pthread_t t : threads)
        pthread_join(t, nullptr);
#endif
}
