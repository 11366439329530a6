// Every question that KXVozaDa.dll answers, asked as an installer asks
// it, each answer said in a line with its meaning and the lines under it
// (its live device, the line of a card file that decided, what a trace
// window got). The lines go to a sink: kxprobe prints them, a capture
// keeps them in the profile it writes. Nothing here writes to a console or
// a file, so that any program can ask and capture as kxprobe does.
#pragma once

#include "inventory/trace.h"

#include <windows.h>

#include <cstddef>

// One argument of an export, as the JSON record lists it.
struct Argument {
    enum Kind { number, text, null } kind;
    int value;
    const char *string;
};

// One answer: the line that says it, and what it is made of.
struct Answer {
    const char *line;     // "GetPCIInfo(0) = 7514 (1D5A): vendor ID of the live display adapter"
    const char *question; // the line's text before " = ": "GetPCIInfo(0)"
    const char *name;     // the export
    const Argument *arguments;
    int count;
    int value;
    const char *meaning;
};

// Where the lines go, in this order: the DLL, then each answer, each
// followed by the lines under it. Every function is called with `context`.
struct AnswerSink {
    // The DLL that answers: its full path, the file version of its version
    // resource, and the folder it is asked in, whose card files and helper
    // programs it reads.
    void (*dll)(void *context, const char *line, const char *path, const char *version, const char *folder);
    void (*answer)(void *context, const Answer &answer);
    // A line under the DLL or the last answer. Under an answer, the first
    // that begins "live " names the device that decided it.
    void (*detail)(void *context, const char *text);
    // Before a question that may take seconds: what it waits for.
    void (*waiting)(void *context, const char *text);
    void *context;
};

// What IsDVDDrivePresent looks for unless told otherwise: the drive of the
// sample machine.
static const char kDefaultDvdText[] = "Generic DVD-ROM DX-5";

struct Text;

// A trace of the device questions: each is answered by kxprobe's own copy
// of its routine, which traces to `sink`, and the DLL is asked as well.
// Every function is called with `context`.
struct QuestionTrace {
    // Before and after each run of device questions; a trace that does not
    // open leaves the run to the DLL alone.
    bool (*open)(void *context);
    void (*close)(void *context);
    TraceSink sink;
    // Adds to a traced answer's line that the DLL answers otherwise.
    void (*differs)(void *context, Text &line, int dll_answer);
    // After each traced question: the lines it traced, as lines under it.
    void (*lines)(void *context, const AnswerSink &answers);
    void *context;
};

struct AskOptions {
    const char *dvd_text;       // what IsDVDDrivePresent looks for
    const char *file;           // IsFileAvailable's path, or null not to ask it
    const char *signature;      // ... the bytes it begins with, as pairs of hex digits, or null
    const QuestionTrace *trace; // or null to ask the DLL alone
};

// Asks every question that `dll`, loaded by the caller as KXVozaDa.dll,
// exports, in the current folder, and hands the lines to `sink`. False
// when the DLL lacks an export; a line under the DLL's names each.
bool ask_questions(HMODULE dll, const AskOptions &options, const AnswerSink &sink);

// The file version of the DLL's version resource, "1.0.0.13", or "unknown".
void dll_version(HMODULE dll, char *version, size_t size);
