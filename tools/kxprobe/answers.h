// kxprobe's answers: lines for people or, with --json, one JSON object for
// programs:
//
//   {"answers": [
//     {"export": "GetPCIInfo", "arguments": [0], "answer": 7514,
//      "meaning": "vendor ID of the live display adapter",
//      "text": "GetPCIInfo(0) = 7514 (1D5A): vendor ID of the live display adapter",
//      "details": []},
//     ...]}
//
// The first record names the DLL that answers: "export" is null there,
// "path" and "version" say which file it is and "folder" where it was asked. Texts are converted from the
// ANSI code page to UTF-8. Each record is written as it comes.
#pragma once

void answers_use_json();

// One argument of an export, as the JSON record lists it.
struct Argument {
    enum Kind { number, text, null } kind;
    int value;
    const char *string;
};

// One answer. `line` is how people read it; the export's name, its
// arguments, the answer and its meaning make the record.
void answers_answer(const char *line, const char *name, const Argument *arguments, int count, int value,
                    const char *meaning);

// The DLL that answers, before any answer.
void answers_dll(const char *line, const char *path, const char *version, const char *folder);

// A line that explains the last answer (the live device, a traced line):
// indented under it for people, in its "details" for programs.
void answers_detail(const char *text);

// Ends the output; with --json it closes the object, also when no answer
// was given.
void answers_finish();
