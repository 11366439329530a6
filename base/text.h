// Text for code without a C runtime of its own: hexadecimal digits, the
// library's one case folding, and a builder that keeps a fixed buffer
// terminated. Plain text in and out, no Windows headers, so that it builds
// for any host.
#pragma once

#include <cstdarg>
#include <cstddef>

// The value of a hexadecimal digit of either case, -1 for any other
// character.
int hex_digit_value(char c);

// The library's one case folding, used wherever it compares text: a to z
// become A to Z and every other byte stays, 0x80 to 0xFF included, as the C
// runtime's _strupr does in the classic locale. The runtime's own follows
// the locale that the host process sets in it ("French" folds 0xE9 too), so
// the library never uses it.
inline char fold_char(char c)
{
    return c >= 'a' && c <= 'z' ? c - 'a' + 'A' : c;
}

// Copies `text` folded, at most size - 1 characters, always zero-terminated.
void fold_case(char *to, const char *text, size_t size);

// Folds `text` in place and returns it.
char *fold_case(char *text);

// Text built in a buffer of `size` bytes, at least one: zero-terminated
// from the start and after every addition, and what does not fit in
// size - 1 characters is cut. The C runtime's _vsnprintf leaves a text that
// fills its buffer unterminated; format() never does.
class TextBuilder {
public:
    TextBuilder(char *buffer, size_t size);
    template <size_t N> explicit TextBuilder(char (&buffer)[N]) : TextBuilder(buffer, N) { }
    TextBuilder(const TextBuilder &) = delete;
    TextBuilder &operator=(const TextBuilder &) = delete;

    void put(const char *text);
    // `length` bytes of `bytes`, zeros included.
    void put(const char *bytes, size_t length);
    // printf-style; false when the text was cut.
    bool format(const char *pattern, ...) __attribute__((format(printf, 2, 3)));
    bool format_list(const char *pattern, va_list args);

    const char *text() const { return buffer_; }
    size_t length() const { return length_; }

private:
    char *buffer_;
    size_t size_, length_;
};
