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
#include "interrupt.h"
#include "library.h"
#include "machine_capture.h"
#include "output.h"
#include "replay.h"

#include "base/text.h"
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
    "                  Manager\\Enum are cleared and the profile's keys written;\r\n"
    "                  the answers are preceded by how they compare with those\r\n"
    "                  of a capture, and what Wine's order of the keys may change.\r\n"
    "                  Only under Wine; refused on a real Windows machine.\r\n"
    "  --capture FILE  ask, then write this machine's HKLM\\Enum\\PCI, HKLM\\Enum\\SCSI\r\n"
    "                  and HKEY_DYN_DATA\\Config Manager\\Enum to FILE as a\r\n"
    "                  REGEDIT4 profile with the answers as comments, which\r\n"
    "                  --profile replays elsewhere and compares with its own\r\n"
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

struct Options {
    const char *profile = nullptr;
    const char *capture = nullptr;
    bool json = false;
    bool trace = false;
    const char *dvd_text = kDefaultDvdText;
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

static bool is_hex(const char *text)
{
    size_t length = strlen(text);
    for (size_t i = 0; i < length; ++i)
        if (hex_digit_value(text[i]) < 0)
            return false;
    return length % 2 == 0;
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

// Progress is for a person watching: only a console gets it, so that it
// never mixes into output that a program reads, and only once the work
// has taken a second.
static DWORD g_started;
static bool g_reported;

static void report_progress(const char *doing, const char *path, unsigned long keys)
{
    if (GetTickCount() - g_started < 1000 || !out_is_console(kStderr))
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
    const InterruptibleLoad interruptible;
    bool loaded = profile_load(path, error, &skipped, replay_reader());
    end_progress();
    if (!loaded) {
        out_format(kStderr, "kxprobe: %s\r\n", error);
        return kUsageError;
    }
    replay_read_registry();
    if (skipped)
        out_format(kStderr,
                   "kxprobe: %s: %lu keys outside HKLM\\Enum\\PCI, HKLM\\Enum\\SCSI and "
                   "HKEY_DYN_DATA\\Config Manager\\Enum passed over\r\n",
                   path, skipped);
    return kOk;
}

static AskOptions ask_options(const Options &options)
{
    return AskOptions{options.dvd_text, options.file, options.signature, options.trace};
}

// Asks as the capture is made, handing the lines to `show` too; a capture
// that cannot be written is a usage error, said before anything is asked.
static int capture(const Options &options, HMODULE dll, DWORD load_error, const AnswerSink *show, bool &complete)
{
    const MachineCapture machine = {options.capture, "kxprobe " KX_VERSION, dll, load_error, ask_options(options), show,
                                    nullptr};
    static char error[kProfileErrorSize];
    start_progress();
    bool captured = capture_machine(machine, complete, error);
    end_progress();
    if (!captured) {
        out_format(kStderr, "kxprobe: %s\r\n", error);
        return kUsageError;
    }
    return kOk;
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
    HeapFree(GetProcessHeap(), 0, command);
    if (!started)
        return windows_error("cannot start", options.run[0], error, kUsageError);
    DWORD status = kUsageError;
    WaitForSingleObject(process.hProcess, INFINITE);
    GetExitCodeProcess(process.hProcess, &status);
    CloseHandle(process.hThread);
    CloseHandle(process.hProcess);
    return (int)status;
}

// With --profile, the replay's report comes before the answers, which are
// kept until it is written; they fit here many times over.
static char g_held_bytes[1 << 20];
static Captured g_held = {g_held_bytes, sizeof(g_held_bytes), 0};

static int ask_dll(const Options &options)
{
    if (options.json)
        answers_use_json();
    HMODULE dll = LoadLibraryA("KXVozaDa.dll");
    DWORD load_error = GetLastError();
    if (!dll) {
        bool complete;
        int status = options.capture ? capture(options, nullptr, load_error, nullptr, complete) : kOk;
        windows_error("cannot load", "KXVozaDa.dll", load_error, kNoDll, dll_file("KXVozaDa.dll", load_error));
        return status == kOk ? kNoDll : status;
    }
    const bool replaying = options.profile != nullptr;
    const AnswerSink printed = printed_answers();
    const AnswerSink sink = replaying ? replay_answers(printed) : printed;
    if (replaying) {
        answers_follow_replay();
        out_capture(&g_held);
    }
    bool complete = true;
    int status = kOk;
    if (options.capture)
        status = capture(options, dll, 0, &sink, complete);
    else
        complete = ask_questions(dll, ask_options(options), sink);
    answers_finish();
    FreeLibrary(dll);
    if (replaying) {
        out_capture(nullptr);
        replay_report(options.profile, options.dvd_text);
        out_write(kStdout, g_held.bytes, g_held.length);
    }
    if (!complete)
        out_text(kStderr, "kxprobe: KXVozaDa.dll lacks an export; see the first lines\r\n");
    return status != kOk ? status : complete ? kOk : kNoDll;
}

// --capture with --run: the machine is captured with its answers, which
// are not printed, before the program runs.
static int capture_then_run(const Options &options)
{
    if (options.capture) {
        HMODULE dll = LoadLibraryA("KXVozaDa.dll");
        DWORD load_error = GetLastError();
        bool complete;
        int status = capture(options, dll, load_error, nullptr, complete);
        if (dll)
            FreeLibrary(dll);
        if (status != kOk)
            return status;
    }
    return run_program(options);
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
    if (status != kOk)
        return status;
    // Paths on the command line are the user's: from the folder kxprobe
    // was started in, also after --folder.
    static char file[MAX_PATH], machines[MAX_PATH], baseline[MAX_PATH], captured[MAX_PATH];
    const char *full = options.file && options.folder ? full_path(options.file, file) : nullptr;
    if (full)
        options.file = full;
    if (options.capture && options.folder && !(full = full_path(options.capture, captured)))
        return windows_error("--capture", options.capture, GetLastError(), kUsageError);
    options.capture = options.capture && options.folder ? full : options.capture;
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
    return options.run ? capture_then_run(options) : ask_dll(options);
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
