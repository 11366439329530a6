// kxprobe: asks KXVozaDa.dll every question it can answer on this machine,
// the way an installer does, and prints each answer with its meaning.
//
// With --profile it first replays a machine profile into the registry, so
// that a customer's machine can be asked again under Wine. With --trace it
// runs the device questions' own routines, built from the DLL's sources,
// with a trace window, and prints under each answer what they traced.
#include "answers.h"
#include "card_defs.h"
#include "profile/profile.h"

#include "inventory/card_id.h"
#include "inventory/dvd_drive.h"
#include "inventory/pci_query.h"

#include <windows.h>

#include <cctype>
#include <cstdio>
#include <cstring>
#include <string>

namespace {

const char kUsage[] =
    "usage: kxprobe [--profile FILE] [--capture FILE] [--json] [--trace] [--dvd TEXT]\n"
    "               [--file PATH [--signature HEX]] [--help]\n"
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
    "  --capture FILE  first write this machine's HKLM\\Enum\\PCI, HKLM\\Enum\\SCSI\n"
    "                  and HKEY_DYN_DATA\\Config Manager\\Enum to FILE as a\n"
    "                  REGEDIT4 profile, which --profile replays elsewhere\n"
    "  --json          print the answers as one JSON object for programs\n"
    "  --trace         answer the device questions with their own routines and\n"
    "                  print, indented under each answer, the lines they traced\n"
    "  --dvd TEXT      the drive description that IsDVDDrivePresent looks for\n"
    "                  (default \"Generic DVD-ROM DX-5\", the sample machine's\n"
    "                  drive); the text is printed again as the DLL left it\n"
    "  --file PATH     also ask IsFileAvailable whether PATH can be read\n"
    "  --signature HEX ... and whether it begins with these bytes (4D5A = \"MZ\")\n"
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
    const char *capture = nullptr;
    bool json = false;
    bool trace = false;
    const char *dvd_text = "Generic DVD-ROM DX-5";
    const char *file = nullptr;
    std::string signature;
    bool has_signature = false;
    const char *defs_dir = nullptr; // --check-defs or --explain
    const char *explain = nullptr;
};

enum { kOk = 0, kNoDll = 1, kWarnings = 1, kUsageError = 2 };

using Ask0 = int(WINAPI *)(void);
using Ask1 = int(WINAPI *)(int);
using AskFile = int(WINAPI *)(const char *path, const void *signature, int length);

struct Question {
    const char *name;
    const char *(*meaning)(int answer);
    bool timed; // the answer may take seconds: print how long it took
};

const char *win95_meaning(int answer)
{
    return answer ? "Windows 95" : "not Windows 95";
}

const char *system_id_meaning(int answer)
{
    return answer == 70 ? "Gateway" : answer ? "system identifier" : "system not recognised";
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
    {"GetSystemID", system_id_meaning, true},
    {"IsATIMotionComp", motion_comp_meaning},
    {"IsBroadLogicPresent", broadlogic_meaning},
    {"IsInterleavedBob", interleaved_bob_meaning},
    {"IsWin95", win95_meaning},
};

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

struct CardQuestion {
    const char *name;
    const char *(*meaning)(int answer);
    int (*identify)(char *description, HWND trace); // the routine behind the export
    CardFile file;
};

const CardQuestion kCardQuestions[] = {
    {"GetAudioCardID", audio_card_meaning, identify_audio_card, CardFile::audio},
    {"GetGraphicsCardID", graphics_card_meaning, identify_graphics_card, CardFile::video},
};

const char *const kPciFields[] = {"vendor ID", "device ID", "upper half of the subsystem ID"};

// Prints the lines traced to `window` since the last call, indented, and
// empties the window for the next question.
void print_trace(HWND window)
{
    if (!window)
        return;
    static char text[8192];
    text[0] = 0;
    if (GetWindowTextA(window, text, sizeof(text)) > 0) {
        for (char *line = text;; ++line) {
            char *feed = strchr(line, '\n');
            if (feed)
                *feed = 0;
            answers::detail(line);
            if (!feed)
                break;
            line = feed;
        }
    }
    SetWindowTextA(window, "");
}

// The card questions, each with the live device's description and the line
// of its card file that decided; with a trace window the routine itself
// answers.
void ask_cards(HMODULE dll, HWND trace)
{
    for (const CardQuestion &q : kCardQuestions) {
        auto ask = reinterpret_cast<Ask0>(GetProcAddress(dll, q.name));
        if (!ask)
            continue;
        char description[kTextSize] = "";
        int answer = trace ? q.identify(description, trace) : ask();
        if (!trace)
            q.identify(description, nullptr);
        answers::answer(answers::format("%s = %d: %s", q.name, answer, q.meaning(answer)), q.name, "[]", answer,
                        q.meaning(answer));
        if (*description)
            answers::detail(answers::format("live device \"%s\"; %s %s", description, card_file_name(q.file),
                                            carddefs::deciding_line(q.file, description).c_str()));
        print_trace(trace);
    }
}

// GetPCIInfo for each selector that names a field; with a trace window,
// the query routine itself answers.
void ask_pci_info(HMODULE dll, HWND trace)
{
    auto ask = reinterpret_cast<Ask1>(GetProcAddress(dll, "GetPCIInfo"));
    if (!ask)
        return;
    for (int selector = 0; selector < 3; ++selector) {
        int answer = trace ? query_pci_identifier(selector, 0, trace) : ask(selector);
        std::string meaning = answer < 0 ? "no live PCI display adapter"
                                         : std::string(kPciFields[selector]) + " of the live display adapter";
        std::string hex = answer < 0 ? "" : answers::format(" (%04X)", answer);
        answers::answer(answers::format("GetPCIInfo(%d) = %d%s: %s", selector, answer, hex.c_str(), meaning.c_str()),
                        "GetPCIInfo", answers::format("[%d]", selector), answer, meaning.c_str());
        print_trace(trace);
    }
}

// The DLL upper-cases the text in place once it has compared it with a live
// drive, so it gets a copy.
void ask_dvd_drive(HMODULE dll, const char *text, HWND trace)
{
    auto ask = reinterpret_cast<int(WINAPI *)(char *)>(GetProcAddress(dll, "IsDVDDrivePresent"));
    if (!ask)
        return;
    std::string buffer = text;
    int answer = trace ? detect_dvd_drive(&buffer[0], trace) : ask(&buffer[0]);
    const char *meaning = answer ? "a live CD-ROM drive's description begins with it"
                                 : "no live CD-ROM drive's description begins with it";
    answers::answer(answers::format("IsDVDDrivePresent(\"%s\") = %d: %s; the text now reads \"%s\"", text, answer,
                                    meaning, buffer.c_str()),
                    "IsDVDDrivePresent", "[" + answers::json_text(text) + "]", answer, meaning);
    print_trace(trace);
}

// Wine's ntdll exports wine_get_version; no Windows release does.
bool running_under_wine()
{
    HMODULE ntdll = GetModuleHandleA("ntdll.dll");
    return ntdll && GetProcAddress(ntdll, "wine_get_version");
}

bool parse_hex(const char *hex, std::string &bytes)
{
    for (; *hex; hex += 2) {
        unsigned byte;
        if (!isxdigit((unsigned char)hex[0]) || !isxdigit((unsigned char)hex[1]) ||
            sscanf(hex, "%2x", &byte) != 1)
            return false;
        bytes += (char)byte;
    }
    return true;
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
        else if (!strcmp(argv[i], "--capture") && i + 1 < argc)
            options.capture = argv[++i];
        else if (!strcmp(argv[i], "--json"))
            options.json = true;
        else if (!strcmp(argv[i], "--trace"))
            options.trace = true;
        else if (!strcmp(argv[i], "--dvd") && i + 1 < argc)
            options.dvd_text = argv[++i];
        else if (!strcmp(argv[i], "--file") && i + 1 < argc)
            options.file = argv[++i];
        else if (!strcmp(argv[i], "--signature") && i + 1 < argc && parse_hex(argv[i + 1], options.signature))
            options.has_signature = ++i;
        else if (!strcmp(argv[i], "--check-defs") && !options.defs_dir)
            options.defs_dir = optional_dir(argc, argv, i);
        else if (!strcmp(argv[i], "--explain") && i + 1 < argc && !options.defs_dir) {
            options.explain = argv[++i];
            options.defs_dir = optional_dir(argc, argv, i);
        }
        else
            return false;
    }
    return options.file || !options.has_signature;
}

int load_profile(const char *path)
{
    if (!running_under_wine()) {
        fprintf(stderr, "kxprobe: --profile rewrites the hardware tree; refused outside Wine\n");
        return kUsageError;
    }
    char error[kProfileErrorSize];
    if (!profile_load(path, error)) {
        fprintf(stderr, "kxprobe: %s\n", error);
        return kUsageError;
    }
    return kOk;
}

int capture_profile(const char *path)
{
    char error[kProfileErrorSize];
    if (!profile_capture(path, error)) {
        fprintf(stderr, "kxprobe: %s\n", error);
        return kUsageError;
    }
    return kOk;
}

void ask_all(HMODULE dll, HWND trace)
{
    ask_cards(dll, trace);
    for (const Question &q : kQuestions) {
        auto ask = reinterpret_cast<Ask0>(GetProcAddress(dll, q.name));
        if (!ask)
            continue;
        DWORD start = GetTickCount();
        int answer = ask();
        DWORD took = GetTickCount() - start;
        std::string line = answers::format("%s = %d: %s", q.name, answer, q.meaning(answer));
        if (q.timed)
            line += answers::format(" (took %lu ms)", took);
        answers::answer(line, q.name, "[]", answer, q.meaning(answer));
    }
    ask_pci_info(dll, trace);
}

void ask_file(HMODULE dll, const Options &options)
{
    auto ask = reinterpret_cast<AskFile>(GetProcAddress(dll, "IsFileAvailable"));
    if (!ask)
        return;
    const std::string &signature = options.signature;
    int answer = ask(options.file, options.has_signature ? signature.data() : nullptr, (int)signature.size());
    std::string hex;
    for (unsigned char byte : signature)
        hex += answers::format("%02X", byte);
    const char *meaning = answer ? (options.has_signature ? "readable and begins with the signature" : "readable")
                                 : (options.has_signature ? "unreadable, or does not begin with the signature"
                                                          : "unreadable");
    std::string shown = options.has_signature ? std::string(options.file) + ", " + hex : options.file;
    std::string arguments = "[" + answers::json_text(options.file) +
                            (options.has_signature ? ", " + answers::json_text(hex) : ", null") +
                            answers::format(", %d]", (int)signature.size());
    answers::answer(answers::format("IsFileAvailable(%s) = %d: %s", shown.c_str(), answer, meaning), "IsFileAvailable",
                    arguments, answer, meaning);
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
    if (options.capture) {
        int status = capture_profile(options.capture);
        if (status != kOk)
            return status;
    }
    if (options.json)
        answers::use_json();
    HMODULE dll = LoadLibraryA("KXVozaDa.dll");
    if (!dll) {
        fprintf(stderr, "kxprobe: cannot load KXVozaDa.dll (error %lu)\n", GetLastError());
        return kNoDll;
    }
    // A message-only window: it is never shown, its text is the trace.
    HWND trace = options.trace ? CreateWindowExA(0, "STATIC", "", 0, 0, 0, 0, 0, HWND_MESSAGE, nullptr, nullptr, nullptr)
                               : nullptr;
    ask_all(dll, trace);
    ask_dvd_drive(dll, options.dvd_text, trace);
    if (trace)
        DestroyWindow(trace);
    if (options.file)
        ask_file(dll, options);
    answers::finish();
    FreeLibrary(dll);
    return kOk;
}
