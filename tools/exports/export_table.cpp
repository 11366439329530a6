#include "tools/exports/export_table.h"

#include "inventory/card_id.h"

static const char *audio_card_meaning(int answer, int)
{
    switch (answer) {
    case -2:
        return "the live-device table cannot be read";
    case -1:
        return "a live audio device, but AudCards.def does not open";
    case 0:
        return "no live PCI audio device, no matching line, or card 0";
    default:
        return "audio card identifier from AudCards.def";
    }
}

static const char *graphics_card_meaning(int answer, int)
{
    switch (answer) {
    case -2:
        return "a live display adapter, but VidCards.def does not open";
    case -1:
        return "no live PCI display adapter, no matching line, or no live-device table";
    default:
        return "graphics card identifier from VidCards.def";
    }
}

static const char *pci_info_meaning(int answer, int selector)
{
    static const char *const kFields[] = {"vendor ID of the live display adapter",
                                          "device ID of the live display adapter",
                                          "upper half of the subsystem ID of the live display adapter"};
    return answer < 0 ? "no live PCI display adapter" : kFields[selector];
}

static const char *system_id_meaning(int answer, int)
{
    return answer == 70 ? "Gateway" : answer ? "system identifier" : "system not recognised";
}

static const char *motion_comp_meaning(int answer, int)
{
    return answer ? "the display driver makes MC12 motion-compensation overlays"
                  : "no MC12 motion-compensation overlay (or no DirectDraw)";
}

static const char *broadlogic_meaning(int answer, int)
{
    return answer ? "a BroadLogic device is registered" : "no BroadLogic device is registered";
}

static const char *dvd_drive_meaning(int answer, int)
{
    return answer ? "a live CD-ROM drive's description begins with it"
                  : "no live CD-ROM drive's description begins with it";
}

static const char *file_meaning(int answer, int signature)
{
    return answer ? (signature ? "readable and begins with the signature" : "readable")
                  : (signature ? "unreadable, or does not begin with the signature" : "unreadable");
}

static const char *interleaved_bob_meaning(int answer, int)
{
    return answer ? "the display hardware bob-deinterlaces interleaved video"
                  : "no bob deinterlacing of interleaved video (or no DirectDraw)";
}

static const char *win95_meaning(int answer, int)
{
    return answer ? "Windows 95" : "not Windows 95";
}

const ExportRow kExportTable[(int)Export::count] = {
    {"GetAudioCardID", ExportType::ask, audio_card_meaning, nullptr, identify_audio_card, CardFile::audio},
    {"GetGraphicsCardID", ExportType::ask, graphics_card_meaning, nullptr, identify_graphics_card, CardFile::video},
    {"GetPCIInfo", ExportType::get_pci_info, pci_info_meaning, nullptr, nullptr, CardFile::audio},
    {"GetSystemID", ExportType::ask, system_id_meaning,
     "GetSystemID waits up to 8 seconds for Kxdodaze.exe and BIOSID.EXE of this folder", nullptr, CardFile::audio},
    {"IsATIMotionComp", ExportType::ask, motion_comp_meaning, nullptr, nullptr, CardFile::audio},
    {"IsBroadLogicPresent", ExportType::ask, broadlogic_meaning, nullptr, nullptr, CardFile::audio},
    {"IsDVDDrivePresent", ExportType::is_dvd_drive_present, dvd_drive_meaning, nullptr, nullptr, CardFile::audio},
    {"IsFileAvailable", ExportType::is_file_available, file_meaning, nullptr, nullptr, CardFile::audio},
    {"IsInterleavedBob", ExportType::ask, interleaved_bob_meaning, nullptr, nullptr, CardFile::audio},
    {"IsWin95", ExportType::ask, win95_meaning, nullptr, nullptr, CardFile::audio},
};

HMODULE load_kxvozada(DWORD &error)
{
    HMODULE dll = LoadLibraryA("KXVozaDa.dll");
    error = dll ? ERROR_SUCCESS : GetLastError();
    return dll;
}
