// kxprobe's output: written to the standard handles with WriteFile through
// a small buffer each, so that nothing of the C runtime's stdio is needed
// and a redirected output gets exactly the bytes written. Lines end in
// CR LF, as a Windows text file does.
#pragma once

#include <cstddef>

enum OutStream { kStdout, kStderr };

void out_write(OutStream stream, const char *bytes, size_t length);
void out_text(OutStream stream, const char *text);
// printf-style (the C runtime's _vsnprintf); a text longer than 8 KB is cut.
void out_format(OutStream stream, const char *pattern, ...) __attribute__((format(printf, 2, 3)));
void out_flush();
// From now on both streams write to `file`, a handle open for writing, in
// the order they are written; null: to the standard handles again.
void out_to_file(void *file);
// Whether the stream is a console, where a person watches.
bool out_is_console(OutStream stream);

// While `into` is given, what is written to kStdout is kept in it instead,
// cut at its size and always terminated, so that a record can be written
// once and both printed and compared.
struct Captured {
    char *bytes;
    size_t size, length;
};
void out_capture(Captured *into);

// A text built in a fixed buffer, cut at its size.
enum { kTextMax = 4096 };
struct Text {
    char text[kTextMax];
    size_t length;
};
void text_clear(Text &text);
void text_add(Text &text, const char *more);
void text_format(Text &text, const char *pattern, ...) __attribute__((format(printf, 2, 3)));
// Windows' own text for an error code, then the code: "Access is denied.
// (error 5)"; `file`, when given, is the file that the failed call was to
// open, named where the words name a file.
void text_windows_error(Text &text, unsigned long code, const char *file = nullptr);

// The file that did not load when LoadLibraryA(name) failed with `code`,
// by its path where that can be told, else `name` itself.
const char *dll_file(const char *name, unsigned long code);
