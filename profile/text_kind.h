// What the first bytes of a text file say it holds. The readers of 8-bit
// ANSI text here, REGEDIT4 profiles and card definition files, take any
// byte as an ANSI character; these are the files that then read otherwise
// than they look. Plain text in and out, no Windows headers, so that it
// also builds natively.
#pragma once

#include <cstddef>

enum class TextKind {
    ansi,     // nothing tells it from ANSI text
    utf8_bom, // EF BB BF: UTF-8 behind a byte-order mark
    utf16,    // FF FE or FE FF, or a NUL beside the first character
    program,  // MZ: an executable image
    binary,   // a NUL byte somewhere in what was given
};

// `length` bytes from the start of a file: its first line, or more.
TextKind text_kind(const char *bytes, size_t length);
