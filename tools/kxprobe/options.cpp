#include "options.h"

#include "base/text.h"

#include <cstring>

// The synopsis, which both forms of the usage begin with.
#define KX_SYNOPSIS                                                                      \
    "usage: kxprobe [--profile FILE] [--capture FILE [--force]] [--folder DIR]\r\n"      \
    "               [--json] [--trace] [--dvd TEXT] [--file PATH [--signature HEX]]\r\n" \
    "       kxprobe [--profile FILE] [--capture FILE [--force]] [--folder DIR]\r\n"      \
    "               [--trace] [--dvd TEXT] [--file PATH [--signature HEX]]\r\n"          \
    "               --run PROGRAM [ARGUMENTS]\r\n"                                       \
    "       kxprobe --check-defs [DIR] [--quiet]\r\n"                                    \
    "       kxprobe --explain DESCRIPTION [DIR]\r\n"                                     \
    "       kxprobe --library MACHINES [--folder DIR] [--dvd TEXT] [--json]\r\n"         \
    "               [--baseline FILE]\r\n"                                               \
    "Each also takes --output FILE, which gets every line, errors included.\r\n"

const char kShortUsage[] = KX_SYNOPSIS
    "\r\n"
    "Asks KXVozaDa.dll every question and prints each answer with its meaning.\r\n"
    "  --profile FILE  first load a machine profile into the registry (Wine only)\r\n"
    "  --capture FILE  write this machine and its answers to FILE\r\n"
    "  --folder DIR    the folder of the card files and helper programs\r\n"
    "  --check-defs    check AudCards.def and VidCards.def in DIR\r\n"
    "  --explain       the card lines that match a device so described\r\n"
    "  --library       ask each machine profile in the folder MACHINES\r\n"
    "  --run           run PROGRAM while the replayed machine lasts\r\n"
    "  --help          every option in full (kxprobe --help | more)\r\n"
    "  --version       kxprobe's version\r\n";

const char kUsage[] = KX_SYNOPSIS
    "       kxprobe --help | -h | /? | --version\r\n"
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
    "  --capture FILE  ask, then write this machine's HKLM\\Enum\\PCI,\r\n"
    "                  HKLM\\Enum\\SCSI and HKEY_DYN_DATA\\Config Manager\\Enum to\r\n"
    "                  FILE as a REGEDIT4 profile with the answers as comments,\r\n"
    "                  which --profile replays elsewhere and compares with its own\r\n"
    "  --force         ... and replace FILE if it exists, which is otherwise refused\r\n"
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
    "                  warning for each trap. Exit status 1 when there are\r\n"
    "                  warnings.\r\n"
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
    "                  GetGraphicsCardID, IsBroadLogicPresent and\r\n"
    "                  IsDVDDrivePresent, and prints a row for each machine with\r\n"
    "                  the card lines that decided; the tree loaded before is put\r\n"
    "                  back. Only under Wine. Exit status 2 when a profile was\r\n"
    "                  refused.\r\n"
    "  --baseline FILE an earlier --library --json output: every answer that\r\n"
    "                  differs from it is printed (on stderr with --json), and\r\n"
    "                  the exit status is 1 when any does\r\n"
    "  --run PROGRAM [ARGUMENTS]\r\n"
    "                  instead of asking, run PROGRAM with the rest of the line\r\n"
    "                  as its arguments, wait for it and exit with its status:\r\n"
    "                  a program of yours asks a replayed machine (--profile)\r\n"
    "                  while it lasts, which under Wine is as long as kxprobe\r\n"
    "                  runs. With --capture, the machine is captured first.\r\n"
    "  --output FILE   write every line to FILE, errors included, replacing it\r\n"
    "  --help          this text; -h and /? give a short one\r\n"
    "  --version       kxprobe's version\r\n"
    "\r\n"
    "Every path is taken from the folder kxprobe was started in, --run's\r\n"
    "program included, and each is checked before anything is written.\r\n"
    "\r\n"
    "Exit status: 0 when every question was asked, 1 when KXVozaDa.dll does not\r\n"
    "load or lacks an export, --check-defs warned or --library found a change,\r\n"
    "2 on a usage or profile error.\r\n";

namespace {

// The modes as bits, for the options each takes.
enum : unsigned {
    kAsk = 1u << (int)Mode::ask,
    kCheckDefs = 1u << (int)Mode::check_defs,
    kExplain = 1u << (int)Mode::explain,
    kLibrary = 1u << (int)Mode::library,
    kRun = 1u << (int)Mode::run,
    kEveryMode = kAsk | kCheckDefs | kExplain | kLibrary | kRun,
};

// One option: what follows it, where it goes and the modes that take it.
// A mode's own option names it; `alone` is what an option says when it
// comes without a mode that takes it.
struct Option {
    const char *name;
    const char *needs; // the problem when its value is missing; null: it takes none
    const char *Options::*value;
    bool Options::*flag;
    unsigned modes;
    const char *alone;
};

const Option kOptions[] = {
    {"--profile", "--profile needs the FILE of a machine profile", &Options::profile, nullptr, kAsk | kRun, nullptr},
    {"--capture", "--capture needs the FILE to write the machine to", &Options::capture, nullptr, kAsk | kRun, nullptr},
    {"--force", nullptr, nullptr, &Options::force, kAsk | kRun, nullptr},
    {"--folder", "--folder needs the DIR of the card files and helper programs", &Options::folder, nullptr,
     kAsk | kRun | kLibrary, nullptr},
    {"--json", nullptr, nullptr, &Options::json, kAsk | kLibrary, nullptr},
    {"--trace", nullptr, nullptr, &Options::trace, kAsk | kRun, nullptr},
    {"--dvd", "--dvd needs the TEXT of a drive description", &Options::dvd_text, nullptr, kAsk | kRun | kLibrary,
     nullptr},
    {"--file", "--file needs the PATH of a file", &Options::file, nullptr, kAsk | kRun, nullptr},
    {"--signature", "--signature needs HEX digits", &Options::signature, nullptr, kAsk | kRun, nullptr},
    {"--quiet", nullptr, nullptr, &Options::quiet, kCheckDefs, "--quiet goes only with --check-defs"},
    {"--baseline", "--baseline needs the FILE of an earlier --library --json output", &Options::baseline, nullptr,
     kLibrary, "--baseline needs --library"},
    {"--output", "--output needs the FILE to write every line to", &Options::output, nullptr, kEveryMode, nullptr},
    {"--library", "--library needs the folder of the MACHINES profiles", &Options::library, nullptr, kLibrary, nullptr},
};

const char *const kModeNames[] = {nullptr, "--check-defs", "--explain", "--library", "--run"};

// What is being read: the options seen, in the order of kOptions, and the
// option that chose the mode.
struct Reading {
    const Arguments &arguments;
    Options &options;
    TextBuilder problem;
    const char *seen[sizeof(kOptions) / sizeof(kOptions[0])];
    int mode_at; // the argument that chose the mode, or -1
};

bool problem(Reading &reading, const char *pattern, const char *what, const char *other = nullptr,
             const char *third = nullptr)
{
    reading.problem.format(pattern, what, other, third);
    return false;
}

// Every mode but `ask` is chosen by one option, once.
bool choose_mode(Reading &reading, int i, Mode mode)
{
    if (reading.mode_at >= 0) {
        const char *chosen = reading.arguments.value[reading.mode_at];
        const char *option = reading.arguments.value[i];
        return problem(reading, "%s: %s and %s are asked one at a time", option, chosen, option);
    }
    reading.options.mode = mode;
    reading.mode_at = i;
    return true;
}

// The folder that may follow argument i; the current one when none does.
const char *optional_dir(const Arguments &arguments, int &i)
{
    if (i + 1 < arguments.count && strncmp(arguments.value[i + 1], "--", 2))
        return arguments.value[++i];
    return ".";
}

bool read_defs_mode(Reading &reading, int &i, Mode mode)
{
    Options &options = reading.options;
    const char *option = reading.arguments.value[i];
    if (!choose_mode(reading, i, mode))
        return false;
    if (mode == Mode::explain) {
        if (i + 1 >= reading.arguments.count)
            return problem(reading, "%s needs a device description", option);
        options.explain = reading.arguments.value[++i];
        if (!*options.explain)
            return problem(reading, "%s: the device description is empty", option);
    }
    options.defs_dir = optional_dir(reading.arguments, i);
    return true;
}

bool read_option(Reading &reading, int &i)
{
    const Arguments &arguments = reading.arguments;
    Options &options = reading.options;
    const char *option = arguments.value[i];
    for (size_t k = 0; k < sizeof(kOptions) / sizeof(kOptions[0]); ++k) {
        const Option &known = kOptions[k];
        if (strcmp(option, known.name))
            continue;
        reading.seen[k] = option;
        if (known.flag)
            return options.*known.flag = true;
        if (i + 1 >= arguments.count)
            return problem(reading, "%s", known.needs);
        options.*known.value = arguments.value[++i];
        return known.value != &Options::library || choose_mode(reading, i - 1, Mode::library);
    }
    if (!strcmp(option, "--check-defs"))
        return read_defs_mode(reading, i, Mode::check_defs);
    if (!strcmp(option, "--explain"))
        return read_defs_mode(reading, i, Mode::explain);
    if (!strcmp(option, "--run")) {
        if (!choose_mode(reading, i, Mode::run))
            return false;
        options.run = arguments.value + i + 1;
        options.run_count = arguments.count - i - 1;
        i = arguments.count;
        return options.run_count || problem(reading, "%s needs a PROGRAM to run", option);
    }
    return problem(reading, strncmp(option, "--", 2) ? "%s: not an option" : "%s: no such option", option);
}

// Each option seen is one that the mode takes.
bool fits_mode(Reading &reading)
{
    const unsigned mode = 1u << (int)reading.options.mode;
    for (size_t k = 0; k < sizeof(kOptions) / sizeof(kOptions[0]); ++k) {
        const Option &known = kOptions[k];
        if (!reading.seen[k] || known.modes & mode)
            continue;
        if (reading.options.mode == Mode::ask)
            return problem(reading, "%s", known.alone);
        return problem(reading, "%s does not go with %s", known.name, kModeNames[(int)reading.options.mode]);
    }
    return true;
}

bool is_hex(const char *text)
{
    size_t length = strlen(text);
    for (size_t i = 0; i < length; ++i)
        if (hex_digit_value(text[i]) < 0)
            return false;
    return length && length % 2 == 0;
}

// --help, -h, /? and --version answer wherever they stand on the line.
// What follows --run is the program's own.
bool asked_for(const Arguments &arguments, const char *option, const char *other = nullptr)
{
    for (int i = 0; i < arguments.count && strcmp(arguments.value[i], "--run"); ++i)
        if (!strcmp(arguments.value[i], option) || (other && !strcmp(arguments.value[i], other)))
            return true;
    return false;
}

} // namespace

bool parse_options(const Arguments &arguments, Options &options, char (&problem_line)[kProblemSize])
{
    Reading reading = {arguments, options, TextBuilder(problem_line), {}, -1};
    if (asked_for(arguments, "--help"))
        return (options.mode = Mode::help), true;
    if (asked_for(arguments, "-h", "/?"))
        return (options.mode = Mode::usage), true;
    if (asked_for(arguments, "--version"))
        return (options.mode = Mode::version), true;
    for (int i = 0; i < arguments.count; ++i)
        if (!read_option(reading, i))
            return false;
    if (!fits_mode(reading))
        return false;
    if (options.signature && !*options.signature)
        return problem(reading, "%s \"\": give the bytes as pairs of hex digits, such as 4D5A", "--signature");
    if (options.signature && !is_hex(options.signature))
        return problem(reading, "--signature %s: give the bytes as pairs of hex digits, such as 4D5A",
                       options.signature);
    if (options.signature && !options.file)
        return problem(reading, "%s needs --file", "--signature");
    if (options.force && !options.capture)
        return problem(reading, "%s needs --capture", "--force");
    return true;
}
