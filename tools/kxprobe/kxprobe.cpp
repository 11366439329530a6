// kxprobe: asks KXVozaDa.dll every question it can answer on this machine,
// the way an installer does, and prints each answer with its meaning.
//
// With --profile it first replays a machine profile into the registry, so
// that a customer's machine can be asked again under Wine. With --trace it
// runs the device questions' own routines, built from the DLL's sources,
// with a trace window, and prints under each answer what they traced.
//
// It runs on every 32-bit Windows from 95 on, as the DLL does: no C runtime
// start-up code and no C++ runtime, its own entry point, fixed buffers and
// the process heap.
#include "answers.h"
#include "card_defs.h"
#include "command_line.h"
#include "library.h"
#include "output.h"

#include "base/text.h"
#include "inventory/card_id.h"
#include "inventory/dvd_drive.h"
#include "inventory/pci_query.h"
#include "inventory/trace_window.h"
#include "profile/profile.h"

#include <windows.h>

#include <cstdio>
#include <cstring>

static const char kUsage[] =
    "usage: kxprobe [--profile FILE] [--capture FILE] [--folder DIR] [--json] [--trace]\r\n"
    "               [--dvd TEXT] [--file PATH [--signature HEX]] [--help] [--version]\r\n"
    "       kxprobe [--profile FILE] [--capture FILE] [--folder DIR] --run PROGRAM [ARGUMENTS]\r\n"
    "       kxprobe --check-defs [DIR] [--quiet]\r\n"
    "       kxprobe --explain DESCRIPTION [DIR]\r\n"
    "       kxprobe --library MACHINES [--folder DIR] [--dvd TEXT] [--json] [--baseline FILE]\r\n"
    "\r\n"
    "Loads KXVozaDa.dll from the program's folder or the current folder, says\r\n"
    "which file and version answers, and prints one line per question: the\r\n"
    "export, its argument if any, the answer and what it means.\r\n"
    "\r\n"
    "For a customer: kxcapture.exe, beside kxprobe.exe, captures the machine\r\n"
    "with a double-click and shows the file to send to support.\r\n"
    "\r\n"
    "  --profile FILE  first load a REGEDIT4 machine profile into the registry:\r\n"
    "                  HKLM\\Enum\\PCI, HKLM\\Enum\\SCSI and HKEY_DYN_DATA\\Config\r\n"
    "                  Manager\\Enum are cleared and the profile's keys written.\r\n"
    "                  Only under Wine; refused on a real Windows machine.\r\n"
    "  --capture FILE  first write this machine's HKLM\\Enum\\PCI, HKLM\\Enum\\SCSI\r\n"
    "                  and HKEY_DYN_DATA\\Config Manager\\Enum to FILE as a\r\n"
    "                  REGEDIT4 profile, which --profile replays elsewhere\r\n"
    "  --json          print the answers as one JSON object for programs\r\n"
    "  --trace         answer the device questions with their own routines and\r\n"
    "                  print, indented under each answer, the lines they traced\r\n"
    "  --dvd TEXT      the drive description that IsDVDDrivePresent looks for\r\n"
    "                  (default \"Generic DVD-ROM DX-5\", the sample machine's\r\n"
    "                  drive); the text is printed again as the DLL left it\r\n"
    "  --file PATH     also ask IsFileAvailable whether PATH can be read\r\n"
    "  --signature HEX ... and whether it begins with these bytes (4D5A = \"MZ\")\r\n"
    "  --check-defs [DIR]\r\n"
    "                  reads AudCards.def and VidCards.def in DIR (the current\r\n"
    "                  folder by default) as the DLL does and prints each line:\r\n"
    "                  whether it counts, its identifier and key text, and a\r\n"
    "                  warning for each trap. Exit status 1 when there are warnings.\r\n"
    "  --quiet         ... and print only the warnings and the summary\r\n"
    "  --explain DESCRIPTION [DIR]\r\n"
    "                  every line of both files that matches a device so\r\n"
    "                  described, and the identifier that the DLL answers\r\n"
    "  --folder DIR    ask with DIR as the current folder, whose AudCards.def,\r\n"
    "                  VidCards.def and GetSystemID helper programs the DLL\r\n"
    "                  reads (the current folder by default); named on the\r\n"
    "                  first line\r\n"
    "  --library MACHINES\r\n"
    "                  replays each *.reg profile in the folder MACHINES, in\r\n"
    "                  name order, asks GetPCIInfo 0 to 2, GetAudioCardID,\r\n"
    "                  GetGraphicsCardID, IsBroadLogicPresent and IsDVDDrivePresent,\r\n"
    "                  and prints a row for each machine with the card lines\r\n"
    "                  that decided; the tree loaded before is put back. Only\r\n"
    "                  under Wine. Exit status 2 when a profile was refused.\r\n"
    "  --baseline FILE an earlier --library --json output: every answer that\r\n"
    "                  differs from it is printed (on stderr with --json), and\r\n"
    "                  the exit status is 1 when any does\r\n"
    "  --run PROGRAM [ARGUMENTS]\r\n"
    "                  instead of asking, run PROGRAM with the rest of the line\r\n"
    "                  as its arguments, wait for it and exit with its status:\r\n"
    "                  a program of yours asks a replayed machine (--profile)\r\n"
    "                  while it lasts, which under Wine is as long as kxprobe runs\r\n"
    "  --help          this text\r\n"
    "  --version       kxprobe's version\r\n"
    "\r\n"
    "Exit status: 0 when every question was asked, 1 when KXVozaDa.dll does not\r\n"
    "load or lacks an export, --check-defs warned or --library found a change,\r\n"
    "2 on a usage or profile error.\r\n";

enum { kOk = 0, kNoDll = 1, kUsageError = 2 };

// Every export of KXVozaDa.dll, in the order of its ordinals.
static const char *const kExports[] = {
    "GetAudioCardID",      "GetGraphicsCardID", "GetPCIInfo",      "GetSystemID",      "IsATIMotionComp",
    "IsBroadLogicPresent", "IsDVDDrivePresent", "IsFileAvailable", "IsInterleavedBob", "IsWin95",
};

struct Options {
    const char *profile = nullptr;
    const char *capture = nullptr;
    bool json = false;
    bool trace = false;
    const char *dvd_text = "Generic DVD-ROM DX-5";
    const char *file = nullptr;
    const char *signature = nullptr; // hex digits, checked
    const char *defs_dir = nullptr;  // --check-defs or --explain
    const char *explain = nullptr;
    bool quiet = false;             // --check-defs: only the warnings and the summary
    const char *folder = nullptr;   // where the questions are asked
    const char *library = nullptr;  // a folder of machine profiles
    const char *baseline = nullptr; // an earlier --library --json output
    char *const *run = nullptr;     // a program and its arguments
    int run_count = 0;
};

typedef int(WINAPI *Ask0)(void);
typedef int(WINAPI *Ask1)(int);
typedef int(WINAPI *AskText)(char *);
typedef int(WINAPI *AskFile)(const char *path, const void *signature, int length);

struct Question {
    const char *name;
    const char *(*meaning)(int answer);
    bool timed; // the answer may take seconds: print how long it took
};

static const char *win95_meaning(int answer)
{
    return answer ? "Windows 95" : "not Windows 95";
}

static const char *system_id_meaning(int answer)
{
    return answer == 70 ? "Gateway" : answer ? "system identifier" : "system not recognised";
}

static const char *motion_comp_meaning(int answer)
{
    return answer ? "the display driver makes MC12 motion-compensation overlays"
                  : "no MC12 motion-compensation overlay (or no DirectDraw)";
}

static const char *interleaved_bob_meaning(int answer)
{
    return answer ? "the display hardware bob-deinterlaces interleaved video"
                  : "no bob deinterlacing of interleaved video (or no DirectDraw)";
}

static const char *broadlogic_meaning(int answer)
{
    return answer ? "a BroadLogic device is registered" : "no BroadLogic device is registered";
}

static const Question kQuestions[] = {
    {"GetSystemID", system_id_meaning, true},
    {"IsATIMotionComp", motion_comp_meaning, false},
    {"IsBroadLogicPresent", broadlogic_meaning, false},
    {"IsInterleavedBob", interleaved_bob_meaning, false},
    {"IsWin95", win95_meaning, false},
};

static const char *audio_card_meaning(int answer)
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

static const char *graphics_card_meaning(int answer)
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

namespace {

struct CardQuestion {
    const char *name;
    const char *(*meaning)(int answer);
    int (*identify)(char *description, const TraceSink *trace); // the routine behind the export
    CardFile file;
};

} // namespace

static const CardQuestion kCardQuestions[] = {
    {"GetAudioCardID", audio_card_meaning, identify_audio_card, CardFile::audio},
    {"GetGraphicsCardID", graphics_card_meaning, identify_graphics_card, CardFile::video},
};

static const char *const kPciFields[] = {"vendor ID", "device ID", "upper half of the subsystem ID"};

static const Argument kNoArguments[1] = {};

// Prints the lines traced to `window` since the last call, indented, and
// empties the window for the next question.
static void print_trace(HWND window)
{
    if (!window)
        return;
    static char text[kTraceWindowSize];
    text[0] = 0;
    if (GetWindowTextA(window, text, sizeof(text)) > 0) {
        for (char *line = text;; ++line) {
            char *feed = strchr(line, '\n');
            if (feed)
                *feed = 0;
            answers_detail(line);
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
static void ask_cards(HMODULE dll, HWND trace)
{
    for (const CardQuestion &q : kCardQuestions) {
        auto ask = (Ask0)(void *)GetProcAddress(dll, q.name);
        if (!ask)
            continue;
        static char description[kTextSize];
        description[0] = 0;
        const TraceSink sink = trace_window_sink(trace);
        int answer = trace ? q.identify(description, &sink) : ask();
        if (!trace)
            q.identify(description, nullptr);
        static Text line;
        text_clear(line);
        text_format(line, "%s = %d: %s", q.name, answer, q.meaning(answer));
        answers_answer(line.text, q.name, kNoArguments, 0, answer, q.meaning(answer));
        if (*description) {
            text_clear(line);
            text_format(line, "live device \"%s\"; %s ", description, card_file_name(q.file));
            deciding_line(q.file, description, line);
            answers_detail(line.text);
        }
        print_trace(trace);
    }
}

// GetPCIInfo for each selector that names a field; with a trace window,
// the query routine itself answers.
static void ask_pci_info(HMODULE dll, HWND trace)
{
    auto ask = (Ask1)(void *)GetProcAddress(dll, "GetPCIInfo");
    if (!ask)
        return;
    for (int selector = 0; selector < 3; ++selector) {
        const TraceSink sink = trace_window_sink(trace);
        int answer = trace ? query_pci_identifier(selector, &sink) : ask(selector);
        Text meaning, line;
        text_clear(meaning);
        text_clear(line);
        if (answer < 0) {
            text_add(meaning, "no live PCI display adapter");
            text_format(line, "GetPCIInfo(%d) = %d: %s", selector, answer, meaning.text);
        } else {
            text_format(meaning, "%s of the live display adapter", kPciFields[selector]);
            text_format(line, "GetPCIInfo(%d) = %d (%04X): %s", selector, answer, answer, meaning.text);
        }
        Argument argument = {Argument::number, selector, nullptr};
        answers_answer(line.text, "GetPCIInfo", &argument, 1, answer, meaning.text);
        print_trace(trace);
    }
}

// HeapFree of a null pointer is undefined on Windows 9x.
static void heap_free(void *block)
{
    if (block)
        HeapFree(GetProcessHeap(), 0, block);
}

static char *heap_copy(const char *text)
{
    char *copy = (char *)HeapAlloc(GetProcessHeap(), 0, strlen(text) + 1);
    if (copy)
        strcpy(copy, text);
    return copy;
}

// The DLL upper-cases the text in place once it has compared it with a live
// drive, so it gets a copy.
static void ask_dvd_drive(HMODULE dll, const char *text, HWND trace)
{
    auto ask = (AskText)(void *)GetProcAddress(dll, "IsDVDDrivePresent");
    char *buffer = heap_copy(text);
    if (!ask || !buffer) {
        heap_free(buffer);
        return;
    }
    const TraceSink sink = trace_window_sink(trace);
    int answer = trace ? detect_dvd_drive(buffer, &sink) : ask(buffer);
    const char *meaning = answer ? "a live CD-ROM drive's description begins with it"
                                 : "no live CD-ROM drive's description begins with it";
    static Text line;
    text_clear(line);
    text_format(line, "IsDVDDrivePresent(\"%s\") = %d: %s; the text now reads \"%s\"", text, answer, meaning, buffer);
    Argument argument = {Argument::text, 0, text};
    answers_answer(line.text, "IsDVDDrivePresent", &argument, 1, answer, meaning);
    print_trace(trace);
    heap_free(buffer);
}

static bool is_hex(const char *text)
{
    size_t length = strlen(text);
    for (size_t i = 0; i < length; ++i)
        if (hex_digit_value(text[i]) < 0)
            return false;
    return length % 2 == 0;
}

static void ask_file(HMODULE dll, const Options &options)
{
    auto ask = (AskFile)(void *)GetProcAddress(dll, "IsFileAvailable");
    if (!ask)
        return;
    const char *hex = options.signature;
    int length = hex ? (int)strlen(hex) / 2 : 0;
    unsigned char *signature = hex ? (unsigned char *)HeapAlloc(GetProcessHeap(), 0, length + 1) : nullptr;
    if (hex && !signature)
        return;
    for (int i = 0; i < length; ++i)
        signature[i] = (unsigned char)(hex_digit_value(hex[2 * i]) << 4 | hex_digit_value(hex[2 * i + 1]));
    int answer = ask(options.file, signature, length);
    const char *meaning = answer ? (hex ? "readable and begins with the signature" : "readable")
                                 : (hex ? "unreadable, or does not begin with the signature" : "unreadable");
    static Text line;
    text_clear(line);
    text_format(line, "IsFileAvailable(%s", options.file);
    static char upper[kTextMax];
    upper[0] = 0;
    if (hex) {
        lstrcpynA(upper, hex, sizeof(upper));
        CharUpperA(upper);
        text_format(line, ", %s", upper);
    }
    text_format(line, ") = %d: %s", answer, meaning);
    Argument arguments[] = {{Argument::text, 0, options.file},
                            {hex ? Argument::text : Argument::null, 0, upper},
                            {Argument::number, length, nullptr}};
    answers_answer(line.text, "IsFileAvailable", arguments, 3, answer, meaning);
    heap_free(signature);
}

// The first line: which file answers, by its full path and the file
// version of its version resource. VERSION.DLL's functions would read it
// too, but kxprobe imports nothing beyond what the DLL itself may.
static void version_of(HMODULE dll, char *version, size_t size)
{
    lstrcpynA(version, "unknown", (int)size);
    HRSRC found = FindResourceA(dll, MAKEINTRESOURCEA(VS_VERSION_INFO), MAKEINTRESOURCEA(16)); // RT_VERSION
    HGLOBAL loaded = found ? LoadResource(dll, found) : nullptr;
    const BYTE *block = loaded ? (const BYTE *)LockResource(loaded) : nullptr;
    DWORD length = found ? SizeofResource(dll, found) : 0;
    // VS_VERSIONINFO: three WORDs, the key L"VS_VERSION_INFO" and its NUL,
    // padding to 32 bits, then VS_FIXEDFILEINFO.
    const DWORD fixed_at = (6 + sizeof(L"VS_VERSION_INFO") + 3) & ~3u;
    if (!block || length < fixed_at + sizeof(VS_FIXEDFILEINFO))
        return;
    VS_FIXEDFILEINFO fixed;
    memcpy(&fixed, block + fixed_at, sizeof(fixed));
    if (fixed.dwSignature != 0xfeef04bd)
        return;
    _snprintf(version, size - 1, "%lu.%lu.%lu.%lu", fixed.dwFileVersionMS >> 16, fixed.dwFileVersionMS & 0xffff,
              fixed.dwFileVersionLS >> 16, fixed.dwFileVersionLS & 0xffff);
    version[size - 1] = 0;
}

// Names the DLL that answers and, under it, each export it lacks. False
// when one is missing.
static bool print_dll(HMODULE dll)
{
    static char path[MAX_PATH], version[32], folder[MAX_PATH];
    DWORD length = GetModuleFileNameA(dll, path, sizeof(path));
    path[length < sizeof(path) ? length : sizeof(path) - 1] = 0;
    version_of(dll, version, sizeof(version));
    length = GetCurrentDirectoryA(sizeof(folder), folder);
    folder[length < sizeof(folder) ? length : 0] = 0;
    static Text line;
    text_clear(line);
    text_format(line, "KXVozaDa.dll: %s, file version %s; card files and helpers from %s", path, version, folder);
    answers_dll(line.text, path, version, folder);
    bool complete = true;
    for (const char *name : kExports) {
        if (GetProcAddress(dll, name))
            continue;
        text_clear(line);
        text_format(line, "does not export %s: not asked", name);
        answers_detail(line.text);
        complete = false;
    }
    return complete;
}

// Wine's ntdll exports wine_get_version; no Windows release does.
static bool running_under_wine()
{
    HMODULE ntdll = GetModuleHandleA("ntdll.dll");
    return ntdll && GetProcAddress(ntdll, "wine_get_version");
}

// The folder that may follow argument i; the current one when none does.
static const char *optional_dir(const Arguments &arguments, int &i)
{
    if (i + 1 < arguments.count && strncmp(arguments.value[i + 1], "--", 2))
        return arguments.value[++i];
    return ".";
}

// What is wrong with the command line, said in one line; null when nothing.
static Text g_problem;

static bool problem(const char *pattern, const char *what)
{
    text_clear(g_problem);
    text_format(g_problem, pattern, what);
    return false;
}

// The value that follows option i, or null when there is none.
static const char *value_of(const Arguments &arguments, int &i)
{
    return i + 1 < arguments.count ? arguments.value[++i] : nullptr;
}

// The options that take a value, and what the value is.
struct ValueOption {
    const char *name, *problem;
    const char *Options::*value;
};

static const ValueOption kValueOptions[] = {
    {"--profile", "--profile needs the FILE of a machine profile", &Options::profile},
    {"--capture", "--capture needs the FILE to write the machine to", &Options::capture},
    {"--dvd", "--dvd needs the TEXT of a drive description", &Options::dvd_text},
    {"--file", "--file needs the PATH of a file", &Options::file},
    {"--signature", "--signature needs HEX digits", &Options::signature},
    {"--folder", "--folder needs the DIR of the card files and helper programs", &Options::folder},
    {"--library", "--library needs the folder of the MACHINES profiles", &Options::library},
    {"--baseline", "--baseline needs the FILE of an earlier --library --json output", &Options::baseline},
};

static bool parse_option(const Arguments &arguments, int &i, Options &options)
{
    const char *option = arguments.value[i];
    for (const ValueOption &known : kValueOptions) {
        if (strcmp(option, known.name))
            continue;
        options.*known.value = value_of(arguments, i);
        return options.*known.value || problem("%s", known.problem);
    }
    if (!strcmp(option, "--run")) {
        options.run = arguments.value + i + 1;
        options.run_count = arguments.count - i - 1;
        i = arguments.count;
        return options.run_count || problem("%s needs a PROGRAM to run", option);
    }
    if (!strcmp(option, "--json"))
        return options.json = true;
    if (!strcmp(option, "--trace"))
        return options.trace = true;
    if (!strcmp(option, "--quiet"))
        return options.quiet = true;
    if (!strcmp(option, "--check-defs") || !strcmp(option, "--explain")) {
        if (options.defs_dir)
            return problem("%s: --check-defs and --explain are asked one at a time", option);
        if (option[2] == 'e' && !(options.explain = value_of(arguments, i)))
            return problem("%s needs a device description", option);
        if (options.explain && !*options.explain)
            return problem("%s: the device description is empty", option);
        options.defs_dir = optional_dir(arguments, i);
        return true;
    }
    return problem(strncmp(option, "--", 2) ? "%s: not an option" : "%s: no such option", option);
}

static bool parse(const Arguments &arguments, Options &options)
{
    for (int i = 0; i < arguments.count; ++i)
        if (!parse_option(arguments, i, options))
            return false;
    if (options.signature && !is_hex(options.signature))
        return problem("--signature %s: give the bytes as pairs of hex digits, such as 4D5A", options.signature);
    if (options.signature && !options.file)
        return problem("%s needs --file", "--signature");
    if (options.baseline && !options.library)
        return problem("%s needs --library", "--baseline");
    if (options.quiet && (!options.defs_dir || options.explain))
        return problem("%s goes only with --check-defs", "--quiet");
    if (options.library && (options.profile || options.capture || options.run || options.trace || options.file))
        return problem("%s: --profile, --capture, --run, --trace and --file do not go with it", "--library");
    return true;
}

static bool on_console()
{
    HANDLE err = GetStdHandle(STD_ERROR_HANDLE);
    return err && err != INVALID_HANDLE_VALUE && GetFileType(err) == FILE_TYPE_CHAR;
}

// Progress is for a person watching: only a console gets it, so that it
// never mixes into output that a program reads, and only once the work
// has taken a second.
static DWORD g_started;
static bool g_reported;

static void report_progress(const char *doing, const char *path, unsigned long keys)
{
    if (GetTickCount() - g_started < 1000 || !on_console())
        return;
    out_format(kStderr, "\rkxprobe: %s %s: %lu keys", doing, path, keys);
    g_reported = true;
}

static void start_progress()
{
    g_started = GetTickCount();
    g_reported = false;
    profile_report_progress(report_progress);
}

static void end_progress()
{
    if (g_reported)
        out_text(kStderr, "\r\n");
    profile_report_progress(nullptr);
}

static int load_profile(const char *path)
{
    if (!running_under_wine()) {
        out_text(kStderr, "kxprobe: --profile rewrites the hardware tree; refused outside Wine\r\n");
        return kUsageError;
    }
    static char error[kProfileErrorSize];
    unsigned long skipped = 0;
    start_progress();
    bool loaded = profile_load(path, error, &skipped);
    end_progress();
    if (!loaded) {
        out_format(kStderr, "kxprobe: %s\r\n", error);
        return kUsageError;
    }
    if (skipped)
        out_format(kStderr,
                   "kxprobe: %s: %lu keys outside HKLM\\Enum\\PCI, HKLM\\Enum\\SCSI and "
                   "HKEY_DYN_DATA\\Config Manager\\Enum passed over\r\n",
                   path, skipped);
    return kOk;
}

static int capture_profile(const char *path)
{
    static char error[kProfileErrorSize];
    start_progress();
    bool captured = profile_capture(path, error);
    end_progress();
    if (!captured) {
        out_format(kStderr, "kxprobe: %s\r\n", error);
        return kUsageError;
    }
    return kOk;
}

// The trace window: a top-level window that is never shown, made only for
// the questions that trace. Message-only windows would do, but Windows
// before 2000 has none; a top-level window receives broadcasts, which go
// unanswered while it lives, so it does not live through GetSystemID,
// whose helpers may broadcast, or the DirectDraw questions.
struct TraceWindow {
    HWND handle;
    explicit TraceWindow(bool wanted)
        : handle(wanted ? CreateWindowExA(0, "STATIC", "", WS_POPUP, 0, 0, 0, 0, nullptr, nullptr,
                                          GetModuleHandleA(nullptr), nullptr)
                        : nullptr)
    { }
    ~TraceWindow()
    {
        if (handle)
            DestroyWindow(handle);
    }
};

static void ask_untraced(HMODULE dll)
{
    for (const Question &q : kQuestions) {
        auto ask = (Ask0)(void *)GetProcAddress(dll, q.name);
        if (!ask)
            continue;
        if (q.timed && on_console())
            out_format(kStderr, "kxprobe: %s waits up to 8 seconds for Kxdodaze.exe and BIOSID.EXE of this folder\r\n",
                       q.name);
        DWORD start = GetTickCount();
        int answer = ask();
        DWORD took = GetTickCount() - start;
        static Text line;
        text_clear(line);
        text_format(line, "%s = %d: %s", q.name, answer, q.meaning(answer));
        if (q.timed)
            text_format(line, " (took %lu ms)", took);
        answers_answer(line.text, q.name, kNoArguments, 0, answer, q.meaning(answer));
    }
}

// `file`: the file that the failed call was to open.
static int windows_error(const char *what, const char *name, DWORD code, int status, const char *file = nullptr)
{
    static Text error;
    text_clear(error);
    text_windows_error(error, code, file);
    out_format(kStderr, "kxprobe: %s %s: %s\r\n", what, name, error.text);
    return status;
}

// Runs the program in this Wine session, with the replayed machine still
// there, waits for it and answers with its exit status.
static int run_program(const Options &options)
{
    char *command = join_command_line(options.run, options.run_count);
    if (!command)
        return kUsageError;
    STARTUPINFOA startup = {};
    startup.cb = sizeof(startup);
    PROCESS_INFORMATION process;
    BOOL started = CreateProcessA(nullptr, command, nullptr, nullptr, TRUE, 0, nullptr, nullptr, &startup, &process);
    DWORD error = GetLastError();
    heap_free(command);
    if (!started)
        return windows_error("cannot start", options.run[0], error, kUsageError);
    DWORD status = kUsageError;
    WaitForSingleObject(process.hProcess, INFINITE);
    GetExitCodeProcess(process.hProcess, &status);
    CloseHandle(process.hThread);
    CloseHandle(process.hProcess);
    return (int)status;
}

static int ask_dll(const Options &options)
{
    if (options.json)
        answers_use_json();
    HMODULE dll = LoadLibraryA("KXVozaDa.dll");
    if (!dll) {
        DWORD error = GetLastError();
        return windows_error("cannot load", "KXVozaDa.dll", error, kNoDll, dll_file("KXVozaDa.dll", error));
    }
    bool complete = print_dll(dll);
    {
        TraceWindow trace(options.trace);
        ask_cards(dll, trace.handle);
    }
    ask_untraced(dll);
    {
        TraceWindow trace(options.trace);
        ask_pci_info(dll, trace.handle);
        ask_dvd_drive(dll, options.dvd_text, trace.handle);
    }
    if (options.file)
        ask_file(dll, options);
    answers_finish();
    FreeLibrary(dll);
    if (!complete)
        out_text(kStderr, "kxprobe: KXVozaDa.dll lacks an export; see the first lines\r\n");
    return complete ? kOk : kNoDll;
}

// `path` from the current folder, in `full`; null when it does not fit.
static const char *full_path(const char *path, char (&full)[MAX_PATH])
{
    DWORD length = GetFullPathNameA(path, MAX_PATH, full, nullptr);
    if (length >= MAX_PATH)
        SetLastError(ERROR_FILENAME_EXCED_RANGE);
    return length && length < MAX_PATH ? full : nullptr;
}

// Each machine's profile is replayed into the registry, which only Wine's
// may be.
static int ask_library(const Options &options)
{
    if (!running_under_wine()) {
        out_text(kStderr, "kxprobe: --library rewrites the hardware tree; refused outside Wine\r\n");
        return kUsageError;
    }
    Library library = {options.library, options.dvd_text, options.baseline, options.json};
    return run_library(library);
}

// --help and --version answer wherever they stand on the line.
// What follows --run is the program's own.
static bool asked_for(const Arguments &arguments, const char *option)
{
    for (int i = 0; i < arguments.count && strcmp(arguments.value[i], "--run"); ++i)
        if (!strcmp(arguments.value[i], option))
            return true;
    return false;
}

static int run(const Arguments &arguments)
{
    Options options;
    if (asked_for(arguments, "--help")) {
        out_text(kStdout, kUsage);
        return kOk;
    }
    if (asked_for(arguments, "--version")) {
        out_text(kStdout, "kxprobe " KX_VERSION "\r\n");
        return kOk;
    }
    if (!parse(arguments, options)) {
        out_format(kStderr, "kxprobe: %s\r\nkxprobe --help lists the options\r\n", g_problem.text);
        return kUsageError;
    }
    if (options.explain)
        return explain_card_files(options.defs_dir, options.explain);
    if (options.defs_dir)
        return check_card_files(options.defs_dir, options.quiet);
    int status = options.profile ? load_profile(options.profile) : kOk;
    if (status == kOk && options.capture)
        status = capture_profile(options.capture);
    if (status != kOk)
        return status;
    // Paths on the command line are the user's: from the folder kxprobe
    // was started in, also after --folder.
    static char file[MAX_PATH], machines[MAX_PATH], baseline[MAX_PATH];
    const char *full = options.file && options.folder ? full_path(options.file, file) : nullptr;
    if (full)
        options.file = full;
    if (options.library && !(full = full_path(options.library, machines)))
        return windows_error("--library", options.library, GetLastError(), kUsageError);
    options.library = options.library ? full : nullptr;
    if (options.baseline && !(full = full_path(options.baseline, baseline)))
        return windows_error("--baseline", options.baseline, GetLastError(), kUsageError);
    options.baseline = options.baseline ? full : nullptr;
    if (options.folder && !SetCurrentDirectoryA(options.folder))
        return windows_error("--folder", options.folder, GetLastError(), kUsageError);
    if (options.library)
        return ask_library(options);
    return options.run ? run_program(options) : ask_dll(options);
}

// The image's entry point: there is no C runtime start-up code to call a
// main() and no exit() to flush its streams.
extern "C" void kxprobe_start()
{
    Arguments arguments;
    int status;
    if (split_command_line(GetCommandLineA(), arguments))
        status = run(arguments);
    else {
        out_text(kStderr, "kxprobe: not enough memory for the command line\r\n");
        status = kUsageError;
    }
    free_arguments(arguments);
    out_flush();
    ExitProcess(status);
}
