// The tool's interrupt: SIGINT, SIGTERM and SIGHUP (a closed terminal, a
// dropped connection), Ctrl-C and Ctrl-Break on Windows, cancel the running
// batch, so no new job starts and the running ones finish: nothing is left
// half-made.
#ifndef QUARNEL_TOOLS_INTERRUPT_H
#define QUARNEL_TOOLS_INTERRUPT_H

#include "QuarnelBatch.h"

// From now on an interrupt cancels batch; null: an interrupt does as before.
void CancelOnInterrupt(QuarnelBatch* batch);
// The exit status of an interrupted run: 128 and the signal's number (130
// for SIGINT or Ctrl-C, 143 for SIGTERM or Ctrl-Break, 129 for SIGHUP).
int InterruptStatus();
// A reader of the tool's own output that has gone raises no signal.
void IgnoreBrokenPipe();

#endif
