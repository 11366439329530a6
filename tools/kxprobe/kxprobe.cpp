// kxprobe: asks KXVozaDa.dll every question it can answer on this machine,
// the way an installer does, and prints each answer with its meaning.
//
// With --profile it first replays a machine profile into the registry, so
// that a customer's machine can be asked again under Wine.
#include "card_defs.h"
#include "inventory/card_id.h"
#include "profile.h"

#include <windows.h>

#include <cstdio>
#include <cstring>
#include <string>

namespace {

const char kUsage[] =
    "usage: kxprobe [--profile FILE] [--help]\n"
    "       kxprobe --check-defs [DIR]\n"
    "       kxprobe --explain DESCRIPTION [DIR]\n"
    "\n"
    "Loads KXVozaDa.dll from the program's folder or the current folder and\n"
    "prints one line per question: the export, its argument if any, the answer\n"
    "and what it means.\n"
    "\n"
    "  --profile FILE  first load a REGEDIT4 machine profile into the registry:\n"
    "                  HKLM\\Enum\\PCI, HKLM\\Enum\\SCSI and HKEY_DYN_DATA\\Config\n"
    "                  Manager\\Enum are cleared and the profile's keys written.\n"
    "                  Only under Wine; refused on a real Windows machine.\n"
    "  --check-defs [DIR]\n"
    "                  reads AudCards.def and VidCards.def in DIR (the current\n"
    "                  folder by default) as the DLL does and prints each line:\n"
    "                  whether it counts, its identifier and key text, and a\n"
    "                  warning for each trap. Exit status 1 when there are warnings.\n"
    "  --explain DESCRIPTION [DIR]\n"
    "                  every line of both files that matches a device so\n"
    "                  described, and the identifier that the DLL answers\n"
    "  --help          this text\n";

struct Options {
    const char *profile = nullptr;
    const char *defs_dir = nullptr; // --check-defs or --explain
    const char *explain = nullptr;
};

enum { kOk = 0, kNoDll = 1, kWarnings = 1, kUsageError = 2 };

using Ask0 = int(WINAPI *)(void);

struct Question {
    const char *name;
    const char *(*meaning)(int answer);
    void (*detail)(); // prints more lines under the answer
};

const char *win95_meaning(int answer)
{
    return answer ? "Windows 95" : "not Windows 95";
}

const char *audio_card_meaning(int answer)
{
    switch (answer) {
    case -2: return "the live-device table cannot be read";
    case -1: return "a live audio device, but AudCards.def does not open";
    case 0: return "no live PCI audio device, no matching line, or card 0";
    default: return "audio card identifier from AudCards.def";
    }
}

const char *graphics_card_meaning(int answer)
{
    switch (answer) {
    case -2: return "a live display adapter, but VidCards.def does not open";
    case -1: return "no live PCI display adapter, no matching line, or no live-device table";
    default: return "graphics card identifier from VidCards.def";
    }
}

// The live device's description, from the routine behind the export, and
// the line of its card file that decided.
void card_detail(CardFile file, int (*identify)(char *, HWND))
{
    char description[kTextSize] = "";
    identify(description, nullptr);
    if (*description)
        printf("    live device \"%s\"; %s %s\n", description, card_file_name(file),
               carddefs::deciding_line(file, description).c_str());
}

void audio_card_detail()
{
    card_detail(CardFile::audio, identify_audio_card);
}

void graphics_card_detail()
{
    card_detail(CardFile::video, identify_graphics_card);
}

const char *motion_comp_meaning(int answer)
{
    return answer ? "the display driver makes MC12 motion-compensation overlays"
                  : "no MC12 motion-compensation overlay (or no DirectDraw)";
}

const char *interleaved_bob_meaning(int answer)
{
    return answer ? "the display hardware bob-deinterlaces interleaved video"
                  : "no bob deinterlacing of interleaved video (or no DirectDraw)";
}

const Question kQuestions[] = {
    {"GetAudioCardID", audio_card_meaning, audio_card_detail},
    {"GetGraphicsCardID", graphics_card_meaning, graphics_card_detail},
    {"IsATIMotionComp", motion_comp_meaning},
    {"IsInterleavedBob", interleaved_bob_meaning},
    {"IsWin95", win95_meaning},
};

// Wine's ntdll exports wine_get_version; no Windows release does.
bool running_under_wine()
{
    HMODULE ntdll = GetModuleHandleA("ntdll.dll");
    return ntdll && GetProcAddress(ntdll, "wine_get_version");
}

// The folder that may follow argv[i]; the current one when none does.
const char *optional_dir(int argc, char **argv, int &i)
{
    if (i + 1 < argc && strncmp(argv[i + 1], "--", 2))
        return argv[++i];
    return ".";
}

bool parse(int argc, char **argv, Options &options)
{
    for (int i = 1; i < argc; ++i) {
        if (!strcmp(argv[i], "--profile") && i + 1 < argc)
            options.profile = argv[++i];
        else if (!strcmp(argv[i], "--check-defs") && !options.defs_dir)
            options.defs_dir = optional_dir(argc, argv, i);
        else if (!strcmp(argv[i], "--explain") && i + 1 < argc && !options.defs_dir) {
            options.explain = argv[++i];
            options.defs_dir = optional_dir(argc, argv, i);
        } else
            return false;
    }
    return true;
}

int load_profile(const char *path)
{
    if (!running_under_wine()) {
        fprintf(stderr, "kxprobe: --profile rewrites the hardware tree; refused outside Wine\n");
        return kUsageError;
    }
    std::string error;
    if (!kxprofile::load_file(path, error)) {
        fprintf(stderr, "kxprobe: %s\n", error.c_str());
        return kUsageError;
    }
    return kOk;
}

void ask_all(HMODULE dll)
{
    for (const Question &q : kQuestions) {
        auto ask = reinterpret_cast<Ask0>(GetProcAddress(dll, q.name));
        if (!ask)
            continue;
        int answer = ask();
        printf("%s = %d: %s\n", q.name, answer, q.meaning(answer));
        if (q.detail)
            q.detail();
    }
}

} // namespace

int main(int argc, char **argv)
{
    Options options;
    if (argc == 2 && !strcmp(argv[1], "--help")) {
        fputs(kUsage, stdout);
        return kOk;
    }
    if (!parse(argc, argv, options)) {
        fputs(kUsage, stderr);
        return kUsageError;
    }
    if (options.explain) {
        carddefs::explain(options.defs_dir, options.explain);
        return kOk;
    }
    if (options.defs_dir)
        return carddefs::check(options.defs_dir) ? kWarnings : kOk;
    if (options.profile) {
        int status = load_profile(options.profile);
        if (status != kOk)
            return status;
    }
    HMODULE dll = LoadLibraryA("KXVozaDa.dll");
    if (!dll) {
        fprintf(stderr, "kxprobe: cannot load KXVozaDa.dll (error %lu)\n", GetLastError());
        return kNoDll;
    }
    ask_all(dll);
    FreeLibrary(dll);
    return kOk;
}
