// REGEDIT4 test texts: written into a std::string, and given in either line
// end. Header-only and Windows-free, for the Wine tests and the native ones
// alike.
#pragma once

#include "profile/regedit_text.h"

#include <string>

namespace kx {

// Collects a writer's text through a buffer of a few bytes, so that every
// kind of line is split across flushes somewhere.
struct StringOutput {
    std::string text;
    char buffer[7];
    RegeditOutput out = {buffer, sizeof buffer, 0, append, &text, false};

    StringOutput() = default;
    StringOutput(const StringOutput &) = delete;
    StringOutput &operator=(const StringOutput &) = delete;

    static bool append(RegeditOutput &out)
    {
        static_cast<std::string *>(out.context)->append(out.buffer, out.used);
        return true;
    }
};

inline std::string crlf(const std::string &text)
{
    std::string out;
    for (char c : text) {
        if (c == '\n')
            out += '\r';
        out += c;
    }
    return out;
}

struct LineEnd {
    const char *label;
    bool crlf;
};
inline constexpr LineEnd kLineEnds[] = {{"LF", false}, {"CR LF", true}};

inline std::string with_line_end(const std::string &text, const LineEnd &end)
{
    return end.crlf ? crlf(text) : text;
}

// A malformed profile, the line that is named and what is said of it.
struct BadCase {
    const char *label;
    std::string text;
    int line;
    const char *says = "";
};

// The first four lines are good and name a key that must never appear.
const std::string kGoodStart = "REGEDIT4\n\n[HKEY_LOCAL_MACHINE\\Enum\\SCSI\\KXNEW]\n\"Ok\"=\"1\"\n";

} // namespace kx
