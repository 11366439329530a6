// The paths of kxprobe's command line, checked before anything is written:
// a usage or path error leaves the registry, a capture and every other file
// as they were. Each path is the user's, taken from the folder kxprobe was
// started in, also after --folder.
#pragma once

#include "options.h"

#include "base/unique.h"

// Opens --output, which must not be a folder or a file that kxprobe reads
// or writes otherwise, and sends every line there.
int open_output(const Options &options, UniqueFile &output);

// Before a profile is loaded or a machine captured: --folder is a folder,
// --run's program is found as CreateProcessA would find it from here (its
// path in `program`), and --capture can be written and replaces no file
// unless --force says so. --file and --capture become full paths.
int check_machine_paths(Options &options, char (&program)[MAX_PATH]);

// --library and --baseline as full paths.
int check_library_paths(Options &options);

// Makes --folder the current folder, if given.
int enter_folder(const Options &options);
