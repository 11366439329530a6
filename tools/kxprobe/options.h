// kxprobe's command line read into what it is to do: one mode, and the
// options that mode takes, each refused by name where it does not belong.
// Plain text in and out, no Windows calls, so that it builds for any host.
#pragma once

#include "command_line.h"

#include <cstddef>

// kxprobe's exit status, but for --run, which exits with the program's.
enum ExitStatus { kOk = 0, kNoDll = 1, kUsageError = 2 };

// What one command does. Each but `ask` is chosen by its option; --help,
// -h, /? and --version are answered wherever they stand before --run.
enum class Mode { ask, check_defs, explain, library, run, help, usage, version };

struct Options {
    Mode mode = Mode::ask;
    const char *profile = nullptr;
    const char *capture = nullptr;
    bool force = false;           // --capture may replace a file
    const char *output = nullptr; // where every line goes, errors included
    bool json = false;
    bool trace = false;
    const char *dvd_text = nullptr; // null: the asking code's own default
    const char *file = nullptr;
    const char *signature = nullptr; // pairs of hex digits, at least one
    const char *defs_dir = nullptr;  // --check-defs or --explain
    const char *explain = nullptr;
    bool quiet = false;             // --check-defs: only the warnings and the summary
    const char *folder = nullptr;   // where the questions are asked
    const char *library = nullptr;  // a folder of machine profiles
    const char *baseline = nullptr; // an earlier --library --json output
    char *const *run = nullptr;     // a program and its arguments
    int run_count = 0;
};

enum { kProblemSize = 512 };

// Reads the command line into `options`. False when it is wrong, with
// `problem` saying what in one line, without the program's name; what was
// read up to there stays in `options` (an --output given first included).
bool parse_options(const Arguments &arguments, Options &options, char (&problem)[kProblemSize]);

// The short usage that /? and -h print, for an 80 by 25 MS-DOS Prompt,
// and the whole of it that --help prints.
extern const char kShortUsage[];
extern const char kUsage[];
