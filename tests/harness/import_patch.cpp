#include "harness/import_patch.h"

#include <gtest/gtest.h>

#include <cstdio>
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

namespace kx::hook_detail {

// Every entry is the same two instructions, reading its own cells:
//   mov eax, [contexts + 4 * i]
//   jmp [targets + 4 * i]
// so the code is written once and a hook only fills its cells. A free
// entry has no context.
enum { kEntries = 256, kEntrySize = 16 };
static const void *contexts[kEntries], *targets[kEntries];

// Where a free entry leads: an import slot left pointing at a hook that
// has ended ends the program at once, rather than jumping to address 0,
// from which Wine's exception handling does not come back.
static void called_after_its_end()
{
    fprintf(stderr, "an import was called through a hook that has ended\n");
    fflush(stderr);
    ExitProcess(3);
}

static BYTE *entry_code()
{
    static BYTE *code;
    if (code)
        return code;
    code = static_cast<BYTE *>(VirtualAlloc(nullptr, kEntries * kEntrySize, MEM_COMMIT, PAGE_EXECUTE_READWRITE));
    if (!code)
        return nullptr;
    for (int i = 0; i < kEntries; ++i) {
        BYTE *at = code + i * kEntrySize;
        const void *context = &contexts[i], *target = &targets[i];
        at[0] = 0xa1;
        memcpy(at + 1, &context, 4);
        at[5] = 0xff;
        at[6] = 0x25;
        memcpy(at + 7, &target, 4);
        memset(at + 11, 0xcc, kEntrySize - 11);
        targets[i] = reinterpret_cast<const void *>(&called_after_its_end);
    }
    FlushInstructionCache(GetCurrentProcess(), code, kEntries * kEntrySize);
    return code;
}

Entry::Entry(const void *target, const void *context) : address_(nullptr)
{
    BYTE *code = entry_code();
    for (int i = 0; code && i < kEntries; ++i) {
        if (contexts[i])
            continue;
        contexts[i] = context;
        targets[i] = target;
        address_ = code + i * kEntrySize;
        return;
    }
    ADD_FAILURE() << "no import hook entry is left";
}

Entry::~Entry()
{
    if (!address_)
        return;
    int i = (int)((static_cast<const BYTE *>(address_) - entry_code()) / kEntrySize);
    contexts[i] = nullptr;
    targets[i] = reinterpret_cast<const void *>(&called_after_its_end);
}

} // namespace kx::hook_detail
