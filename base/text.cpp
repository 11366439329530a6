#include "base/text.h"

#include <cstdio>
#include <cstring>

int hex_digit_value(char c)
{
    if (c >= '0' && c <= '9')
        return c - '0';
    if (c >= 'A' && c <= 'F')
        return c - 'A' + 10;
    if (c >= 'a' && c <= 'f')
        return c - 'a' + 10;
    return -1;
}

void fold_case(char *to, const char *text, size_t size)
{
    size_t i = 0;
    for (; i + 1 < size && text[i]; ++i)
        to[i] = fold_char(text[i]);
    to[i] = '\0';
}

char *fold_case(char *text)
{
    for (char *c = text; *c; ++c)
        *c = fold_char(*c);
    return text;
}

TextBuilder::TextBuilder(char *buffer, size_t size) : buffer_(buffer), size_(size), length_(0)
{
    buffer[0] = 0;
}

void TextBuilder::put(const char *text)
{
    put(text, strlen(text));
}

void TextBuilder::put(const char *bytes, size_t length)
{
    const size_t room = size_ - 1 - length_;
    if (length > room)
        length = room;
    memcpy(buffer_ + length_, bytes, length);
    length_ += length;
    buffer_[length_] = 0;
}

bool TextBuilder::format(const char *pattern, ...)
{
    va_list args;
    va_start(args, pattern);
    const bool whole = format_list(pattern, args);
    va_end(args);
    return whole;
}

// Windows' C runtimes write at most `room` characters and answer -1 when
// the text is longer, C99's write room - 1 and the terminator and answer
// the whole length: either way the text is cut to `room` and terminated
// here.
bool TextBuilder::format_list(const char *pattern, va_list args)
{
    const size_t room = size_ - 1 - length_;
#ifdef _WIN32
    int length = _vsnprintf(buffer_ + length_, room, pattern, args);
#else
    int length = vsnprintf(buffer_ + length_, room + 1, pattern, args);
#endif
    const bool whole = length >= 0 && (size_t)length <= room;
    length_ += whole ? (size_t)length : room;
    buffer_[length_] = 0;
    return whole;
}
