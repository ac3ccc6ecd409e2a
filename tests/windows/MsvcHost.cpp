// A host built the way Microsoft's toolchain builds one: C runtime headers
// only, Quarnel.h as it ships, and either Quarnel.lib (the loader binds the
// decorated import) or, with QUARNEL_LOAD_AT_RUN_TIME, LoadLibraryA and
// GetProcAddress. Converts SRC to DST, compares DST with EXPECTED byte for
// byte, and checks the message a missing source gets.
//   quarnel_msvc_*_host SRC DST EXPECTED TEXELSIZE
#include <windows.h>

#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include "ImportPatch.h"
#include "Quarnel.h"

static char g_text[1100];
static int g_boxes;

static int WINAPI RecordMessageBox(HWND owner, LPCSTR text, LPCSTR caption, UINT type)
{
    const int plain = owner == NULL && strcmp(caption, "!!! Error !!!") == 0 && type == MB_OK;
    snprintf(g_text, sizeof g_text, "%s", plain ? text : "(not a plain error box)");
    ++g_boxes;
    return IDOK;
}

// Whole file into a fresh buffer; null if it cannot be read.
static unsigned char* ReadAll(const char* path, long* size)
{
    FILE* f = fopen(path, "rb");
    unsigned char* bytes = NULL;
    if (f != NULL && fseek(f, 0, SEEK_END) == 0 && (*size = ftell(f)) >= 0 && fseek(f, 0, SEEK_SET) == 0) {
        bytes = (unsigned char*)malloc((size_t)*size + 1);
        if (bytes != NULL && fread(bytes, 1, (size_t)*size, f) != (size_t)*size) {
            free(bytes);
            bytes = NULL;
        }
    }
    if (f != NULL)
        fclose(f);
    return bytes;
}

static int SameFiles(const char* a, const char* b)
{
    long sizeA = -1, sizeB = -2;
    unsigned char* bytesA = ReadAll(a, &sizeA);
    unsigned char* bytesB = ReadAll(b, &sizeB);
    const int same = bytesA != NULL && bytesB != NULL && sizeA == sizeB && memcmp(bytesA, bytesB, (size_t)sizeA) == 0;
    free(bytesA);
    free(bytesB);
    return same;
}

int main(int argc, char** argv)
{
    if (argc != 5) {
        printf("usage: %s SRC DST EXPECTED TEXELSIZE\n", argv[0]);
        return 2;
    }
#if defined(QUARNEL_LOAD_AT_RUN_TIME)
    HMODULE module = LoadLibraryA("Quarnel.dll");
#if defined(_WIN64)
    const char* name = "?CreateBumpMaps@@YAXPEAUSCreateBumpMap@@H@Z";
#else
    const char* name = "?CreateBumpMaps@@YAXPAUSCreateBumpMap@@H@Z";
#endif
    decltype(&CreateBumpMaps) createBumpMaps =
        module != NULL ? (decltype(&CreateBumpMaps))(void*)GetProcAddress(module, name) : NULL;
#else
    HMODULE module = GetModuleHandleA("Quarnel.dll");
    decltype(&CreateBumpMaps) createBumpMaps = &CreateBumpMaps;
#endif
    if (createBumpMaps == NULL || PatchImport(module, "user32.dll", "MessageBoxA", (void*)&RecordMessageBox) == NULL) {
        printf("FAILED: no CreateBumpMaps, or no MessageBoxA import to watch\n");
        return 1;
    }

    static SCreateBumpMap jobs[2];
    snprintf(jobs[0].srcpath, sizeof jobs[0].srcpath, "%s", argv[1]);
    snprintf(jobs[0].dstpath, sizeof jobs[0].dstpath, "%s", argv[2]);
    snprintf(jobs[1].srcpath, sizeof jobs[1].srcpath, "%s.missing", argv[1]);
    snprintf(jobs[1].dstpath, sizeof jobs[1].dstpath, "%s", argv[2]);
    jobs[0].texelsize = jobs[1].texelsize = (float)atof(argv[4]);
    DeleteFileA(argv[2]);
    createBumpMaps(jobs, 2);

    char message[1100];
    snprintf(message, sizeof message, "Cant open '%s' for reading", jobs[1].srcpath);
    const int converted = SameFiles(argv[2], argv[3]);
    const int reported = g_boxes == 1 && strcmp(g_text, message) == 0;
    if (!converted)
        printf("FAILED: %s differs from %s\n", argv[2], argv[3]);
    if (!reported)
        printf("FAILED: %d message(s), last \"%s\"; expected \"%s\"\n", g_boxes, g_text, message);
    printf("%d passed, %d failed\n", converted + reported, 2 - converted - reported);
    return converted && reported ? 0 : 1;
}
