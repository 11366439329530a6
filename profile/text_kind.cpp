#include "profile/text_kind.h"

#include <cstring>

static bool begins_with(const char *bytes, size_t length, const char *mark)
{
    const size_t mark_length = strlen(mark);
    return length >= mark_length && !memcmp(bytes, mark, mark_length);
}

TextKind text_kind(const char *bytes, size_t length)
{
    if (begins_with(bytes, length, "\xef\xbb\xbf"))
        return TextKind::utf8_bom;
    // Notepad's Unicode, little- or big-endian, and the same without its
    // mark, which a Latin letter first shows: one byte of it is 0.
    if (begins_with(bytes, length, "\xff\xfe") || begins_with(bytes, length, "\xfe\xff") ||
        (length >= 2 && !bytes[0] != !bytes[1]))
        return TextKind::utf16;
    if (begins_with(bytes, length, "MZ"))
        return TextKind::program;
    return memchr(bytes, 0, length) ? TextKind::binary : TextKind::ansi;
}
