// kxprobe's output: written to the standard handles with WriteFile through
// a small buffer each, so that nothing of the C runtime's stdio is needed
// and a redirected output gets exactly the bytes written. Lines end in
// CR LF, as a Windows text file does.
#pragma once

#include <cstddef>

enum OutStream { kStdout, kStderr };

void out_write(OutStream stream, const char *bytes, size_t length);
void out_text(OutStream stream, const char *text);
// printf-style (the C runtime's _vsnprintf), however long the text.
void out_format(OutStream stream, const char *pattern, ...) __attribute__((format(printf, 2, 3)));
void out_flush();
// From now on both streams write to `file`, a handle open for writing, in
// the order they are written; null: to the standard handles again.
void out_to_file(void *file);
// Whether the stream is a console, where a person watches.
bool out_is_console(OutStream stream);

// A text of any length: in `fixed` while it fits, then in a block of the
// process heap that grows with it. Texts are static, so that they start
// zero-filled, which is empty, with nothing to construct. A Text owns its
// block, so it is never copied, and text_clear gives the block back:
// whoever fills a Text clears it once done with it.
enum { kTextFixed = 4096 };
struct Text {
    char *heap;          // or null while the text is in `fixed`
    size_t length, size; // size: of the heap block
    char fixed[kTextFixed];

    Text() = default;
    Text(const Text &) = delete;
    Text &operator=(const Text &) = delete;
    const char *text() const { return heap ? heap : fixed; }
};
void text_clear(Text &text);
void text_add(Text &text, const char *more);
void text_format(Text &text, const char *pattern, ...) __attribute__((format(printf, 2, 3)));
// Memory ran out for a text, which is cut, or for a copy of one: what the
// program writes is not whole, and it must say so and fail.
void text_out_of_memory();
// Whether it did since the program started.
bool text_ran_out();
// A copy of `text` in the process heap; null, said as above, when memory
// ran out.
char *heap_copy(const char *text);

// A Text used in a scope: it finds the Text empty, since every use leaves
// it so, and empties it when the scope ends.
class TextInUse {
public:
    explicit TextInUse(Text &text) : text_(text) { }
    ~TextInUse() { text_clear(text_); }
    TextInUse(const TextInUse &) = delete;
    TextInUse &operator=(const TextInUse &) = delete;

private:
    Text &text_;
};

// While `into` is given, what is written to kStdout is added to it
// instead, so that a record can be written once and both printed and
// compared.
void out_capture(Text *into);

// Windows' own text for an error code, then the code: "Access is denied.
// (error 5)"; `file`, when given, is the file that the failed call was to
// open, named where the words name a file.
void text_windows_error(Text &text, unsigned long code, const char *file = nullptr);

// The file that did not load when LoadLibraryA(name) failed with `code`,
// by its path where that can be told, else `name` itself.
const char *dll_file(const char *name, unsigned long code);
