// The ARM64 Quarnel.dll under arm64 Wine and qemu-aarch64, against this
// module: run by the windows-clangcl-arm64 build's tests, which name its
// runner (tests/windows/Arm64Runner.cpp) and .ci/arm64-wine.sh. One runner
// process for every job: each emulated Wine start costs seconds.
#include <gtest/gtest.h>

#include <dlfcn.h>
#include <sys/wait.h>

#include <cstdlib>
#include <string>
#include <vector>

#include "TestSupport.h"

namespace {

using namespace testsupport;

// Under Wine, Z: is the Unix root.
std::string Win(std::string path)
{
    for (char& c : path)
        c = c == '/' ? '\\' : c;
    return "Z:" + path;
}

// Runs the runner once on the jobs: its exit status, and what it printed
// (with its standard error after a failure or a skip).
int RunArm64(const std::vector<SCreateBumpMap>& jobs, const TempDir& tmp, std::string& out)
{
    const auto* records = reinterpret_cast<const std::uint8_t*>(jobs.data());
    WriteFile(tmp.Path("jobs"), Bytes(records, records + jobs.size() * sizeof jobs[0]));
    const int status = std::system(("'" + std::string(std::getenv("QUARNEL_ARM64_WINE")) + "' '" +
                                    std::getenv("QUARNEL_ARM64_RUNNER") + "' <'" + tmp.Path("jobs") + "' >'" +
                                    tmp.Path("out") + "' 2>'" + tmp.Path("err") + "'")
                                       .c_str());
    const Bytes printed = ReadFile(tmp.Path("out")), err = ReadFile(tmp.Path("err"));
    out.assign(printed.begin(), printed.end());
    if (status != 0)
        out.append(err.begin(), err.end());
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

TEST(ModuleArm64, ConvertsAndReportsAsThisModule)
{
    if (std::getenv("QUARNEL_ARM64_WINE") == nullptr || std::getenv("QUARNEL_ARM64_RUNNER") == nullptr)
        GTEST_SKIP() << "run by the windows-clangcl-arm64 build's tests";
    void* module = dlopen(QUARNEL_MODULE_PATH, RTLD_NOW | RTLD_LOCAL);
    ASSERT_NE(module, nullptr) << dlerror();
    auto create = reinterpret_cast<CreateBumpMapsFn>(dlsym(module, "_Z14CreateBumpMapsP14SCreateBumpMapi"));
    ASSERT_NE(create, nullptr);

    // Every accepted source at its texel size and two more, and a row long
    // enough for the NEON fast path's sixteen-pixel steps, converted here.
    TempDir tmp;
    std::vector<SAccepted> accepted;
    for (const SAccepted& a : AcceptedSources())
        for (float texelsize : {a.texelsize, 0.0625f, 3.7f})
            accepted.push_back({a.name, a.file, texelsize});
    accepted.push_back({"wide", RandomTga(333, 7, 5), 1.0f});
    const std::vector<SCreateBumpMap> here = AcceptedJobs(tmp, accepted);
    ASSERT_EQ(RunJobs(here, create), Strings{});

    std::vector<SCreateBumpMap> jobs;
    Strings expected;
    for (const SCreateBumpMap& job : here)
        jobs.push_back(Job(Win(job.srcpath), Win(std::string(job.dstpath) + ".arm64"), job.texelsize));
    // Past MAX_PATH (260) as Windows spells it.
    std::string deep = tmp.dir;
    for (char c : {'x', 'y', 'z'})
        ASSERT_TRUE(MakeFolder(deep += "/" + std::string(90, c)));
    jobs.push_back(Job(Win(here[0].srcpath), Win(deep + "/long.tga"), here[0].texelsize));
    ASSERT_GT(std::string(jobs.back().dstpath).size(), 260u);
    // Each refused source into a destination that must stay as it was.
    const std::vector<SRefused> refused = RefusedSources();
    const Bytes keep = {'k', 'e', 'e', 'p'};
    const auto refusedPath = [&](std::size_t i) { return tmp.Path("refused" + std::to_string(i) + ".tga"); };
    for (std::size_t i = 0; i < refused.size(); ++i) {
        const std::string src = refusedPath(i);
        WriteFile(src, refused[i].file);
        WriteFile(src + ".out", keep);
        jobs.push_back(Job(Win(src), Win(src + ".out")));
        expected.push_back(Quote(Win(src)) + refused[i].message);
    }
    jobs.push_back(Job(Win(tmp.Path("missing.tga")), Win(tmp.Path("missing-out.tga"))));
    expected.push_back("Cant open " + Quote(Win(tmp.Path("missing.tga"))) + " for reading");
    jobs.push_back(Job(Win(here[0].srcpath), "Z:\\dev\\full"));
    expected.push_back("Cant write 'Z:\\dev\\full'");
    for (const SCreateBumpMap& job : UnterminatedJobs(Win(here[0].srcpath), Win(tmp.Path("unterminated.tga"))))
        jobs.push_back(job);
    for (const std::string& message : UnterminatedMessages())
        expected.push_back(message);

    std::string out;
    const int status = RunArm64(jobs, tmp, out);
    if (status == 77)
        GTEST_SKIP() << out;
    ASSERT_EQ(status, 0) << out;
    std::string lines;
    for (const std::string& message : expected)
        lines += "!!! Error !!!: " + message + "\n";
    EXPECT_EQ(out, lines + "done " + std::to_string(jobs.size()) + "\n");

    for (std::size_t i = 0; i < here.size(); ++i)
        EXPECT_TRUE(ReadFile(std::string(here[i].dstpath) + ".arm64") == ReadFile(here[i].dstpath))
            << accepted[i].name << " at texel size " << here[i].texelsize;
    EXPECT_TRUE(ReadFile(deep + "/long.tga") == ReadFile(here[0].dstpath));
    for (std::size_t i = 0; i < refused.size(); ++i)
        EXPECT_TRUE(ReadFile(refusedPath(i) + ".out") == keep && ReadFile(refusedPath(i)) == refused[i].file)
            << refused[i].name << ": its destination or itself changed";
    EXPECT_FALSE(FileExists(tmp.Path("missing-out.tga")) || FileExists(tmp.Path("unterminated.tga")));
    dlclose(module);
}

}  // namespace
