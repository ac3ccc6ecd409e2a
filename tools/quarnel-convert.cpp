// Example host: loads the Quarnel module at run time, as a real host does.
//
//   quarnel-convert [--module PATH] [--texel-size S] SRC DST [SRC DST ...]
//       one CreateBumpMaps call with one record per SRC DST pair
//   quarnel-convert [--module PATH] [--texel-size S] --out-dir DIR SRC ...
//       DIR/<name>_n.tga for each SRC, one call each; exit status 1 when any
//       of them was not written
//   quarnel-convert [--texel-size S]
//       converts the bundled sample height map (texel size 1/16 unless given)
//   quarnel-convert --version
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "ConvertJobs.h"
#include "HostPlatform.h"

namespace {

constexpr float kSampleTexelSize = 0.0625f;

int Usage()
{
    std::fprintf(stderr,
                 "usage: quarnel-convert [--module PATH] [--texel-size S] SRC DST [SRC DST ...]\n"
                 "       quarnel-convert [--module PATH] [--texel-size S] --out-dir DIR SRC ...\n"
                 "       quarnel-convert   (converts the bundled sample)\n"
                 "       quarnel-convert --version\n");
    return 2;
}

}  // namespace

int main(int argc, char** argv)
{
    const char* module = kModuleName;
    const char* outDir = nullptr;
    float texelsize = 1.0f;
    bool texelsizeGiven = false;
    std::vector<const char*> paths;
    for (int i = 1; i < argc; ++i) {
        if (std::strcmp(argv[i], "--version") == 0) {
            std::printf("quarnel-convert %s\n", QUARNEL_VERSION);
            return 0;
        } else if (std::strcmp(argv[i], "--module") == 0 && i + 1 < argc) {
            module = argv[++i];
        } else if (std::strcmp(argv[i], "--out-dir") == 0 && i + 1 < argc) {
            outDir = argv[++i];
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

    std::vector<SCreateBumpMap> jobs;
    if (outDir != nullptr) {
        if (paths.empty())
            return Usage();
        if (!MakeDirJobs(outDir, paths, texelsize, jobs))
            return 2;
        if (!MakeDirectory(outDir)) {
            std::fprintf(stderr, "quarnel-convert: cannot make the folder %s\n", outDir);
            return 1;
        }
        const CreateBumpMapsFn createBumpMaps = LoadCreateBumpMaps(module);
        if (createBumpMaps == nullptr)
            return 1;
        const int unwritten = RunDirJobs(createBumpMaps, jobs);
        if (unwritten != 0)
            std::fprintf(stderr, "quarnel-convert: %d of %zu not written\n", unwritten, jobs.size());
        return unwritten != 0 ? 1 : 0;
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

    jobs.resize(paths.size() / 2);
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
