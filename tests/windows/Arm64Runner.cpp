// Runs the ARM64 Quarnel.dll beside it as a host does, for a Linux test to
// check: the 1028-byte job records on standard input, one CreateBumpMaps
// call on all of them, each message box as a line "<caption>: <text>" on
// standard output (prefixed "(not a plain error box) " unless it had no
// owner and MB_OK), then "done <count>". Exit status 2 if the module or its
// imports are not as expected. One process for many jobs: under emulation
// every Wine start costs seconds.
//
// C only, and no C runtime start code (none exists for ARM64 here): the
// import libraries come from arm64-imports/.
#include <windows.h>

#include <string.h>

#include "ImportPatch.h"
#include "Quarnel.h"

// msvcrt's own, variadic: Wine's stdio.h would define it inline over a
// va_list (see FormatStandIn).
extern "C" __declspec(dllimport) int __cdecl _snprintf(char* buffer, size_t count, const char* format, ...);

static HANDLE g_out;
static char g_line[1200];
static SCreateBumpMap g_jobs[512];

static void Print(const char* text)
{
    DWORD written = 0;
    WriteFile(g_out, text, (DWORD)strlen(text), &written, NULL);
}

static void Fail(const char* why)
{
    Print(why);
    ExitProcess(2);
}

static int WINAPI RecordMessageBox(HWND owner, LPCSTR text, LPCSTR caption, UINT type)
{
    const char* plain = owner == NULL && type == MB_OK ? "" : "(not a plain error box) ";
    _snprintf(g_line, sizeof g_line - 1, "%s%s: %s\n", plain, caption != NULL ? caption : "(null)",
              text != NULL ? text : "(null)");
    g_line[sizeof g_line - 1] = '\0';
    Print(g_line);
    return IDOK;
}

// Wine 8.0's ARM64 C runtime is built for Linux and reads a va_list as
// Linux's AArch64 ABI lays it out; on Windows ARM64 it is a pointer to
// 8-byte slots, so the module's formatting faults there. This stand-in for
// ucrtbase's __stdio_common_vsprintf reads the slots itself and makes a
// variadic call, which Wine's runtime takes. The module's formats take at
// most two arguments (%s, %d), each one slot.
static int __cdecl FormatStandIn(unsigned __int64 options, char* buffer, size_t count, const char* format,
                                 void* locale, const unsigned __int64* slots)
{
    (void)options;
    (void)locale;
    if (buffer == NULL || count == 0)
        return -1;
    const int n = _snprintf(buffer, count - 1, format, slots[0], slots[1], slots[2], slots[3]);
    buffer[count - 1] = '\0';
    return n;
}

extern "C" void __cdecl RunnerMain(void)
{
    g_out = GetStdHandle(STD_OUTPUT_HANDLE);
    HMODULE module = LoadLibraryA("Quarnel.dll");
    if (module == NULL)
        Fail("no Quarnel.dll\n");
    decltype(&CreateBumpMaps) create =
        (decltype(&CreateBumpMaps))(void*)GetProcAddress(module, "?CreateBumpMaps@@YAXPEAUSCreateBumpMap@@H@Z");
    if (create == NULL)
        Fail("no ?CreateBumpMaps@@YAXPEAUSCreateBumpMap@@H@Z\n");
    if (PatchImport(module, "user32.dll", "MessageBoxA", (void*)&RecordMessageBox) == NULL ||
        PatchImport(module, "ucrtbase.dll", "__stdio_common_vsprintf", (void*)&FormatStandIn) == NULL)
        Fail("no MessageBoxA or __stdio_common_vsprintf import\n");

    const HANDLE in = GetStdHandle(STD_INPUT_HANDLE);
    char* bytes = (char*)g_jobs;
    DWORD total = 0, got = 0;
    while (total < sizeof g_jobs && ReadFile(in, bytes + total, (DWORD)sizeof g_jobs - total, &got, NULL) && got > 0)
        total += got;
    if (total % sizeof g_jobs[0] != 0)
        Fail("standard input is not whole job records\n");

    const int count = (int)(total / sizeof g_jobs[0]);
    create(g_jobs, count);
    _snprintf(g_line, sizeof g_line - 1, "done %d\n", count);
    Print(g_line);
    ExitProcess(0);
}
