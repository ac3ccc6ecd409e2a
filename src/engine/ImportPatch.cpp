#include "ImportPatch.h"

#include <string.h>

namespace {

template <typename T>
T* At(HMODULE module, DWORD rva)
{
    return reinterpret_cast<T*>(reinterpret_cast<BYTE*>(module) + rva);
}

// Swaps one slot; the table may sit in a read-only section once bound.
void* Swap(ULONG_PTR* slot, void* replacement)
{
    DWORD old = 0;
    if (!VirtualProtect(slot, sizeof *slot, PAGE_READWRITE, &old))
        return nullptr;
    void* previous = reinterpret_cast<void*>(*slot);
    *slot = reinterpret_cast<ULONG_PTR>(replacement);
    VirtualProtect(slot, sizeof *slot, old, &old);
    return previous;
}

}  // namespace

void* PatchImport(HMODULE module, const char* dll, const char* function, void* replacement)
{
    const auto* dos = reinterpret_cast<const IMAGE_DOS_HEADER*>(module);
    const auto* nt = At<const IMAGE_NT_HEADERS>(module, static_cast<DWORD>(dos->e_lfanew));
    const IMAGE_DATA_DIRECTORY& imports = nt->OptionalHeader.DataDirectory[IMAGE_DIRECTORY_ENTRY_IMPORT];
    if (imports.VirtualAddress == 0)
        return nullptr;
    for (auto* d = At<IMAGE_IMPORT_DESCRIPTOR>(module, imports.VirtualAddress); d->Name != 0; ++d) {
        if (_stricmp(At<const char>(module, d->Name), dll) != 0)
            continue;
        // The names live in the original thunks; the addresses in FirstThunk.
        const DWORD namesRva = d->OriginalFirstThunk != 0 ? d->OriginalFirstThunk : d->FirstThunk;
        auto* names = At<IMAGE_THUNK_DATA>(module, namesRva);
        auto* slots = At<IMAGE_THUNK_DATA>(module, d->FirstThunk);
        for (; names->u1.AddressOfData != 0; ++names, ++slots) {
            if (IMAGE_SNAP_BY_ORDINAL(names->u1.Ordinal))
                continue;
            const auto* byName = At<const IMAGE_IMPORT_BY_NAME>(module, static_cast<DWORD>(names->u1.AddressOfData));
            if (strcmp(reinterpret_cast<const char*>(byName->Name), function) == 0)
                return Swap(reinterpret_cast<ULONG_PTR*>(&slots->u1.Function), replacement);
        }
    }
    return nullptr;
}
