// Example host: loads the Quarnel module at run time, as a real host does.
//
//   quarnel-convert [OPTIONS] --out-dir DIR SRC ...
//       DIR/<name>_n.tga for each SRC file, DIR/<relative path>/<name>_n.tga
//       for each .tga under each SRC folder
//   quarnel-convert [OPTIONS] SRC DST [SRC DST ...]
//   quarnel-convert [--texel-size S]
//       converts the bundled sample height map (texel size 1/16 unless given)
//   quarnel-convert --version
//
// OPTIONS: --module PATH, --texel-size S, -j/--jobs N, --update, --quiet.
// Each record gets a call of its own on one of N threads (by default one per
// processor this process may use); the run ends with "N converted, K skipped,
// M failed" and exits 1 when any job failed, 2 when nothing was run.
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "Batch.h"
#include "ConvertJobs.h"
#include "HostPlatform.h"

namespace {

constexpr float kSampleTexelSize = 0.0625f;

int Usage()
{
    std::fprintf(stderr,
                 "usage: quarnel-convert [OPTIONS] --out-dir DIR SRC ...    (SRC a file or a folder)\n"
                 "       quarnel-convert [OPTIONS] SRC DST [SRC DST ...]\n"
                 "       quarnel-convert [--texel-size S]   (converts the bundled sample)\n"
                 "       quarnel-convert --version\n"
                 "options: --module PATH  --texel-size S  -j, --jobs N  --update  -q, --quiet\n");
    return 2;
}

bool ParseJobs(const char* text, int& jobs)
{
    char* end = nullptr;
    errno = 0;
    const long n = std::strtol(text, &end, 10);
    if (end == text || *end != '\0' || errno == ERANGE || n < 1 || n > 4096)
        return false;
    jobs = static_cast<int>(n);
    return true;
}

}  // namespace

int main(int argc, char** argv)
{
    const char* module = kModuleName;
    const char* outDir = nullptr;
    float texelsize = 1.0f;
    bool texelsizeGiven = false;
    SBatchOptions options = {AvailableProcessors(), false, false, EProgress::kLines, 0};
    bool quiet = false;
    std::vector<const char*> paths;
    bool optionsEnd = false;
    for (int i = 1; i < argc; ++i) {
        const char* arg = argv[i];
        const bool hasValue = i + 1 < argc;
        if (optionsEnd || arg[0] != '-' || arg[1] == '\0') {
            paths.push_back(arg);
        } else if (std::strcmp(arg, "--") == 0) {
            optionsEnd = true;
        } else if (std::strcmp(arg, "--version") == 0) {
            std::printf("quarnel-convert %s\n", QUARNEL_VERSION);
            return 0;
        } else if (std::strcmp(arg, "--module") == 0 && hasValue) {
            module = argv[++i];
        } else if (std::strcmp(arg, "--out-dir") == 0 && hasValue) {
            outDir = argv[++i];
        } else if (std::strcmp(arg, "--texel-size") == 0 && hasValue) {
            char* end = nullptr;
            errno = 0;
            texelsize = std::strtof(argv[++i], &end);
            texelsizeGiven = true;
            if (end == argv[i] || *end != '\0' || errno == ERANGE)
                return Usage();
        } else if ((std::strcmp(arg, "-j") == 0 || std::strcmp(arg, "--jobs") == 0) && hasValue) {
            if (!ParseJobs(argv[++i], options.threads))
                return Usage();
        } else if (std::strncmp(arg, "-j", 2) == 0 && arg[2] != '\0') {
            if (!ParseJobs(arg + 2, options.threads))
                return Usage();
        } else if (std::strcmp(arg, "--update") == 0) {
            options.update = true;
        } else if (std::strcmp(arg, "--quiet") == 0 || std::strcmp(arg, "-q") == 0) {
            quiet = true;
        } else {
            return Usage();
        }
    }

    std::vector<SCreateBumpMap> jobs;
    const bool sample = outDir == nullptr && paths.empty();
    if (outDir != nullptr) {
        if (paths.empty())
            return Usage();
        if (!MakeDirJobs(outDir, paths, texelsize, jobs, options.failedBefore))
            return 2;
        options.makeFolders = true;
        if (!MakeFoldersFor((std::string(outDir) + "/").c_str())) {
            std::fprintf(stderr, "quarnel-convert: cannot make the folder %s\n", outDir);
            return 1;
        }
    } else {
        if (sample) {
            paths.push_back(QUARNEL_SAMPLE_SOURCE);
            paths.push_back(QUARNEL_SAMPLE_DESTINATION);
            // The sample's slopes rise over tens of pixels; at 1.0 they would look flat.
            if (!texelsizeGiven)
                texelsize = kSampleTexelSize;
        }
        if (paths.size() % 2 != 0)
            return Usage();
        if (!MakePairJobs(paths, texelsize, jobs))
            return 2;
        // One call after another in the order given, as a single call would.
        std::string why;
        if (!IndependentJobs(jobs, why))
            options.threads = 1;
    }

    const CreateBumpMapsFn createBumpMaps = LoadCreateBumpMaps(module);
    if (createBumpMaps == nullptr)
        return 1;
    options.progress = quiet ? EProgress::kQuiet : IsTerminal(stdout) ? EProgress::kTerminal : EProgress::kLines;
    const SBatchCounts counts = RunBatch(createBumpMaps, jobs, options);
    if (sample && counts.converted == 1)
        std::printf("normal map of %s (texel size %g) written to %s\n", paths[0], static_cast<double>(texelsize),
                    paths[1]);
    return counts.failed != 0 ? 1 : 0;
}
