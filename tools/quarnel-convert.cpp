// Example host: loads the Quarnel module at run time, as a real host does, and
// makes one CreateBumpMaps call with one record per SRC DST pair.
//
//   quarnel-convert [--module PATH] [--texel-size S] SRC DST [SRC DST ...]
//   quarnel-convert [--texel-size S] converts the bundled sample height map
//                                    (texel size 1/16 unless given)
#include <cerrno>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "Quarnel.h"

#if defined(_WIN32)
#include <windows.h>
#else
#include <dlfcn.h>
#endif

namespace {

constexpr float kSampleTexelSize = 0.0625f;

// The header's type, calling convention included (__cdecl on Windows).
using CreateBumpMapsFn = decltype(&CreateBumpMaps);

// The export's type-decorated name, as each platform's C++ compiler spells it.
#if defined(_WIN32) && defined(_WIN64)
constexpr const char* kModuleName = "Quarnel.dll";
constexpr const char* kExportName = "?CreateBumpMaps@@YAXPEAUSCreateBumpMap@@H@Z";
#elif defined(_WIN32)
constexpr const char* kModuleName = "Quarnel.dll";
constexpr const char* kExportName = "?CreateBumpMaps@@YAXPAUSCreateBumpMap@@H@Z";
#else
constexpr const char* kModuleName = "libQuarnel.so";
constexpr const char* kExportName = "_Z14CreateBumpMapsP14SCreateBumpMapi";
#endif

// Returns the export or null after saying why. The module stays loaded until exit.
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

bool SetPath(char (&field)[512], const char* path)
{
    const std::size_t len = std::strlen(path);
    if (len >= sizeof field) {
        std::fprintf(stderr, "quarnel-convert: path longer than %zu bytes: %s\n", sizeof field - 1, path);
        return false;
    }
    std::memcpy(field, path, len + 1);
    return true;
}

int Usage()
{
    std::fprintf(stderr,
                 "usage: quarnel-convert [--module PATH] [--texel-size S] SRC DST [SRC DST ...]\n"
                 "       quarnel-convert   (converts the bundled sample)\n");
    return 2;
}

}  // namespace

int main(int argc, char** argv)
{
    const char* module = kModuleName;
    float texelsize = 1.0f;
    bool texelsizeGiven = false;
    std::vector<const char*> paths;
    for (int i = 1; i < argc; ++i) {
        if (std::strcmp(argv[i], "--module") == 0 && i + 1 < argc) {
            module = argv[++i];
        } else if (std::strcmp(argv[i], "--texel-size") == 0 && i + 1 < argc) {
            char* end = nullptr;
            errno = 0;
            texelsize = std::strtof(argv[++i], &end);
            texelsizeGiven = true;
            if (end == argv[i] || *end != '\0' || errno == ERANGE)
                return Usage();
        } else if (argv[i][0] == '-' && argv[i][1] == '-') {
            return Usage();
        } else {
            paths.push_back(argv[i]);
        }
    }
    const bool sample = paths.empty();
    if (sample) {
        paths.push_back(QUARNEL_SAMPLE_SOURCE);
        paths.push_back(QUARNEL_SAMPLE_DESTINATION);
        // The sample's slopes rise over tens of pixels; at 1.0 they would look flat.
        if (!texelsizeGiven)
            texelsize = kSampleTexelSize;
    }
    if (paths.size() % 2 != 0)
        return Usage();

    std::vector<SCreateBumpMap> jobs(paths.size() / 2);
    for (std::size_t j = 0; j < jobs.size(); ++j) {
        if (!SetPath(jobs[j].srcpath, paths[2 * j]) || !SetPath(jobs[j].dstpath, paths[2 * j + 1]))
            return 2;
        jobs[j].texelsize = texelsize;
    }

    const CreateBumpMapsFn createBumpMaps = LoadCreateBumpMaps(module);
    if (createBumpMaps == nullptr)
        return 1;
    createBumpMaps(jobs.data(), static_cast<int>(jobs.size()));
    if (sample)
        std::printf("normal map of %s (texel size %g) written to %s\n", paths[0],
                    static_cast<double>(texelsize), paths[1]);
    return 0;
}
