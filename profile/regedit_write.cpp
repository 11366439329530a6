// REGEDIT4 text: the writer, and the subtrees that a profile holds.
#include "profile/regedit_text.h"

#include <cstring>

const RegeditSubtree kRegeditSubtrees[kRegeditSubtreeCount] = {
    {regedit_local_machine, "Enum\\PCI"},
    {regedit_local_machine, "Enum\\SCSI"},
    {regedit_dyn_data, "Config Manager\\Enum"},
};

// Regedit wraps hex lists once a line reaches this column.
static const size_t kHexWrapColumn = 76;

const char *regedit_root_name(RegeditRoot root)
{
    return root == regedit_dyn_data ? "HKEY_DYN_DATA" : "HKEY_LOCAL_MACHINE";
}

void regedit_put(RegeditOutput &out, const char *text, size_t length)
{
    // A fixed string keeps a byte for its terminator.
    const size_t room = out.flush ? out.size : out.size - 1;
    while (length && !out.failed) {
        if (out.used == room) {
            if (!out.flush)
                break;
            out.failed = !out.flush(out);
            out.used = 0;
            continue;
        }
        const size_t part = length < room - out.used ? length : room - out.used;
        memcpy(out.buffer + out.used, text, part);
        out.used += part;
        text += part;
        length -= part;
    }
    if (!out.flush)
        out.buffer[out.used] = 0;
}

void regedit_put_text(RegeditOutput &out, const char *text)
{
    regedit_put(out, text, strlen(text));
}

void regedit_put_number(RegeditOutput &out, unsigned long number)
{
    char digits[24];
    size_t start = sizeof digits;
    do {
        digits[--start] = char('0' + number % 10);
        number /= 10;
    } while (number);
    regedit_put(out, digits + start, sizeof digits - start);
}

bool regedit_finish(RegeditOutput &out)
{
    if (out.flush && out.used && !out.failed)
        out.failed = !out.flush(out);
    out.used = 0;
    return !out.failed;
}

// `digits` lower-case hex digits of `number`, or as many as it needs.
static size_t put_hex(RegeditOutput &out, unsigned long number, int digits)
{
    char text[8];
    int count = 0;
    while (count < 8 && (count < digits || number >> 4 * count))
        ++count;
    for (int i = 0; i < count; ++i)
        text[i] = "0123456789abcdef"[number >> 4 * (count - 1 - i) & 0xf];
    regedit_put(out, text, size_t(count));
    return size_t(count);
}

static size_t quoted_length(const char *text, size_t length)
{
    size_t escapes = 0;
    for (size_t i = 0; i < length; ++i)
        escapes += text[i] == '\\' || text[i] == '"';
    return length + escapes + 2;
}

void regedit_put_quoted(RegeditOutput &out, const char *text, size_t length)
{
    regedit_put(out, "\"", 1);
    size_t start = 0;
    for (size_t i = 0; i < length; ++i) {
        if (text[i] != '\\' && text[i] != '"')
            continue;
        regedit_put(out, text + start, i - start);
        regedit_put(out, "\\", 1);
        start = i;
    }
    regedit_put(out, text + start, length - start);
    regedit_put(out, "\"", 1);
}

void regedit_put_header(RegeditOutput &out)
{
    regedit_put_text(out, "REGEDIT4\r\n\r\n");
}

void regedit_put_key(RegeditOutput &out, RegeditRoot root, const char *path)
{
    regedit_put(out, "[", 1);
    regedit_put_text(out, regedit_root_name(root));
    if (*path) {
        regedit_put(out, "\\", 1);
        regedit_put_text(out, path);
    }
    regedit_put_text(out, "]\r\n");
}

void regedit_put_key_end(RegeditOutput &out)
{
    regedit_put(out, "\r\n", 2);
}

// A string regedit can write between quotes: one terminating NUL and no
// other, and no line break; and short enough that its line can be read
// back. Anything else is kept exactly as hex(1).
static bool plain_string(unsigned long type, const unsigned char *data, size_t length, size_t column)
{
    const char *text = (const char *)data;
    return type == kRegeditString && length && memchr(text, 0, length) == text + length - 1 &&
           !memchr(text, '\r', length) && !memchr(text, '\n', length) &&
           column + quoted_length(text, length - 1) + 1 <= kRegeditLineSize;
}

static void put_hex_list(RegeditOutput &out, unsigned long type, const unsigned char *data, size_t length,
                         size_t column)
{
    if (type == kRegeditBinary) {
        regedit_put_text(out, "hex:");
        column += 4;
    } else {
        regedit_put_text(out, "hex(");
        column += 6 + put_hex(out, type, 1);
        regedit_put_text(out, "):");
    }
    for (size_t i = 0; i < length; ++i) {
        put_hex(out, data[i], 2);
        if (i + 1 == length)
            break;
        regedit_put(out, ",", 1);
        column += 3;
        if (column >= kHexWrapColumn) {
            regedit_put_text(out, "\\\r\n  ");
            column = 2;
        }
    }
}

void regedit_put_value(RegeditOutput &out, const char *name, size_t name_length, unsigned long type,
                       const unsigned char *data, size_t length)
{
    size_t column = name_length ? quoted_length(name, name_length) + 1 : 2;
    if (name_length)
        regedit_put_quoted(out, name, name_length);
    else
        regedit_put(out, "@", 1);
    regedit_put(out, "=", 1);
    if (plain_string(type, data, length, column)) {
        regedit_put_quoted(out, (const char *)data, length - 1);
    } else if (type == kRegeditDword && length == 4) {
        regedit_put_text(out, "dword:");
        for (int i = 3; i >= 0; --i)
            put_hex(out, data[i], 2);
    } else {
        put_hex_list(out, type, data, length, column);
    }
    regedit_put(out, "\r\n", 2);
}
