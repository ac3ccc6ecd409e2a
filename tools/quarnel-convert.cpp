// quarnel-convert: the batch engine's command line. Every rule of a batch is
// the engine's (include/QuarnelBatch.h); this file reads the options, hands
// them over, and turns the outcome into an exit status.
//
//   quarnel-convert [OPTIONS] --out-dir DIR SRC ...
//   quarnel-convert [OPTIONS] SRC DST [SRC DST ...]
//   quarnel-convert [--texel-size S]        converts the bundled sample
//   quarnel-convert --help | --version
#include <cstdio>
#include <string>
#include <vector>

#include "Interrupt.h"
#include "QuarnelBatch.h"

namespace {

constexpr const char* kProgram = "quarnel-convert";
// The sample's slopes rise over tens of pixels; at 1.0 they would look flat.
constexpr const char* kSampleTexelSize = "0.0625";

enum EFlag { kOutDir, kTexelSize, kJobs, kMemory, kUpdate, kFilesFrom, kModule, kQuiet, kHelp, kVersion };

struct SFlag {
    const char* name;
    const char* alias;  // a short or long form, or null
    EFlag id;
    const char* value;  // what the value is, for messages; null for a switch
};

const SFlag kFlags[] = {
    {"--out-dir", nullptr, kOutDir, "DIR"},     {"--texel-size", nullptr, kTexelSize, "S"},
    {"--jobs", "-j", kJobs, "N"},               {"--memory", nullptr, kMemory, "SIZE"},
    {"--update", nullptr, kUpdate, nullptr},    {"--files-from", nullptr, kFilesFrom, "FILE"},
    {"--module", nullptr, kModule, "PATH"},     {"--quiet", "-q", kQuiet, nullptr},
    {"--help", "-h", kHelp, nullptr},           {"--version", nullptr, kVersion, nullptr},
};

struct SCommand {
    SQuarnelBatchOptions options;
    std::string outDir, module;
    bool outDirGiven = false, moduleGiven = false, texelSizeGiven = false, quiet = false;
    std::vector<std::string> paths, lists;  // the lists' paths come after the others
};

const char* const kUsage =
    "usage: quarnel-convert [OPTIONS] --out-dir DIR SRC ...   (SRC: files and folders)\n"
    "       quarnel-convert [OPTIONS] SRC DST [SRC DST ...]\n"
    "       quarnel-convert [--texel-size S]                 (converts the bundled sample)\n"
    "options:\n"
    "  --out-dir DIR      DIR/<name>_n.tga for each SRC file, DIR/<path>/<name>_n.tga below a folder\n"
    "  --texel-size S     distance between neighbouring samples: finite, not 0 (default 1)\n"
    "  -j, --jobs N       worker threads, 1 to 4096 (default: one per processor)\n"
    "  --update           skip a map of the size its source implies that is not older than it\n"
    "  --memory SIZE      bytes the running jobs may take, or K, M, G, T (default: half of memory)\n"
    "  --files-from FILE  more paths, one a line ('-': standard input)\n"
    "  --module PATH      the Quarnel module (default: beside the engine)\n"
    "  -q, --quiet        failures only\n"
    "  -h, --help         this text\n"
    "  --version          the version\n"
    "exit status: 0 all converted or skipped, 1 a job failed, 2 a usage error,\n"
    "             3 the report could not be written, 129, 130 or 143 interrupted\n";

// Text on standard output, for --help and --version: 0, or the status that
// says the report could not be written (a closed or full output).
int Say(const std::string& text)
{
    const bool written = std::fputs(text.c_str(), stdout) >= 0 && std::fflush(stdout) == 0;
    return written ? 0 : QUARNEL_BATCH_UNREPORTED;
}

// What is wrong, an argument as given in it printed as the engine prints names.
int UsageError(const std::string& what)
{
    std::string shown(QuarnelBatchPrintable(what.c_str(), nullptr, 0) + 1u, '\0');
    QuarnelBatchPrintable(what.c_str(), &shown[0], static_cast<std::uint32_t>(shown.size()));
    std::fprintf(stderr, "%s: %s\nTry '%s --help' for more.\n", kProgram, shown.c_str(), kProgram);
    return QUARNEL_BATCH_REFUSED;
}

const SFlag* FindFlag(const std::string& name)
{
    for (const SFlag& flag : kFlags)
        if (name == flag.name || (flag.alias != nullptr && name == flag.alias))
            return &flag;
    return nullptr;
}

// A value a number rule of the engine's decides.
int ReadNumber(SCommand& c, int value, const std::string& name, const std::string& text)
{
    char why[256];
    if (QuarnelBatchReadValue(&c.options, value, text.c_str(), why, sizeof why) != QUARNEL_BATCH_DONE)
        return UsageError(name + ": " + why);
    return -1;
}

// Applies one option and its value: -1 to go on, or the exit status.
int Apply(SCommand& c, const SFlag& flag, const std::string& name, const std::string& value)
{
    switch (flag.id) {
    case kOutDir:
        c.outDir = value;
        c.outDirGiven = true;
        return -1;
    case kTexelSize:
        c.texelSizeGiven = true;
        return ReadNumber(c, QUARNEL_VALUE_TEXEL_SIZE, name, value);
    case kJobs:
        return ReadNumber(c, QUARNEL_VALUE_WORKERS, name, value);
    case kMemory:
        return ReadNumber(c, QUARNEL_VALUE_MEMORY, name, value);
    case kUpdate:
        c.options.update = 1;
        return -1;
    case kFilesFrom:
        c.lists.push_back(value);
        return -1;
    case kModule:
        c.module = value;
        c.moduleGiven = true;
        return -1;
    case kQuiet:
        c.quiet = true;
        return -1;
    case kHelp:
        return Say(kUsage);
    case kVersion:
        return Say(std::string(kProgram) + " " + QUARNEL_VERSION + "\n");
    }
    return -1;
}

// One option, with its value given inline (after "=" or joined) or else the
// next argument, whatever it begins with: -1 to go on, or the exit status.
int Option(SCommand& c, const SFlag& flag, const std::string& name, const std::string* given, int argc, char** argv,
           int& i)
{
    if (flag.value == nullptr)
        return given != nullptr ? UsageError(name + " takes no value") : Apply(c, flag, name, "");
    if (given != nullptr)
        return Apply(c, flag, name, *given);
    if (i + 1 == argc)
        return UsageError(name + " needs a value: " + name + " " + flag.value);
    return Apply(c, flag, name, argv[++i]);
}

// Fills the command from the arguments: -1 to go on, or the exit status.
int ReadFlags(int argc, char** argv, SCommand& c)
{
    bool optionsEnd = false;
    for (int i = 1; i < argc; ++i) {
        const std::string arg = argv[i];
        if (optionsEnd || arg.size() < 2 || arg[0] != '-') {
            c.paths.push_back(arg);
            continue;
        }
        if (arg == "--") {
            optionsEnd = true;
            continue;
        }
        int status = -1;
        if (arg[1] == '-') {
            const std::size_t equals = arg.find('=');
            const std::string name = arg.substr(0, equals);
            const std::string value = equals == std::string::npos ? "" : arg.substr(equals + 1);
            const SFlag* flag = FindFlag(name);
            if (flag == nullptr)
                return UsageError("unknown option '" + arg + "'");
            status = Option(c, *flag, name, equals == std::string::npos ? nullptr : &value, argc, argv, i);
        }
        // Short options, grouped or not: switches, then at most one that
        // takes the rest as its value (-qj2, -qj 2, -j=2).
        for (std::size_t at = 1; arg[1] != '-' && at < arg.size() && status < 0; ++at) {
            const std::string name = {'-', arg[at]};
            const SFlag* flag = FindFlag(name);
            if (flag == nullptr)
                return UsageError("unknown option '" + name + "'" + (arg.size() > 2 ? " in '" + arg + "'" : ""));
            if (flag->value != nullptr && at + 1 < arg.size()) {
                status = Apply(c, *flag, name, arg.substr(arg[at + 1] == '=' ? at + 2 : at + 1));
                break;
            }
            status = Option(c, *flag, name, nullptr, argc, argv, i);
        }
        if (status >= 0)
            return status;
    }
    if (c.outDirGiven && c.paths.empty() && c.lists.empty())
        return UsageError("--out-dir needs a SRC: a file or a folder");
    return -1;
}

int ExitStatus(int status)
{
    // The engine's statuses are the tool's, but that a module that does not
    // load fails the run.
    return status == QUARNEL_BATCH_NO_MODULE ? QUARNEL_BATCH_FAILED : status;
}

int RealMain(int argc, char** argv)
{
    SCommand c;
    QuarnelBatchInitOptions(&c.options);
    const int flags = ReadFlags(argc, argv, c);
    if (flags >= 0)
        return flags;
    const bool sample = !c.outDirGiven && c.paths.empty() && c.lists.empty();
    if (sample) {
        c.paths = {QUARNEL_SAMPLE_SOURCE, QUARNEL_SAMPLE_DESTINATION};
        if (!c.texelSizeGiven)
            QuarnelBatchReadValue(&c.options, QUARNEL_VALUE_TEXEL_SIZE, kSampleTexelSize, nullptr, 0);
    }
    c.options.console = c.quiet ? QUARNEL_CONSOLE_QUIET : QUARNEL_CONSOLE_AUTO;
    c.options.program = kProgram;
    c.options.outDir = c.outDirGiven ? c.outDir.c_str() : nullptr;
    c.options.module = c.moduleGiven ? c.module.c_str() : nullptr;

    QuarnelBatch* batch = QuarnelBatchCreate(&c.options);
    if (batch == nullptr) {
        std::fprintf(stderr, "%s: out of memory\n", kProgram);
        return QUARNEL_BATCH_FAILED;
    }
    int status = QUARNEL_BATCH_DONE;
    for (std::size_t i = 0; i < c.paths.size() + c.lists.size() && status == QUARNEL_BATCH_DONE; ++i)
        status = i < c.paths.size() ? QuarnelBatchAdd(batch, c.paths[i].c_str())
                                    : QuarnelBatchAddList(batch, c.lists[i - c.paths.size()].c_str());
    SQuarnelBatchCounts counts = {sizeof counts, 0, 0, 0, 0, 0, 0, 0, 0};
    if (status == QUARNEL_BATCH_DONE) {
        CancelOnInterrupt(batch);
        status = QuarnelBatchRun(batch, &counts);
        CancelOnInterrupt(nullptr);
    }
    QuarnelBatchDestroy(batch);
    if (status == QUARNEL_BATCH_CANCELLED)
        return InterruptStatus();
    if (sample && counts.converted == 1)
        std::printf("normal map of %s (texel size %g) written to %s\n", QUARNEL_SAMPLE_SOURCE, c.options.texelsize,
                    QUARNEL_SAMPLE_DESTINATION);
    return ExitStatus(status);
}

}  // namespace

int main(int argc, char** argv)
{
    IgnoreBrokenPipe();
    return RealMain(argc, argv);
}
