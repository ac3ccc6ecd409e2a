// A host that links Quarnel.lib instead of calling GetProcAddress, as a
// program built with Microsoft's compiler does when it includes Quarnel.h:
// the Windows loader binds the import by the decorated name at start-up.
// Converts one image and provokes one message; prints "N passed, N failed".
#include <windows.h>

#include <cstdio>
#include <string>
#include <vector>

#include "HostFiles.h"
#include "ImportPatch.h"
#include "Quarnel.h"
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

std::vector<std::string> g_texts;

int WINAPI RecordMessageBox(HWND owner, LPCSTR text, LPCSTR caption, UINT type)
{
    const bool plain = owner == nullptr && std::string(caption) == "!!! Error !!!" && type == MB_OK;
    g_texts.push_back(plain ? text : "(not a plain error box)");
    return IDOK;
}

SCreateBumpMap Job(const std::string& src, const std::string& dst)
{
    SCreateBumpMap job = {};
    std::snprintf(job.srcpath, sizeof job.srcpath, "%s", src.c_str());
    std::snprintf(job.dstpath, sizeof job.dstpath, "%s", dst.c_str());
    job.texelsize = 0.25f;
    return job;
}

}  // namespace

int main()
{
    int passed = 0, failed = 0;
    auto check = [&](bool ok, const char* what) {
        ok ? ++passed : ++failed;
        if (!ok)
            std::printf("FAILED %s\n", what);
    };
    HMODULE module = GetModuleHandleA("Quarnel.dll");
    check(module != nullptr, "Quarnel.dll is loaded with the program");
    check(module != nullptr && PatchImport(module, "user32.dll", "MessageBoxA",
                                           reinterpret_cast<void*>(&RecordMessageBox)) != nullptr,
          "MessageBoxA is imported from USER32");
    hostfiles::TempDir tmp;
    hostfiles::STgaFields fields;
    fields.width = 19;
    fields.height = 4;
    const hostfiles::Bytes source = hostfiles::RandomTga(fields, 7);
    const std::string src = tmp.Path("src.tga"), dst = tmp.Path("dst.tga"), missing = tmp.Path("missing.tga");
    if (failed == 0 && !tmp.dir.empty() && hostfiles::WriteFile(src, source)) {
        std::vector<SCreateBumpMap> jobs = {Job(src, dst), Job(missing, dst)};
        LinkedCreateBumpMaps(jobs.data(), 2);
        check(hostfiles::ReadFile(dst) == reference::ConvertFile(source, 0.25f), "converts byte for byte");
        check(g_texts == std::vector<std::string>{"Cant open '" + missing + "' for reading"},
              "shows the one message, in a plain error box");
    } else {
        check(false, "cannot set up the test");
    }
    std::printf("%d passed, %d failed\n", passed, failed);
    return failed == 0 ? 0 : 1;
}
