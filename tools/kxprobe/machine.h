// kxprobe's work on the machine itself: a profile replayed into the
// registry, the machine captured to a profile, a program run on it, with
// progress for a person watching a long one.
#pragma once

#include "options.h"
#include "questions.h"

// Says "kxprobe: WHAT NAME: " and Windows' words for `code` on stderr, and
// returns `status`; `file` is the file that the failed call was to open.
int windows_error(const char *what, const char *name, unsigned long code, int status, const char *file = nullptr);

// Wine's registry is the only one that kxprobe rewrites.
bool running_under_wine();

// Replays the profile at `path` into the registry; kxprobe's exit status.
int load_profile(const char *path);

// Asks as the capture to `path` is made, handing the lines to `show` too; a
// capture that cannot be written is a usage error, said before anything is
// asked.
int capture(const char *path, const AskOptions &ask, HMODULE dll, DWORD load_error, const AnswerSink *show,
            bool &complete);

// --run, after --capture when given, whose answers are not printed: runs
// `program`, found where the user stood, with the arguments after --run,
// and answers with its exit status.
int capture_then_run(const Options &options, const AskOptions &ask, const char *program);
