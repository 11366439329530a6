// Windows' own words for an error code, for the messages of the programs
// around the DLL.
#pragma once

#include "base/text.h"

// Windows' own words for an error code, then the code: "Access is denied.
// (error 5)". At most `size` - 1 characters. `file`, when given, is the
// file that the failed call was to open: it stands where the words name it
// ("Bad EXE format for %1."), and a folder given for it is called one
// instead of "Access is denied".
void windows_error_text(unsigned long code, char *text, unsigned long size, const char *file = nullptr);

// The same words added to `text`.
void windows_error_text(TextBuilder &text, unsigned long code, const char *file = nullptr);
