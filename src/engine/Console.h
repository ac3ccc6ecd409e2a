// What a batch prints where its host asks for it (QuarnelBatch.h, Console):
// the command lines' progress, failures and summary, written once here so
// every face prints them alike. Callers hold the batch's lock around every
// call; each line goes out in one write.
#ifndef QUARNEL_ENGINE_CONSOLE_H
#define QUARNEL_ENGINE_CONSOLE_H

#include <cstddef>
#include <string>

#include "QuarnelBatch.h"

struct SConsole {
    int mode = QUARNEL_CONSOLE_NONE;  // AUTO resolved
    std::string program;
    bool outOpen = false;
    bool errOpen = false;
    int unwritten = 0;
    int total = 0;
    int done = 0;
    double start = 0;
    double drawn = 0;        // when the line in place was drawn last
    std::size_t shown = 0;   // its length
};

void OpenConsole(SConsole& console, int mode, const std::string& program);
void BeginConsole(SConsole& console, int total);
// "<program>: <text>" on standard error, for a failure or a refusal.
void SayFailure(SConsole& console, const std::string& text);
// Job k (from 1) starts converting.
void SayStart(SConsole& console, int k, const std::string& src);
// A job has ended, whatever its outcome.
void SayEnd(SConsole& console);
void SaySummary(SConsole& console, const SQuarnelBatchCounts& counts, bool cancelled);

// The text with control characters (C0, DEL, and C1 as UTF-8 writes them)
// and, where paths are UTF-8, each byte outside UTF-8 as \xHH, so a name
// cannot move the cursor, clear the screen or start a line.
std::string Printable(const std::string& text);

#endif
