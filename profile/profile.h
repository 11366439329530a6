// Machine profiles: the registry hardware tree of one machine as REGEDIT4
// text, the format that regedit exports, for capturing a customer's machine
// and replaying it under Wine. Files of any size are streamed; nothing here
// holds a whole profile in memory.
#pragma once

enum {
    kProfileErrorSize = 512,
    // The most data one value may hold, in a profile or in the registry
    // being captured. Windows 9x keeps values far smaller; a larger one is
    // no hardware value.
    kProfileMaxValueBytes = 16 * 1024 * 1024,
};

// A profile's lines are read whole and may be up to kRegeditLineSize bytes
// long (profile/regedit_text.h); a longer line is an error naming it.

// Replays the profile in the file `path`: HKLM\Enum\PCI, HKLM\Enum\SCSI and
// HKEY_DYN_DATA\Config Manager\Enum are cleared and the profile's keys and
// values written. The whole file is checked first; a malformed one changes
// nothing. On failure `error` says why, naming the line where there is one
// ("machine.reg: line 7: ..."). Should the registry refuse a write all the
// same, the subtrees are put back as they were, from a capture made in the
// temporary folder before clearing them, and the error says so.
bool profile_load(const char *path, char error[kProfileErrorSize]);

// Writes the three subtrees as they stand to the file `path` as REGEDIT4
// text laid out as regedit exports it (CR LF line ends, each key followed by
// its values and a blank line, depth first in the registry's own order), so
// that loading it and capturing again gives the same file.
bool profile_capture(const char *path, char error[kProfileErrorSize]);

// Deletes the three subtrees.
void profile_clear();
