// Capturing a customer's machine with what it answered: every question
// asked through the loaded DLL as kxprobe asks it, each line kept, and the
// registry hardware tree written as a REGEDIT4 profile with those lines as
// its comments (profile/replay_text.h), which a replay sets beside its own
// answers. For kxprobe --capture and for any program that captures a
// machine; nothing here writes to a console.
#pragma once

#include "questions.h"

#include "profile/profile.h"

// Who watches a capture being made, as a window that shows it does: each
// comment line as the profile will hold it, once it is kept (the header and
// the lines under each answer, indented, included), and before a question
// that may take seconds, what it waits for. Both get `context`.
struct CaptureWatcher {
    void (*line)(void *context, const char *line);
    void (*waiting)(void *context, const char *text);
    void *context;
};

struct MachineCapture {
    const char *path;              // the profile to write
    const char *program;           // who captures, with its version: "kxprobe 1.0.0.13"
    HMODULE dll;                   // KXVozaDa.dll, loaded by the caller; null when it did not load,
    DWORD load_error;              // ... and the error that LoadLibraryA gave
    AskOptions options;            // as for ask_questions
    const AnswerSink *show;        // where each answer's parts go as well, or null
    const CaptureWatcher *watcher; // or null
};

// Makes sure first that the profile can be written (profile_can_write);
// then asks every question in the current folder, handing each line to
// `show` and `watcher`, and writes the profile with the lines as its
// comments, headed by the program, the date and time and this Windows. The file is written
// whole or not at all: false, with `error` saying why, when it was not.
// `complete` says whether the DLL had every export.
bool capture_machine(const MachineCapture &capture, bool &complete, char error[kProfileErrorSize]);

// This Windows as GetVersionExA tells it: "Windows 98 (4.10.2222 A)".
void windows_version(char *text, size_t size);
