// Redirects one entry of a loaded module's import address table, the way a
// test watches what the module asks of the system without the system doing it.
#ifndef QUARNEL_TESTS_WINDOWS_IMPORTPATCH_H
#define QUARNEL_TESTS_WINDOWS_IMPORTPATCH_H

#include <windows.h>

// Points module's import of function from dll (case-insensitive) at
// replacement. Returns the address the entry held, or null if module does not
// import function from dll by name.
void* PatchImport(HMODULE module, const char* dll, const char* function, void* replacement);

#endif
