#include "json.h"

#include <windows.h>

static void out_utf8(OutStream stream, unsigned long code)
{
    char bytes[4];
    size_t length;
    if (code < 0x80) {
        bytes[0] = (char)code;
        length = 1;
    } else if (code < 0x800) {
        bytes[0] = (char)(0xc0 | code >> 6);
        bytes[1] = (char)(0x80 | (code & 0x3f));
        length = 2;
    } else if (code < 0x10000) {
        bytes[0] = (char)(0xe0 | code >> 12);
        bytes[1] = (char)(0x80 | (code >> 6 & 0x3f));
        bytes[2] = (char)(0x80 | (code & 0x3f));
        length = 3;
    } else {
        bytes[0] = (char)(0xf0 | code >> 18);
        bytes[1] = (char)(0x80 | (code >> 12 & 0x3f));
        bytes[2] = (char)(0x80 | (code >> 6 & 0x3f));
        bytes[3] = (char)(0x80 | (code & 0x3f));
        length = 4;
    }
    out_write(stream, bytes, length);
}

static bool is_high_surrogate(WCHAR c)
{
    return c >= 0xd800 && c < 0xdc00;
}

static bool is_low_surrogate(WCHAR c)
{
    return c >= 0xdc00 && c < 0xe000;
}

// A piece of a text, converted whole: what its ANSI characters give.
static void json_piece(OutStream stream, const WCHAR *wide, int length)
{
    for (int i = 0; i < length; ++i) {
        WCHAR c = wide[i];
        if (c == L'"' || c == L'\\') {
            char escaped[2] = {'\\', (char)c};
            out_write(stream, escaped, 2);
        } else if (c < 0x20) {
            out_format(stream, "\\u%04x", (unsigned)c);
        } else if (is_high_surrogate(c) && i + 1 < length && is_low_surrogate(wide[i + 1])) {
            out_utf8(stream, 0x10000 + ((unsigned long)(c - 0xd800) << 10) + (wide[i + 1] - 0xdc00));
            ++i;
        } else {
            out_utf8(stream, c);
        }
    }
}

// A text of any length goes in pieces of whole characters: a lead byte of a
// double-byte code page stays with the byte after it, so that no piece ends
// in half a character.
void json_string(OutStream stream, const char *ansi)
{
    enum { kPiece = 1024 };
    static WCHAR wide[kPiece];
    out_text(stream, "\"");
    while (*ansi) {
        int bytes = 0;
        while (bytes < kPiece - 1 && ansi[bytes])
            bytes += IsDBCSLeadByte((BYTE)ansi[bytes]) && ansi[bytes + 1] ? 2 : 1;
        json_piece(stream, wide, MultiByteToWideChar(CP_ACP, 0, ansi, bytes, wide, kPiece));
        ansi += bytes;
    }
    out_text(stream, "\"");
}

void json_key(OutStream stream, const char *name)
{
    out_format(stream, "\"%s\": ", name);
}

void json_field(OutStream stream, const char *name, const char *ansi)
{
    out_text(stream, ", ");
    json_key(stream, name);
    json_string(stream, ansi);
}

void json_number(OutStream stream, const char *name, int value)
{
    out_format(stream, ", \"%s\": %d", name, value);
}
