// A Windows host of the batch engine, driving it as a C# or Python host does:
// QuarnelBatch.dll loaded at run time, the sources every host must refuse or
// convert run through it as pairs on two workers. Each refused source must be
// named once, in its own job's report, each accepted one converted byte for
// byte, and no message box may wait for anyone: run on a display, one would
// hang the batch.
//
//   quarnel_windows_engine_host [PATH-TO-QuarnelBatch.dll]
#include <windows.h>

#include <cstdio>
#include <string>
#include <vector>

#include "QuarnelBatch.h"
#include "TestSupport.h"
#include "reference/ReferenceConvert.h"

using namespace testsupport;

namespace {

template <typename Fn>
Fn Get(HMODULE engine, const char* name)
{
    return reinterpret_cast<Fn>(reinterpret_cast<void*>(GetProcAddress(engine, name)));
}

void QUARNEL_BATCH_CALL OnJob(void* context, const SQuarnelJobReport* report)
{
    auto& reports = *static_cast<std::vector<Strings>*>(context);
    for (int i = 0; i < report->messageCount; ++i)
        reports[static_cast<std::size_t>(report->job)].push_back(report->messages[i]);
}

}  // namespace

int main(int argc, char** argv)
{
    const HMODULE engine = LoadLibraryA(argc > 1 ? argv[1] : "QuarnelBatch.dll");
    const auto init = Get<decltype(&QuarnelBatchInitOptions)>(engine, "QuarnelBatchInitOptions");
    const auto create = Get<decltype(&QuarnelBatchCreate)>(engine, "QuarnelBatchCreate");
    const auto add = Get<decltype(&QuarnelBatchAdd)>(engine, "QuarnelBatchAdd");
    const auto run = Get<decltype(&QuarnelBatchRun)>(engine, "QuarnelBatchRun");
    const auto destroy = Get<decltype(&QuarnelBatchDestroy)>(engine, "QuarnelBatchDestroy");
    if (engine == nullptr || !init || !create || !add || !run || !destroy) {
        std::printf("cannot load the engine or its functions (error %lu)\n", GetLastError());
        return 1;
    }
    TempDir tmp;
    Strings expected;  // a job's one message, or "" for a map
    std::vector<Bytes> maps;
    for (const SRefused& refused : RefusedSources()) {
        WriteFile(tmp.Path("r" + std::to_string(expected.size()) + ".tga"), refused.file);
        expected.push_back(Quote(tmp.Path("r" + std::to_string(expected.size()) + ".tga")) + refused.message);
        maps.push_back({});
    }
    for (const SAccepted& accepted : AcceptedSources()) {
        WriteFile(tmp.Path("a" + std::to_string(expected.size()) + ".tga"), accepted.file);
        expected.push_back("");
        maps.push_back(reference::ConvertFile(accepted.file, 1.0f));
    }
    std::vector<Strings> reports(expected.size());
    SQuarnelBatchOptions options;
    init(&options);
    options.workers = 2;
    options.onJob = OnJob;
    options.context = &reports;
    QuarnelBatch* batch = create(&options);
    for (std::size_t j = 0; j < expected.size(); ++j) {
        const std::string src = tmp.Path((maps[j].empty() ? "r" : "a") + std::to_string(j) + ".tga");
        add(batch, src.c_str());
        add(batch, (src + "-out.tga").c_str());
    }
    SQuarnelBatchCounts counts = {sizeof counts, 0, 0, 0, 0, 0, 0, 0, 0};
    const int status = run(batch, &counts);
    destroy(batch);
    int faults = status == QUARNEL_BATCH_FAILED ? 0 : 1;
    for (std::size_t j = 0; j < expected.size(); ++j) {
        const Strings want = expected[j].empty() ? Strings{} : Strings{expected[j]};
        const std::string out = tmp.Path((maps[j].empty() ? "r" : "a") + std::to_string(j) + ".tga-out.tga");
        if (reports[j] != want || ReadFile(out) != maps[j] || (maps[j].empty() && FileExists(out))) {
            std::printf("job %zu: %zu messages, the first: %s\n", j, reports[j].size(),
                        reports[j].empty() ? "none" : reports[j][0].c_str());
            ++faults;
        }
    }
    std::printf("%d converted, %d failed, status %d: %d faults\n", counts.converted, counts.failed, status, faults);
    return faults == 0 ? 0 : 1;
}
