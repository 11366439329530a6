// The questions of KXVozaDa.dll as the programs around it ask them
// (kxprobe, kxcapture through it, kxbench): one row per export, in the
// order of its ordinals, with the header's pointer type, what its answers
// mean and, for a card question, its card file. KXVozaDa.dll itself does
// not link it. The names are those of exports/KXVozaDa.def, which
// WrongDll.IsNamedWithWhatItLacks (tests/kxprobe_test.cpp) holds them to.
#pragma once

#include "include/KXVozaDa.h"

#include "base/unique.h"
#include "inventory/card_line.h"
#include "inventory/trace.h"

// The header's pointer types, one for each shape of export.
enum class ExportType {
    ask,                  // KXVOZADA_ASK_FN
    get_pci_info,         // KXVOZADA_GETPCIINFO_FN
    is_dvd_drive_present, // KXVOZADA_ISDVDDRIVEPRESENT_FN
    is_file_available     // KXVOZADA_ISFILEAVAILABLE_FN
};

// The rows of kExportTable, by the export's name.
enum class Export {
    GetAudioCardID,
    GetGraphicsCardID,
    GetPCIInfo,
    GetSystemID,
    IsATIMotionComp,
    IsBroadLogicPresent,
    IsDVDDrivePresent,
    IsFileAvailable,
    IsInterleavedBob,
    IsWin95,
    count
};

struct ExportRow {
    const char *name;
    ExportType type;
    // What `answer` means; `argument` is GetPCIInfo's selector, 0 to 2, and
    // for IsFileAvailable 1 when a signature is given.
    const char *(*meaning)(int answer, int argument);
    // For a question that may take seconds, what it waits for; else null.
    const char *waits;
    // A card question: the routine behind the export, which also gives the
    // live device's description, and its card file; else null.
    int (*identify)(char *description, const TraceSink *trace);
    CardFile card;
};

extern const ExportRow kExportTable[(int)Export::count];

inline const ExportRow &export_row(Export which)
{
    return kExportTable[(int)which];
}

constexpr ExportType export_type(KXVOZADA_ASK_FN)
{
    return ExportType::ask;
}
constexpr ExportType export_type(KXVOZADA_GETPCIINFO_FN)
{
    return ExportType::get_pci_info;
}
constexpr ExportType export_type(KXVOZADA_ISDVDDRIVEPRESENT_FN)
{
    return ExportType::is_dvd_drive_present;
}
constexpr ExportType export_type(KXVOZADA_ISFILEAVAILABLE_FN)
{
    return ExportType::is_file_available;
}

// Loads KXVozaDa.dll by name, as an installer does: Windows takes the first
// that it finds where it looks for any DLL. For a guard: null, with `error`
// saying why, when it does not load; else `error` is ERROR_SUCCESS.
HMODULE load_kxvozada(DWORD &error);

// The export of `row` in `dll`, looked up by its plain name, typed as the
// header types it; null when the DLL lacks it, or when `Fn` is not the
// row's pointer type.
template <class Fn> Fn find_export(HMODULE dll, const ExportRow &row)
{
    if (!dll || export_type(Fn()) != row.type)
        return nullptr;
    return (Fn)(void *)GetProcAddress(dll, row.name);
}

template <class Fn> Fn find_export(HMODULE dll, Export which)
{
    return find_export<Fn>(dll, export_row(which));
}

inline bool has_export(HMODULE dll, const ExportRow &row)
{
    return dll && GetProcAddress(dll, row.name);
}
