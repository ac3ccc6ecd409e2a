// What the example host prints while a batch runs. Callers hold one lock
// around every call, and each line goes out in one write, so lines never tear
// or interleave across threads.
//   kLines     "[k/N] SRC" as each job starts (output that is not a terminal)
//   kTerminal  one line updated in place: files done out of the total, files
//              per second and time left; other lines are written below it
//              and it is drawn again after them
//   kQuiet     errors only
#ifndef QUARNEL_PROGRESS_H
#define QUARNEL_PROGRESS_H

#include <cstdint>
#include <cstdio>
#include <string>

enum class EProgress { kLines, kTerminal, kQuiet };

struct SProgress {
    EProgress mode;
    std::FILE* out;
    std::FILE* err;
    int total;
    int done;
    std::int64_t start;  // Now() when the batch began
    std::int64_t drawn;  // Now() when the line in place was last drawn
    std::size_t shown;  // length of the line in place
};

SProgress StartProgress(EProgress mode, std::FILE* out, std::FILE* err, int total);
void ShowStart(SProgress& p, int k, const char* src);
void ShowDone(SProgress& p);
// A line for standard error (stream err), or standard output.
void ShowLine(SProgress& p, const std::string& line, bool err);
// "N converted, K skipped, M failed", in place of the line in place.
void ShowSummary(SProgress& p, int converted, int skipped, int failed);

#endif
