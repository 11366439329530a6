// kxprobe: asks KXVozaDa.dll every question it can answer on this machine,
// the way an installer does, and prints each answer with its meaning.
//
// With --profile it first replays a machine profile into the registry, so
// that a customer's machine can be asked again under Wine.
#include "profile.h"

#include <windows.h>

#include <cstdio>
#include <cstring>
#include <string>

namespace {

const char kUsage[] =
    "usage: kxprobe [--profile FILE] [--dvd TEXT] [--help]\n"
    "\n"
    "Loads KXVozaDa.dll from the program's folder or the current folder and\n"
    "prints one line per question: the export, its argument if any, the answer\n"
    "and what it means.\n"
    "\n"
    "  --profile FILE  first load a REGEDIT4 machine profile into the registry:\n"
    "                  HKLM\\Enum\\PCI, HKLM\\Enum\\SCSI and HKEY_DYN_DATA\\Config\n"
    "                  Manager\\Enum are cleared and the profile's keys written.\n"
    "                  Only under Wine; refused on a real Windows machine.\n"
    "  --dvd TEXT      the drive description that IsDVDDrivePresent looks for\n"
    "                  (default \"Generic DVD-ROM DX-5\", the sample machine's\n"
    "                  drive); the text is printed again as the DLL left it\n"
    "  --help          this text\n";

struct Options {
    const char *profile = nullptr;
    const char *dvd_text = "Generic DVD-ROM DX-5";
};

enum { kOk = 0, kNoDll = 1, kUsageError = 2 };

using Ask0 = int(WINAPI *)(void);

struct Question {
    const char *name;
    const char *(*meaning)(int answer);
};

const char *win95_meaning(int answer)
{
    return answer ? "Windows 95" : "not Windows 95";
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

const char *broadlogic_meaning(int answer)
{
    return answer ? "a BroadLogic device is registered" : "no BroadLogic device is registered";
}

const Question kQuestions[] = {
    {"IsATIMotionComp", motion_comp_meaning},
    {"IsBroadLogicPresent", broadlogic_meaning},
    {"IsInterleavedBob", interleaved_bob_meaning},
    {"IsWin95", win95_meaning},
};

// The DLL upper-cases the text in place once it has compared it with a live
// drive, so it gets a copy.
void ask_dvd_drive(HMODULE dll, const char *text)
{
    auto ask = reinterpret_cast<int(WINAPI *)(char *)>(GetProcAddress(dll, "IsDVDDrivePresent"));
    if (!ask)
        return;
    std::string buffer = text;
    int answer = ask(&buffer[0]);
    printf("IsDVDDrivePresent(\"%s\") = %d: %s live CD-ROM drive's description begins with it;"
           " the text now reads \"%s\"\n",
           text, answer, answer ? "a" : "no", buffer.c_str());
}

// Wine's ntdll exports wine_get_version; no Windows release does.
bool running_under_wine()
{
    HMODULE ntdll = GetModuleHandleA("ntdll.dll");
    return ntdll && GetProcAddress(ntdll, "wine_get_version");
}

bool parse(int argc, char **argv, Options &options)
{
    for (int i = 1; i < argc; ++i) {
        if (!strcmp(argv[i], "--profile") && i + 1 < argc)
            options.profile = argv[++i];
        else if (!strcmp(argv[i], "--dvd") && i + 1 < argc)
            options.dvd_text = argv[++i];
        else
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
        fprintf(stderr, "kxprobe: %s: %s\n", path, error.c_str());
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
    ask_dvd_drive(dll, options.dvd_text);
    FreeLibrary(dll);
    return kOk;
}
