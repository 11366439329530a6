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
#include "asking.h"
#include "card_defs.h"
#include "command_line.h"
#include "library.h"
#include "machine.h"
#include "options.h"
#include "output.h"
#include "paths.h"

#include "base/unique.h"

#include <windows.h>

// Before a machine is asked or a program run on it: the trace window and
// every path checked, then the profile replayed and the folder made current.
static int prepare_machine(Options &options, char (&program)[MAX_PATH])
{
    int status = check_trace(options);
    if (status == kOk)
        status = check_machine_paths(options, program);
    if (status == kOk && options.profile)
        status = load_profile(options.profile);
    return status == kOk ? enter_folder(options) : status;
}

// Each machine's profile is replayed into the registry, which only Wine's
// may be.
static int ask_library(Options &options)
{
    int status = check_library_paths(options);
    if (status == kOk)
        status = enter_folder(options);
    if (status != kOk)
        return status;
    if (!running_under_wine()) {
        out_text(kStderr, "kxprobe: --library rewrites the hardware tree; refused outside Wine\r\n");
        return kUsageError;
    }
    Library library = {options.library, options.dvd_text, options.baseline, options.json};
    return run_library(library);
}

static int run(const Arguments &arguments, UniqueFile &output)
{
    Options options;
    static char problem[kProblemSize];
    const bool parsed = parse_options(arguments, options, problem);
    int status = options.output ? open_output(options, output) : kOk;
    if (status != kOk)
        return status;
    if (!parsed) {
        out_format(kStderr, "kxprobe: %s\r\nkxprobe --help lists the options\r\n", problem);
        return kUsageError;
    }
    if (!options.dvd_text)
        options.dvd_text = kDefaultDvdText;
    static char program[MAX_PATH];
    switch (options.mode) {
    case Mode::help:
        out_text(kStdout, kUsage);
        return kOk;
    case Mode::usage:
        out_text(kStdout, kShortUsage);
        return kOk;
    case Mode::version:
        out_text(kStdout, "kxprobe " KX_VERSION "\r\n");
        return kOk;
    case Mode::check_defs:
        return check_card_files(options.defs_dir, options.quiet);
    case Mode::explain:
        return explain_card_files(options.defs_dir, options.explain);
    case Mode::library:
        return ask_library(options);
    case Mode::run:
        status = prepare_machine(options, program);
        return status == kOk ? capture_then_run(options, ask_options(options), program) : status;
    case Mode::ask:
        status = prepare_machine(options, program);
        return status == kOk ? ask_dll(options) : status;
    }
    return kUsageError;
}

static int run_command_line()
{
    Arguments arguments;
    const bool split = split_command_line(GetCommandLineA(), arguments);
    const UniqueHeap<char *> block(arguments.value);
    if (!split) {
        out_text(kStderr, "kxprobe: not enough memory for the command line\r\n");
        return kUsageError;
    }
    UniqueFile output;
    const int status = run(arguments, output);
    // What the output file is still owed goes to it before it is closed.
    out_to_file(nullptr);
    return status;
}

// The image's entry point: there is no C runtime start-up code to call a
// main() and no exit() to flush its streams.
extern "C" void kxprobe_start()
{
    int status = run_command_line();
    // What memory could not hold was cut: the output is not what it says.
    if (text_ran_out()) {
        out_text(kStderr, "kxprobe: not enough memory: the output is not whole\r\n");
        status = status == kOk ? kUsageError : status;
    }
    out_flush();
    ExitProcess(status);
}
