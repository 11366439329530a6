// kxprobe's view of AudCards.def and VidCards.def: the files read by the
// DLL's own line reader, so that an installer author sees what the DLL will
// make of them. Files of any size are streamed, in memory that does not
// grow with them.
#pragma once

#include "inventory/card_line.h"

#include "output.h"

// Prints every line of both files in `dir` (whether it counts, its
// identifier and key text), or with `quiet` none, a warning for each trap
// that the reading rules hide, and a summary. Returns kxprobe's exit
// status: 0, 1 when it warned, 2 when `dir` is no folder.
int check_card_files(const char *dir, bool quiet);

// Prints, for both files in `dir`, every line that matches `description`
// and the identifier that the DLL answers for a live device so described.
// Returns kxprobe's exit status: 0, 1 when a file does not open, 2 when
// `dir` is no folder.
int explain_card_files(const char *dir, const char *description);
