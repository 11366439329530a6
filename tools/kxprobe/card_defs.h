// kxprobe's view of AudCards.def and VidCards.def: the files read by the
// DLL's own line reader, so that an installer author sees what the DLL will
// make of them.
#pragma once

#include "inventory/card_line.h"

#include <string>

namespace carddefs {

// Prints every line of both files in `dir` (whether it counts, its
// identifier and key text) and a warning for each trap that the reading
// rules hide. Returns the number of warnings.
int check(const std::string &dir);

// Prints, for both files in `dir`, every line that matches `description`
// and the identifier that the DLL answers for a live device so described.
void explain(const std::string &dir, const std::string &description);

// "line N: <the line as read>" for the line of the file in the current
// folder that decides for `description`, or "no line matches".
std::string deciding_line(CardFile file, const std::string &description);

} // namespace carddefs
