// The baseline of kxprobe --library: an earlier run's --library --json
// output, whose rows this run's are compared with. Rows are JSON objects on
// one line each, as the library writes them: "key": value pairs, a value a
// number, a string or an object of the same.
#pragma once

#include "output.h"

enum { kSame = 0, kChanged = 1, kFailed = 2 };
// A library of more machines is refused with a word to split it.
enum { kMaxMachines = 1000 };

// "kxprobe: " and the problem on stderr, `pattern` taking `what` and
// `detail`; kFailed.
int library_problem(const char *pattern, const char *what, const char *detail);
// ... with Windows' words for `code`; `file`: the file that the failed call
// was to open.
int library_windows_problem(const char *what, unsigned long code, const char *file = nullptr);

// Checks each line of the baseline at `path` and indexes its rows, before
// any machine is asked: kSame, or kFailed with the line named.
int read_baseline(const char *path);

// Sets this run's rows, `names[i]` the machine of `rows[i]`, beside the
// baseline's, and prints on `report` each answer that differs and a
// summary naming `baseline`: kSame, kChanged, or kFailed when a row was
// not kept.
int compare_with_baseline(const char *baseline, char *const *rows, char *const *names, int count, OutStream report);
