// The built module as a host sees it: loaded at run time, one decorated export.
#include <gtest/gtest.h>

#include <dlfcn.h>

#include <string>
#include <vector>

#include "TestSupport.h"
#include "reference/ReferenceConvert.h"

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
    dlclose(module);
}

}  // namespace
