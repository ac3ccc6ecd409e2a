#include "Console.h"

#include <algorithm>
#include <cstdio>

#include "EnginePlatform.h"

namespace {

constexpr int kOut = 1;
constexpr int kErr = 2;

void Put(SConsole& c, int stream, const std::string& text)
{
    if (!(stream == kOut ? c.outOpen : c.errOpen) || !WriteStandard(stream, text))
        ++c.unwritten;
}

// Clears the line in place, so that what is written next starts a clean line.
void Clear(SConsole& c)
{
    if (c.shown > 0)
        Put(c, kOut, '\r' + std::string(c.shown, ' ') + '\r');
    c.shown = 0;
}

void Draw(SConsole& c)
{
    char line[128];
    int n = std::snprintf(line, sizeof line, "[%d/%d]", c.done, c.total);
    const double now = MonotonicSeconds(), seconds = now - c.start;
    if (c.done > 0 && seconds > 0) {
        const double rate = c.done / seconds;
        const long long left = static_cast<long long>((c.total - c.done) / rate + 0.5);
        n += std::snprintf(line + n, sizeof line - static_cast<std::size_t>(n), " %.1f files/s, ", rate);
        if (left >= 3600)
            std::snprintf(line + n, sizeof line - static_cast<std::size_t>(n), "%lld:%02lld:%02lld left", left / 3600,
                          left / 60 % 60, left % 60);
        else
            std::snprintf(line + n, sizeof line - static_cast<std::size_t>(n), "%lld:%02lld left", left / 60, left % 60);
    }
    std::string text = line;
    const std::size_t length = text.size();
    // A shorter line than the last must cover all of it.
    if (length < c.shown)
        text += std::string(c.shown - length, ' ');
    Put(c, kOut, '\r' + text);
    c.shown = length;
    c.drawn = now;
}

void Line(SConsole& c, int stream, const std::string& text)
{
    const bool redraw = c.shown > 0;
    Clear(c);
    Put(c, stream, text + '\n');
    if (redraw)
        Draw(c);
}

// The length of the UTF-8 character at i: 1 to 4 bytes, or 0 where the
// byte begins none (a stray or overlong byte, a surrogate, a cut sequence).
std::size_t Utf8Length(const std::string& text, std::size_t i)
{
    const auto byte = [&](std::size_t k) { return static_cast<unsigned char>(text[k]); };
    const unsigned c = byte(i);
    if (c < 0x80)
        return 1;
    const std::size_t n = c >= 0xC2 && c <= 0xDF ? 2 : c >= 0xE0 && c <= 0xEF ? 3 : c >= 0xF0 && c <= 0xF4 ? 4 : 0;
    if (n == 0 || i + n > text.size())
        return 0;
    // The second byte's range is narrower after E0, ED, F0 and F4.
    const unsigned low = c == 0xE0 ? 0xA0 : c == 0xF0 ? 0x90 : 0x80;
    const unsigned high = c == 0xED ? 0x9F : c == 0xF4 ? 0x8F : 0xBF;
    if (byte(i + 1) < low || byte(i + 1) > high)
        return 0;
    for (std::size_t k = i + 2; k < i + n; ++k)
        if (byte(k) < 0x80 || byte(k) > 0xBF)
            return 0;
    return n;
}

}  // namespace

void OpenConsole(SConsole& c, int mode, const std::string& program)
{
    c.mode = mode;
    c.program = program;
    if (mode == QUARNEL_CONSOLE_NONE)
        return;
    ReserveConsole(c.outOpen, c.errOpen);
    if (mode == QUARNEL_CONSOLE_AUTO)
        c.mode = c.outOpen && IsTerminal(kOut) ? QUARNEL_CONSOLE_TERMINAL : QUARNEL_CONSOLE_LINES;
}

void BeginConsole(SConsole& c, int total)
{
    c.total = total;
    c.start = MonotonicSeconds();
    if (c.mode == QUARNEL_CONSOLE_TERMINAL && total > 0)
        Draw(c);
}

void SayFailure(SConsole& c, const std::string& text)
{
    if (c.mode != QUARNEL_CONSOLE_NONE)
        Line(c, kErr, Printable(c.program + ": " + text));
}

void SayStart(SConsole& c, int k, const std::string& src)
{
    if (c.mode == QUARNEL_CONSOLE_LINES)
        Put(c, kOut, "[" + std::to_string(k) + "/" + std::to_string(c.total) + "] " + Printable(src) + "\n");
}

void SayEnd(SConsole& c)
{
    // Ten times a second at most: a slow terminal must not hold up the batch.
    ++c.done;
    if (c.mode == QUARNEL_CONSOLE_TERMINAL && (c.done == c.total || MonotonicSeconds() - c.drawn >= 0.1))
        Draw(c);
}

void SaySummary(SConsole& c, const SQuarnelBatchCounts& counts, bool cancelled)
{
    Clear(c);
    const std::string line = std::to_string(counts.converted) + " converted, " + std::to_string(counts.skipped) +
                             " skipped, " + std::to_string(counts.failed) + " failed";
    if (cancelled) {
        const int left = counts.jobs - counts.converted - counts.skipped - counts.failed;
        SayFailure(c, "interrupted: " + line + ", " + std::to_string(left) + " not started");
    } else if (c.mode == QUARNEL_CONSOLE_LINES || c.mode == QUARNEL_CONSOLE_TERMINAL) {
        Put(c, kOut, line + "\n");
    }
}

std::string Printable(const std::string& text)
{
    const bool utf8 = PathsAreUtf8();
    std::string out;
    for (std::size_t i = 0; i < text.size();) {
        const std::size_t n = utf8 ? Utf8Length(text, i) : 1;
        const auto c = static_cast<unsigned char>(text[i]);
        // U+0080 to U+009F, C1, are the two bytes C2 80 to C2 9F.
        const bool control = c < 0x20 || c == 0x7F || n == 0 ||
                             (n == 2 && c == 0xC2 && static_cast<unsigned char>(text[i + 1]) <= 0x9F);
        for (const std::size_t end = i + std::max<std::size_t>(n, 1); i < end; ++i) {
            char hex[5];
            std::snprintf(hex, sizeof hex, "\\x%02x", static_cast<unsigned char>(text[i]));
            out += control ? std::string(hex) : std::string(1, text[i]);
        }
    }
    return out;
}
