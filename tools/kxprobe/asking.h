// kxprobe's asking: every question put to KXVozaDa.dll, printed as lines
// or JSON, with a replay's report before the answers and a capture made
// as they are asked.
#pragma once

#include "options.h"
#include "questions.h"

// What the questions are asked with, from the command line.
AskOptions ask_options(const Options &options);

// With --trace, whether a trace window can be made: kOk, or kUsageError
// said on stderr.
int check_trace(const Options &options);

// Loads KXVozaDa.dll by name and asks it; kxprobe's exit status.
int ask_dll(const Options &options);
