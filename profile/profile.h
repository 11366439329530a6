// Machine profiles: the registry hardware tree of one machine as REGEDIT4
// text, the format that regedit exports, for capturing a customer's machine
// and replaying it under Wine. Files of any size are streamed; nothing here
// holds a whole profile in memory.
#pragma once

enum {
    kProfileErrorSize = 512,
    kProfilePathSize = 260, // MAX_PATH
    // The most data one value may hold, in a profile or in the registry
    // being captured. Windows 9x keeps values far smaller; a larger one is
    // no hardware value.
    kProfileMaxValueBytes = 16 * 1024 * 1024,
};

// A profile's lines are read whole and may be up to kRegeditLineSize bytes
// long (profile/regedit_text.h); a longer line is an error naming it.

struct RegeditLine;

// Hands each line of a profile, as the parser gives it, to whoever reads
// more of it than the registry keeps: the captured machine's answers, the
// order of its keys.
struct ProfileReader {
    void (*line)(void *context, const RegeditLine &line);
    void *context;
};

// Replays the profile in the file `path`: HKLM\Enum\PCI, HKLM\Enum\SCSI and
// HKEY_DYN_DATA\Config Manager\Enum are cleared and the profile's keys and
// values written. The whole file is checked first, each line handed to
// `reader` when one is given; a malformed one changes nothing. On failure
// `error` says why, naming the line where there is one ("machine.reg: line
// 7: ..."). Should the registry refuse a write all the same, the subtrees
// are put back as they were, from a capture made in the temporary folder
// before clearing them, and the error says so. A load that is told to stop
// (profile_stop_when) stops between two keys in the same way.
// The nodes of the live-device table are named in the order the profile
// lists them, each keeping its own name as its key's class
// (profile/replay_text.h), so that every program asking the replayed
// machine sees them in the captured order.
// Keys outside the three subtrees, as a regedit export of all of
// HKLM\Enum holds, are passed over with their values and counted in
// `skipped`; a profile with no key inside them is refused.
bool profile_load(const char *path, char error[kProfileErrorSize], unsigned long *skipped = nullptr,
                  const ProfileReader *reader = nullptr);

// Writes the three subtrees as they stand to the file `path` as REGEDIT4
// text laid out as regedit exports it (CR LF line ends, each key followed by
// its values and a blank line, depth first in the registry's own order,
// with the live nodes of a replay by their own names), so that loading it
// and capturing again gives the same file. `notes`, lines separated by LF,
// are written as comment lines right after the header. The file is written
// whole under another name in its folder and only then takes the name
// `path`, so that a failure leaves whatever file was there before.
bool profile_capture(const char *path, char error[kProfileErrorSize], const char *notes = nullptr);

// Whether profile_capture could write `path`: its folder takes a new file,
// and a file of that name, if any, may be written. Said before the work of
// a capture begins.
bool profile_can_write(const char *path, char error[kProfileErrorSize]);

// Captures the three subtrees as they stand to a new file in the temporary
// folder, named in `saved`, to be loaded back later; on failure no file is
// left.
bool profile_save(char saved[kProfilePathSize], char error[kProfileErrorSize]);

// While `*stop` is not 0, a load stops before its next key, as if the
// registry had refused it: "machine.reg: line 7: interrupted; the hardware
// tree was put back as it was". The flag may be set from another thread, as
// a console's Ctrl-C handler runs; null, as it starts, for none.
void profile_stop_when(const volatile long *stop);

// A capture of the hardware tree that a load made before it cleared the
// tree, and that is still there: the load ended before it could put the
// tree back or delete the capture, as when its process was ended. Its path
// in `left`; false when there is none, or only captures that a load still
// running holds.
bool profile_left_behind(char left[kProfilePathSize]);

// Deletes the three subtrees.
void profile_clear();

// Called every few hundred keys while a load writes or a capture reads,
// with "loading" or "capturing", the file and the keys done so far; null,
// as it starts, for no reports.
typedef void (*ProfileProgress)(const char *doing, const char *path, unsigned long keys);
void profile_report_progress(ProfileProgress report);
