// A host that links Quarnel.lib instead of calling GetProcAddress, as a
// program built with Microsoft's compiler does when it includes Quarnel.h:
// the Windows loader binds the import by the decorated name at start-up.
#include <gtest/gtest.h>
#include <windows.h>

#include "TestSupport.h"
#include "reference/ReferenceConvert.h"

#if defined(_MSC_VER)
#define LinkedCreateBumpMaps CreateBumpMaps
#else
// This compiler's own name for CreateBumpMaps differs; ask for Microsoft's,
// which is the one the import library defines.
#if defined(_WIN64)
void LinkedCreateBumpMaps(SCreateBumpMap*, int) __asm__("\"?CreateBumpMaps@@YAXPEAUSCreateBumpMap@@H@Z\"");
#else
void LinkedCreateBumpMaps(SCreateBumpMap*, int) __asm__("\"?CreateBumpMaps@@YAXPAUSCreateBumpMap@@H@Z\"");
#endif
#endif

namespace {

using namespace testsupport;

// Called, not taken by address: the import's quoted name has no pointer of its own.
void CallLinked(SCreateBumpMap* maps, int count)
{
    LinkedCreateBumpMaps(maps, count);
}

TEST(LinkedHost, ConvertsAndShowsOnePlainMessage)
{
    ASSERT_NE(InstallMessageRecorder(GetModuleHandleA("Quarnel.dll")), nullptr);
    TempDir tmp;
    const Bytes source = RandomTga(19, 4, 7);
    const std::string src = tmp.Path("src.tga"), dst = tmp.Path("dst.tga"), missing = tmp.Path("missing.tga");
    WriteFile(src, source);
    EXPECT_EQ(RunJobs({Job(src, dst, 0.25f), Job(missing, dst)}, CallLinked),
              Strings{"Cant open " + Quote(missing) + " for reading"});
    EXPECT_EQ(ReadFile(dst), reference::ConvertFile(source, 0.25f));
}

}  // namespace
