#include "Interrupt.h"

#include <atomic>

#include <windows.h>

namespace {

std::atomic<QuarnelBatch*> g_batch{nullptr};
std::atomic<int> g_status{130};

// Runs on a thread of its own that the system starts.
BOOL WINAPI Cancel(DWORD event)
{
    if (event != CTRL_C_EVENT && event != CTRL_BREAK_EVENT)
        return FALSE;
    g_status = event == CTRL_C_EVENT ? 130 : 143;
    QuarnelBatchCancel(g_batch.load());
    return TRUE;
}

}  // namespace

void CancelOnInterrupt(QuarnelBatch* batch)
{
    g_batch.store(batch);
    SetConsoleCtrlHandler(Cancel, batch != nullptr);
}

int InterruptStatus()
{
    return g_status;
}

void IgnoreBrokenPipe()
{
}
