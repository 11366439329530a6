// kxprobe's view of AudCards.def and VidCards.def: the files read by the
// DLL's own line reader, so that an installer author sees what the DLL will
// make of them. Files of any size are streamed, in memory that does not
// grow with them.
#pragma once

#include "inventory/card_line.h"

#include "output.h"

// Prints every line of both files in `dir` (whether it counts, its
// identifier and key text) and a warning for each trap that the reading
// rules hide. Returns the number of warnings.
int check_card_files(const char *dir);

// Prints, for both files in `dir`, every line that matches `description`
// and the identifier that the DLL answers for a live device so described.
void explain_card_files(const char *dir, const char *description);

// "line N: <the line as read>" for the line of the file in the current
// folder that decides for `description`, or "no line matches".
void deciding_line(CardFile file, const char *description, Text &text);
