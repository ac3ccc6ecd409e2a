#include "Interrupt.h"

#include <atomic>
#include <initializer_list>
#include <csignal>

#include <signal.h>

namespace {

std::atomic<QuarnelBatch*> g_batch{nullptr};
volatile std::sig_atomic_t g_signal = SIGINT;

extern "C" void Cancel(int signal)
{
    g_signal = signal;
    QuarnelBatchCancel(g_batch.load());
}

}  // namespace

void CancelOnInterrupt(QuarnelBatch* batch)
{
    g_batch.store(batch);
    struct sigaction action = {};
    action.sa_handler = batch != nullptr ? Cancel : SIG_DFL;
    sigemptyset(&action.sa_mask);
    // The module's reads and writes go on where the signal found them.
    action.sa_flags = SA_RESTART;
    // A signal the tool was started with ignored (a background job of a
    // shell, nohup) stays ignored, as it would without the tool's handler.
    for (const int signal : {SIGINT, SIGTERM, SIGHUP}) {
        struct sigaction before = {};
        if (sigaction(signal, nullptr, &before) == 0 && before.sa_handler != SIG_IGN)
            sigaction(signal, &action, nullptr);
    }
}

int InterruptStatus()
{
    return 128 + g_signal;
}

void IgnoreBrokenPipe()
{
    std::signal(SIGPIPE, SIG_IGN);
}
