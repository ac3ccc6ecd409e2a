#include "Values.h"

#include <cfloat>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "Console.h"

namespace {

bool AllDigits(const std::string& text, std::size_t end)
{
    for (std::size_t i = 0; i < end; ++i)
        if (text[i] < '0' || text[i] > '9')
            return false;
    return end > 0;
}

// A whole number of up to 18 digits, which no 64-bit value overflows.
bool ReadWhole(const std::string& text, std::size_t end, std::uint64_t& n)
{
    if (!AllDigits(text, end) || end > 18)
        return false;
    n = std::strtoull(text.substr(0, end).c_str(), nullptr, 10);
    return true;
}

std::string Shown(const std::string& text)
{
    return "'" + Printable(text) + "'";
}

// Finite, not 0 and within a float's range, once rounded to the record's float.
std::string TexelSizeRule(double s, const std::string& shown)
{
    const float f = static_cast<float>(s);
    if (std::isfinite(s) && std::isfinite(f) && f != 0.0f)
        return "";
    char most[32];
    std::snprintf(most, sizeof most, "%.2g", static_cast<double>(FLT_MAX));
    return shown + " is not a texel size: a finite number other than 0, at most " + most + " either way";
}

}  // namespace

std::string ReadValue(SQuarnelBatchOptions& o, int value, const std::string& text)
{
    std::uint64_t n = 0;
    switch (value) {
    case QUARNEL_VALUE_WORKERS:
        if (!ReadWhole(text, text.size(), n) || n < 1 || n > kMaxWorkers)
            return Shown(text) + " is not a number of workers: a whole number from 1 to " +
                   std::to_string(kMaxWorkers);
        o.workers = static_cast<std::int32_t>(n);
        return "";
    case QUARNEL_VALUE_TEXEL_SIZE: {
        char* end = nullptr;
        // strtod would pass over leading white space; a value is the number alone.
        const bool number = !text.empty() && std::strchr(" \t\n\v\f\r", text[0]) == nullptr;
        const double s = number ? std::strtod(text.c_str(), &end) : NAN;
        const std::string why = TexelSizeRule(end != nullptr && *end == '\0' ? s : NAN, Shown(text));
        if (why.empty())
            o.texelsize = s;
        return why;
    }
    case QUARNEL_VALUE_MEMORY: {
        // A whole number of bytes, or of K, M, G or T: powers of 1024.
        static const char kUnits[] = "KMGTkmgt";
        std::size_t digits = text.size(), shift = 0;
        if (const char* unit = digits > 0 ? std::strchr(kUnits, text.back()) : nullptr) {
            digits -= 1;
            shift = 10 * (1 + static_cast<std::size_t>(unit - kUnits) % 4);
        }
        if (!ReadWhole(text, digits, n) || n == 0 || (shift > 0 && n > (UINT64_MAX >> shift)))
            return Shown(text) + " is not a memory budget: a whole number of bytes above 0, or of K, M, G or T " +
                   "(2^10, 2^20, 2^30 or 2^40 bytes)";
        o.memory = n << shift;
        return "";
    }
    default:
        return "no value " + std::to_string(value) + " to read";
    }
}

std::string CheckOptions(const SQuarnelBatchOptions& o)
{
    if (o.workers < 0 || o.workers > kMaxWorkers)
        return "the number of workers is " + std::to_string(o.workers) + ": it goes from 1 to " +
               std::to_string(kMaxWorkers) + ", or is 0 for one per processor";
    if (o.console < QUARNEL_CONSOLE_NONE || o.console > QUARNEL_CONSOLE_AUTO)
        return "no console mode " + std::to_string(o.console);
    char shown[64];
    std::snprintf(shown, sizeof shown, "'%g'", o.texelsize);
    return TexelSizeRule(o.texelsize, shown);
}
