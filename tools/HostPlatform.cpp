#include "HostPlatform.h"

#include <cstdio>

#if defined(_WIN32)
#include <windows.h>
#else
#include <dlfcn.h>
#include <errno.h>
#include <sys/stat.h>
#include <time.h>
#endif

// The export's type-decorated name, as each platform's C++ compiler spells it.
#if defined(_WIN32) && defined(_WIN64)
const char* const kModuleName = "Quarnel.dll";
static const char* const kExportName = "?CreateBumpMaps@@YAXPEAUSCreateBumpMap@@H@Z";
#elif defined(_WIN32)
const char* const kModuleName = "Quarnel.dll";
static const char* const kExportName = "?CreateBumpMaps@@YAXPAUSCreateBumpMap@@H@Z";
#else
const char* const kModuleName = "libQuarnel.so";
static const char* const kExportName = "_Z14CreateBumpMapsP14SCreateBumpMapi";
#endif

CreateBumpMapsFn LoadCreateBumpMaps(const char* module)
{
#if defined(_WIN32)
    HMODULE handle = LoadLibraryA(module);
    if (handle == nullptr) {
        std::fprintf(stderr, "quarnel-convert: cannot load %s (error %lu)\n", module, GetLastError());
        return nullptr;
    }
    auto fn = reinterpret_cast<CreateBumpMapsFn>(
        reinterpret_cast<void*>(GetProcAddress(handle, kExportName)));
#else
    void* handle = dlopen(module, RTLD_NOW | RTLD_LOCAL);
    if (handle == nullptr) {
        std::fprintf(stderr, "quarnel-convert: cannot load %s: %s\n", module, dlerror());
        return nullptr;
    }
    auto fn = reinterpret_cast<CreateBumpMapsFn>(dlsym(handle, kExportName));
#endif
    if (fn == nullptr)
        std::fprintf(stderr, "quarnel-convert: %s has no export %s\n", module, kExportName);
    return fn;
}

#if defined(_WIN32)

// FILETIME counts 100 ns since 1601 for file times and the clock alike.
static std::int64_t Nanoseconds(FILETIME t)
{
    return static_cast<std::int64_t>((static_cast<std::uint64_t>(t.dwHighDateTime) << 32) | t.dwLowDateTime) * 100;
}

FileStamp ReadFileStamp(const char* path)
{
    WIN32_FILE_ATTRIBUTE_DATA data;
    if (!GetFileAttributesExA(path, GetFileExInfoStandard, &data))
        return {false, false, 0, 0};
    const std::uint64_t size = (static_cast<std::uint64_t>(data.nFileSizeHigh) << 32) | data.nFileSizeLow;
    const bool regular = (data.dwFileAttributes & (FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_DEVICE)) == 0;
    return {true, regular, Nanoseconds(data.ftLastWriteTime), size};
}

std::int64_t Now()
{
    FILETIME now;
    GetSystemTimeAsFileTime(&now);
    return Nanoseconds(now);
}

void SleepNanoseconds(std::int64_t ns)
{
    Sleep(static_cast<DWORD>(ns / 1000000 + 1));
}

bool MakeDirectory(const char* path)
{
    if (CreateDirectoryA(path, nullptr))
        return true;
    const DWORD attributes = GetFileAttributesA(path);
    return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
}

bool IsPathSeparator(char c)
{
    return c == '/' || c == '\\' || c == ':';
}

#else

FileStamp ReadFileStamp(const char* path)
{
    struct stat st;
    if (stat(path, &st) != 0)
        return {false, false, 0, 0};
    return {true, S_ISREG(st.st_mode), static_cast<std::int64_t>(st.st_mtim.tv_sec) * 1000000000 + st.st_mtim.tv_nsec,
            static_cast<std::uint64_t>(st.st_size)};
}

std::int64_t Now()
{
    struct timespec now;
    clock_gettime(CLOCK_REALTIME, &now);
    return static_cast<std::int64_t>(now.tv_sec) * 1000000000 + now.tv_nsec;
}

void SleepNanoseconds(std::int64_t ns)
{
    struct timespec wait = {static_cast<time_t>(ns / 1000000000), static_cast<long>(ns % 1000000000)};
    while (nanosleep(&wait, &wait) != 0 && errno == EINTR) {
    }
}

bool MakeDirectory(const char* path)
{
    struct stat st;
    return mkdir(path, 0777) == 0 || (stat(path, &st) == 0 && S_ISDIR(st.st_mode));
}

bool IsPathSeparator(char c)
{
    return c == '/';
}

#endif
