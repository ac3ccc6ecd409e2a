// Redirects one entry of a loaded module's import address table: how the
// engine takes the module's message boxes as calls (the test hosts record
// them the same way) without the system showing anything.
#ifndef QUARNEL_ENGINE_IMPORTPATCH_H
#define QUARNEL_ENGINE_IMPORTPATCH_H

#include <windows.h>

// Points module's import of function from dll (case-insensitive) at
// replacement. Returns the address the entry held, or null if module does not
// import function from dll by name.
void* PatchImport(HMODULE module, const char* dll, const char* function, void* replacement);

#endif
