// The text of a replayed machine: the names that a replay gives the nodes
// of the live-device table, and the answers of the captured machine that a
// capture carries as comment lines, read back and set beside the replay's
// own. Plain text, no Windows headers, so that it also builds natively.
#pragma once

#include "profile/regedit_text.h"

#include <cstddef>

// Windows 9x lists the nodes of HKEY_DYN_DATA\Config Manager\Enum in its
// own order, and the first node that matches a device decides the device
// questions; Wine lists every key's subkeys sorted by name. So a replay
// names the nodes "KX replay 00000001", "KX replay 00000002", ... in the
// order the profile lists them, which Wine's order keeps, and keeps each
// node's own name as the key's class, from which a capture takes it back.
// A Windows 9x node is named by eight hex digits: no node of a real
// machine looks like these.
enum {
    kReplayNodeNameSize = 19, // "KX replay " and 8 digits, and the NUL
    kReplayMaxNodes = 99999999,
};

// The name of the node that the profile lists `ordinal`th, from 1 to
// kReplayMaxNodes.
void replay_node_name(unsigned long ordinal, char name[kReplayNodeNameSize]);

// Whether `name` is one that a replay gives.
bool is_replay_node_name(const char *name);

// ---- the captured machine's answers ----
//
// A capture writes, right after its REGEDIT4 header, one comment line per
// line of its answers, as kxprobe prints them:
//
//   ; Captured by kxprobe 1.0.0.13 on 2026-12-09 14:03:05 under Windows 98 (4.10.2222 A)
//   ; KXVozaDa.dll: C:\KIT\KXVozaDa.dll, file version 1.0.0.13; card files and helpers from C:\KIT
//   ; GetAudioCardID = 1: audio card identifier from AudCards.def
//   ;     live device "Generic PCI Wave Audio"; AudCards.def line 4: "1 Generic PCI Wave Audio"
//   ...
//
// The registry text that follows is exactly what it would be without them.

// One line of the answers, `length` bytes, as a comment line: "; ", the
// line with any CR in it made a blank, and CR LF.
void notes_put_line(RegeditOutput &out, const char *line, size_t length);

// The first line of the answers: "Captured by PROGRAM on DATE under
// WINDOWS", `date` being "YYYY-MM-DD HH:MM:SS".
void notes_header(RegeditOutput &line, const char *program, const char *date, const char *windows);

enum {
    kNotesFieldSize = 512,
    kNotesMaxAnswers = 64,
    kNotesTextSize = 65536,
};

// One answer of the captured machine: its line and the detail that names
// its live device ("live device ..." or "live drive ..."), or "".
struct NoteAnswer {
    const char *line;
    const char *device;
    bool compared; // set when a replay's question was set beside it
};

// The answers that a profile carries, read from its comment lines before
// its first key. Texts point into the structure itself, which is therefore
// not copied.
struct CaptureNotes {
    bool found; // the comments began as a capture's do
    bool ended; // a key came: nothing more is read
    char program[kNotesFieldSize], date[kNotesFieldSize], windows[kNotesFieldSize];
    char dll_version[kNotesFieldSize]; // "" when the DLL line does not say
    const char *dll_line;              // "" when there is none
    NoteAnswer answers[kNotesMaxAnswers];
    int count;
    bool cut; // more answers, or more text, than fit: the rest is not read
    size_t used;
    char text[kNotesTextSize];

    CaptureNotes() = default;
    CaptureNotes(const CaptureNotes &) = delete;
    CaptureNotes &operator=(const CaptureNotes &) = delete;
};

void notes_begin(CaptureNotes &notes);
// Each line of the profile, as the parser gave it.
void notes_take_line(CaptureNotes &notes, const RegeditLine &line);

// One answer of a replay, to set beside the captured machine's.
struct ReplayAnswer {
    const char *question; // the line's text before " = ": "GetPCIInfo(0)"
    const char *line;
    int value;
    const char *device; // the detail that names its live device, or ""
};

enum NoteVerdict {
    note_not_captured, // the capture did not ask this question
    note_same,
    note_differs,
    note_elsewhere, // the answer comes from what a replay does not have
};

// Why a replay answers otherwise than the captured machine did.
enum NoteCause {
    cause_none,
    cause_card_files, // the same live device, another deciding line
    cause_dll,        // the same live device and line, or another device that no order explains
    cause_order,      // another live device, where Wine's order may change it
};

struct NoteComparison {
    NoteVerdict verdict;
    const NoteAnswer *then; // the captured answer, or null
    int then_value;
    NoteCause cause;
    const char *source; // for note_elsewhere: "its Windows", "its display driver", ...
};

// Sets the replay's answer beside the captured one for the same question.
// `order_noted`: Wine's order may change this question's answer.
void notes_compare(CaptureNotes &notes, const ReplayAnswer &now, bool order_noted, NoteComparison &out);
