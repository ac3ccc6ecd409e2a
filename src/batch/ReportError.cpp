#include "ReportError.h"

#include <cstdarg>
#include <cstdio>

#include "Platform.h"

void ReportError(const char* format, ...)
{
    char text[4000];
    va_list args;
    va_start(args, format);
    if (std::vsnprintf(text, sizeof text, format, args) < 0)
        text[0] = '\0';
    va_end(args);
    ShowErrorMessage(text, "!!! Error !!!");
}
