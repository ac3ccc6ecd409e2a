#include "Progress.h"

#include "HostPlatform.h"

namespace {

void Write(std::FILE* f, const std::string& text)
{
    std::fwrite(text.data(), 1, text.size(), f);
    std::fflush(f);
}

// Clears the line in place, so what is written next starts a clean line.
void Clear(SProgress& p)
{
    if (p.shown > 0)
        Write(p.out, '\r' + std::string(p.shown, ' ') + '\r');
    p.shown = 0;
}

void Draw(SProgress& p)
{
    char line[128];
    int n = std::snprintf(line, sizeof line, "[%d/%d]", p.done, p.total);
    const double seconds = static_cast<double>(Now() - p.start) * 1e-9;
    if (p.done > 0 && seconds > 0) {
        const double rate = p.done / seconds;
        const long long left = static_cast<long long>((p.total - p.done) / rate + 0.5);
        n += std::snprintf(line + n, sizeof line - static_cast<std::size_t>(n), " %.1f files/s, ", rate);
        if (left >= 3600)
            std::snprintf(line + n, sizeof line - static_cast<std::size_t>(n), "%lld:%02lld:%02lld left", left / 3600,
                          left / 60 % 60, left % 60);
        else
            std::snprintf(line + n, sizeof line - static_cast<std::size_t>(n), "%lld:%02lld left", left / 60, left % 60);
    }
    std::string text = line;
    const std::size_t length = text.size();
    if (length < p.shown)
        text += std::string(p.shown - length, ' ');
    Write(p.out, '\r' + text);
    p.shown = length;
    p.drawn = Now();
}

}  // namespace

SProgress StartProgress(EProgress mode, std::FILE* out, std::FILE* err, int total)
{
    SProgress p = {mode, out, err, total, 0, Now(), 0, 0};
    if (mode == EProgress::kTerminal && total > 0)
        Draw(p);
    return p;
}

void ShowStart(SProgress& p, int k, const char* src)
{
    if (p.mode == EProgress::kLines)
        Write(p.out, "[" + std::to_string(k) + "/" + std::to_string(p.total) + "] " + src + "\n");
}

void ShowDone(SProgress& p)
{
    // Ten times a second at most: a slow terminal must not hold up the batch.
    ++p.done;
    if (p.mode == EProgress::kTerminal && (p.done == p.total || Now() - p.drawn >= 100000000))
        Draw(p);
}

void ShowLine(SProgress& p, const std::string& line, bool err)
{
    const bool redraw = p.shown > 0;
    Clear(p);
    Write(err ? p.err : p.out, line + "\n");
    if (redraw)
        Draw(p);
}

void ShowSummary(SProgress& p, int converted, int skipped, int failed)
{
    Clear(p);
    if (p.mode != EProgress::kQuiet)
        Write(p.out, std::to_string(converted) + " converted, " + std::to_string(skipped) + " skipped, " +
                         std::to_string(failed) + " failed\n");
}
