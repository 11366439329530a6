#include "harness/import_patch.h"

#include <cstring>

namespace kx {

template <class T> static T *at_rva(HMODULE module, DWORD rva)
{
    return reinterpret_cast<T *>(reinterpret_cast<BYTE *>(module) + rva);
}

void **import_slot(HMODULE module, const char *dll, const char *function)
{
    if (!module)
        return nullptr;
    auto *dos = reinterpret_cast<IMAGE_DOS_HEADER *>(module);
    auto *nt = at_rva<IMAGE_NT_HEADERS32>(module, dos->e_lfanew);
    const IMAGE_DATA_DIRECTORY &dir = nt->OptionalHeader.DataDirectory[IMAGE_DIRECTORY_ENTRY_IMPORT];
    if (!dir.VirtualAddress)
        return nullptr;
    for (auto *desc = at_rva<IMAGE_IMPORT_DESCRIPTOR>(module, dir.VirtualAddress); desc->Name; ++desc) {
        if (lstrcmpiA(at_rva<char>(module, desc->Name), dll) != 0)
            continue;
        auto *names =
            at_rva<IMAGE_THUNK_DATA32>(module, desc->OriginalFirstThunk ? desc->OriginalFirstThunk : desc->FirstThunk);
        auto *slots = at_rva<IMAGE_THUNK_DATA32>(module, desc->FirstThunk);
        for (; names->u1.AddressOfData; ++names, ++slots) {
            if (IMAGE_SNAP_BY_ORDINAL32(names->u1.Ordinal))
                continue;
            auto *by_name = at_rva<IMAGE_IMPORT_BY_NAME>(module, names->u1.AddressOfData);
            if (strcmp(reinterpret_cast<char *>(by_name->Name), function) == 0)
                return reinterpret_cast<void **>(&slots->u1.Function);
        }
    }
    return nullptr;
}

static void write_slot(void **slot, void *value)
{
    DWORD protect;
    VirtualProtect(slot, sizeof(*slot), PAGE_READWRITE, &protect);
    *slot = value;
    VirtualProtect(slot, sizeof(*slot), protect, &protect);
}

ImportPatch::ImportPatch(HMODULE module, const char *dll, const char *function, const void *replacement)
    : slot_(import_slot(module, dll, function)), original_(slot_ ? *slot_ : nullptr)
{
    if (slot_)
        write_slot(slot_, const_cast<void *>(replacement));
}

ImportPatch::~ImportPatch()
{
    if (slot_)
        write_slot(slot_, original_);
}

} // namespace kx
