#ifndef QUARNEL_REPORTERROR_H
#define QUARNEL_REPORTERROR_H

#if defined(__GNUC__)
#define QUARNEL_PRINTF(f, a) __attribute__((format(printf, f, a)))
#else
#define QUARNEL_PRINTF(f, a)
#endif

// Formats a message (at most 3999 characters; longer text is cut) and shows it
// to the user under the caption "!!! Error !!!". Returns once it is dismissed.
void ReportError(const char* format, ...) QUARNEL_PRINTF(1, 2);

#endif
