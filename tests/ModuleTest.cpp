// The built module as a host sees it: loaded at run time, one decorated export.
#include <gtest/gtest.h>

#include <dlfcn.h>
#include <pthread.h>

#include <cstdio>
#include <string>
#include <vector>

#include "TestSupport.h"
#include "reference/ReferenceConvert.h"

// The host's MessageBoxA, which the module finds in this executable: each
// call recorded, and shown as the module shows a message by itself.
struct SBoxCall {
    const void* owner;
    std::string caption;
    unsigned type;
    pthread_t thread;
};
static std::vector<SBoxCall> g_boxes;

extern "C" __attribute__((visibility("default"))) int MessageBoxA(void* owner, const char* text, const char* caption,
                                                                  unsigned type)
{
    g_boxes.push_back({owner, caption, type, pthread_self()});
    std::fprintf(stderr, "%s: %s\n", caption, text);
    return 1;
}

namespace {

using namespace testsupport;

TEST(Module, LoadsAndConvertsThroughItsDecoratedExport)
{
    void* module = dlopen(QUARNEL_MODULE_PATH, RTLD_NOW | RTLD_LOCAL);
    ASSERT_NE(module, nullptr) << dlerror();
    EXPECT_EQ(dlsym(module, "CreateBumpMaps"), nullptr);  // no plain C name
    EXPECT_EQ(dlsym(module, "_Z13CreateBumpMapRK14SCreateBumpMap"), nullptr);
    auto createBumpMaps =
        reinterpret_cast<CreateBumpMapsFn>(dlsym(module, "_Z14CreateBumpMapsP14SCreateBumpMapi"));
    ASSERT_NE(createBumpMaps, nullptr);

    TempDir tmp;
    const std::string src = tmp.Path("src.tga"), dst = tmp.Path("dst.tga");
    const Bytes source = RandomTga(33, 17, 31);
    WriteFile(src, source);
    EXPECT_EQ(RunJobs({Job(src, dst, 1.5f), Job(tmp.Path("missing.tga"), dst)}, createBumpMaps),
              Strings{"Cant open " + Quote(tmp.Path("missing.tga")) + " for reading"});
    EXPECT_EQ(ReadFile(dst), reference::ConvertFile(source, 1.5f));
    // Shown through the host's MessageBoxA, on the calling thread, as on Windows.
    ASSERT_EQ(g_boxes.size(), 1u);
    EXPECT_EQ(g_boxes[0].owner, nullptr);
    EXPECT_EQ(g_boxes[0].caption, "!!! Error !!!");
    EXPECT_EQ(g_boxes[0].type, 0u);  // MB_OK
    EXPECT_TRUE(pthread_equal(g_boxes[0].thread, pthread_self()));
    dlclose(module);
}

}  // namespace
