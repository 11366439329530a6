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
// Texts are converted from the ANSI code page to UTF-8.
#pragma once

#include <string>

namespace answers {

void use_json();

// printf into a string.
std::string format(const char *pattern, ...) __attribute__((format(printf, 1, 2)));

// A JSON string holding an ANSI text.
std::string json_text(const std::string &ansi);

// One answer. `line` is how people read it; the export's name, its
// arguments as a JSON array, the answer and its meaning make the record.
void answer(const std::string &line, const char *name, const std::string &arguments, int value,
            const char *meaning);

// A line that explains the last answer (the live device, a traced line):
// indented under it for people, in its "details" for programs.
void detail(const std::string &text);

// Ends the output; with --json it closes the object, also when no answer
// was given.
void finish();

} // namespace answers
