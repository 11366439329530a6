// kxprobe's answers: lines for people or, with --json, one JSON object for
// programs:
//
//   {"answers": [
//     {"export": "GetPCIInfo", "arguments": [0], "answer": 7514,
//      "meaning": "vendor ID of the live display adapter",
//      "text": "GetPCIInfo(0) = 7514 (1D5A): vendor ID of the live display adapter",
//      "details": ["live device \"...\" (PCI\\...)"]},
//     ...]}
//
// The first record names the DLL that answers: "export" is null there,
// "path" and "version" say which file it is and "folder" where it was
// asked. After --profile the replay's report on itself comes first:
//
//   {"replay": [
//     {"kind": "differs", "question": "GetGraphicsCardID", "then": 2002, "now": 2003,
//      "why": "the card files changed", "text": "...", "details": ["then: ...", "now: ..."]},
//     ...],
//    "answers": [...]}
//
// Texts are converted from the ANSI code page to UTF-8. Each record is
// written as it comes.
#pragma once

#include "questions.h"

void answers_use_json();

// The sink that prints the answers; before a question that takes seconds,
// a console is told what it waits for.
AnswerSink printed_answers();

// A line that explains the last record (the live device, a traced line):
// indented under it for people, in its "details" for programs.
void answers_detail(const char *text);

// Ends the output; with --json it closes the object, also when no answer
// was given.
void answers_finish();

// One line of the replay's report. `kind` says what it is: "captured" (the
// capture's own line), "none" (it holds no answers), "same", "differs",
// "elsewhere" (an answer that no replay reproduces), "not asked", "order"
// (an answer that Wine's order may change). Null fields are left out.
struct ReplayRecord {
    const char *kind;
    const char *question;
    const int *then, *now;
    const char *why; // the likely cause of a difference, or where an answer comes from
    const char *line;
};
void answers_replay(const ReplayRecord &record);

// Before the answers, when a report will come before them, though it is
// written after them: with --json they are then the object's second array.
void answers_follow_replay();
// After the report, which has at least one line.
void answers_end_replay();
