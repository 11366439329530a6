// Machine profiles: the registry hardware tree of one machine as REGEDIT4
// text, the format that regedit exports, for replaying a machine under Wine.
#pragma once

#include <string>

namespace kxprofile {

// Parses a REGEDIT4 profile and, only when the whole text is well formed,
// clears HKLM\Enum\PCI, HKLM\Enum\SCSI and HKEY_DYN_DATA\Config Manager\Enum
// and writes the profile's keys and values. On a malformed text nothing is
// written, false is returned and `error` names the line ("line 7: ...").
bool load(const std::string& text, std::string& error);

// Reads a profile file and loads it as load() does.
bool load_file(const char* path, std::string& error);

// `text` between double quotes, with backslashes and quotes escaped, as a
// REGEDIT4 string value or value name is written.
std::string quoted(const std::string &text);

// Deletes the three subtrees that a profile replaces.
void clear();

// Writes the three subtrees as they now stand in the registry as REGEDIT4
// text, laid out as regedit exports it: CR LF line ends, each key followed by
// its values and a blank line, depth first in the registry's own enumeration
// order. Loading the text and capturing again gives the same text.
std::string capture();

} // namespace kxprofile
