// REGEDIT4 text: the line parser. Apart from the writer, so that a program
// that only writes profiles does not carry the parser's error texts.
#include "profile/regedit_text.h"

#include "profile/text_kind.h"

#include <cstring>

// Windows takes key names of up to 255 characters and value names of up to
// 16383. Names are checked in bytes, which is the same thing on a
// single-byte code page.
static const size_t kMaxKeyNameChars = 255;
static const size_t kMaxValueNameChars = 16383;

namespace {

// Part of a line: `length` bytes at `text`, not terminated.
struct Span {
    char *text;
    size_t length;
};

} // namespace

static Span trim(Span s)
{
    while (s.length && (s.text[0] == ' ' || s.text[0] == '\t')) {
        ++s.text;
        --s.length;
    }
    while (s.length && (s.text[s.length - 1] == ' ' || s.text[s.length - 1] == '\t'))
        --s.length;
    return s;
}

static Span after(Span s, size_t count)
{
    return Span{s.text + count, s.length - count};
}

static bool starts_with(Span s, const char *prefix)
{
    const size_t length = strlen(prefix);
    return s.length >= length && memcmp(s.text, prefix, length) == 0;
}

static char ascii_lower(char c)
{
    return c >= 'A' && c <= 'Z' ? char(c - 'A' + 'a') : c;
}

// ASCII folding is enough: every name compared against is ASCII, and a
// name that matches one of them byte for byte also matches in the registry.
static bool iequals(const char *a, size_t length, const char *b)
{
    if (strlen(b) != length)
        return false;
    for (size_t i = 0; i < length; ++i)
        if (ascii_lower(a[i]) != ascii_lower(b[i]))
            return false;
    return true;
}

static int hex_digit(char c)
{
    if (c >= '0' && c <= '9')
        return c - '0';
    c = ascii_lower(c);
    return c >= 'a' && c <= 'f' ? c - 'a' + 10 : -1;
}

static bool parse_hex_number(Span digits, size_t max_digits, unsigned long &number)
{
    if (digits.length == 0 || digits.length > max_digits)
        return false;
    number = 0;
    for (size_t i = 0; i < digits.length; ++i) {
        const int digit = hex_digit(digits.text[i]);
        if (digit < 0)
            return false;
        number = number << 4 | (unsigned long)digit;
    }
    return true;
}

static void fail(RegeditLine &out, unsigned long line, const char *what)
{
    out.kind = regedit_error;
    out.line = line;
    RegeditOutput message = {out.message, sizeof out.message, 0, nullptr, nullptr, false};
    out.message[0] = 0;
    regedit_put_text(message, what);
}

// An error that quotes the key line's name, "[HKEY_...]", as far as fits.
static void fail_key(RegeditLine &out, const char *what, Span name)
{
    fail(out, out.line, what);
    RegeditOutput message = {out.message, sizeof out.message, strlen(out.message), nullptr, nullptr, false};
    regedit_put(message, "[", 1);
    regedit_put(message, name.text, name.length);
    regedit_put(message, "]", 1);
}

// Reads the quoted string at the start of `s` into `dest`, which may be
// `s` itself: the text only shrinks. Leaves `s` just after the closing
// quote. Regedit escapes only the backslash and the quote.
static bool read_quoted(RegeditLine &out, Span &s, char *dest, size_t &length)
{
    length = 0;
    for (size_t i = 1; i < s.length; ++i) {
        char c = s.text[i];
        if (c == '"') {
            s = after(s, i + 1);
            return true;
        }
        if (c == '\\') {
            if (++i == s.length || (s.text[i] != '\\' && s.text[i] != '"')) {
                fail(out, out.line, "only \\\\ and \\\" may follow a backslash in a quoted string");
                return false;
            }
            c = s.text[i];
        }
        dest[length++] = c;
    }
    fail(out, out.line, "quoted string has no closing quote");
    return false;
}

namespace {

// The roots that a profile may name; keys below the others that regedit
// exports are passed over, as are keys outside the three subtrees.
enum RootKind { root_unknown, root_replayed, root_other };

} // namespace

static RootKind parse_root(Span name, RegeditRoot &root)
{
    static const char *const kOtherRoots[] = {
        "HKEY_CLASSES_ROOT", "HKEY_CURRENT_USER", "HKEY_USERS", "HKEY_CURRENT_CONFIG", "HKCR", "HKCU", "HKU", "HKCC"};
    if (iequals(name.text, name.length, "HKEY_LOCAL_MACHINE") || iequals(name.text, name.length, "HKLM"))
        root = regedit_local_machine;
    else if (iequals(name.text, name.length, "HKEY_DYN_DATA"))
        root = regedit_dyn_data;
    else {
        for (const char *other : kOtherRoots)
            if (iequals(name.text, name.length, other))
                return root_other;
        return root_unknown;
    }
    return root_replayed;
}

// What the registry would make of the path, or null when it takes it as
// written. It quietly merges doubled backslashes and drops a trailing one,
// so such a path would name another key than it appears to.
static const char *path_problem(Span path)
{
    size_t component = 0;
    for (size_t i = 0; i <= path.length; ++i) {
        if (i < path.length && path.text[i] != '\\') {
            ++component;
            continue;
        }
        if (component == 0 && path.length)
            return "an empty key name (two backslashes together, or one at the end) in ";
        if (component > kMaxKeyNameChars)
            return "a key name longer than 255 characters in ";
        component = 0;
    }
    return nullptr;
}

static bool inside_hardware_tree(RegeditRoot root, Span path)
{
    for (const RegeditSubtree &subtree : kRegeditSubtrees) {
        const size_t length = strlen(subtree.path);
        if (root != subtree.root || path.length < length || !iequals(path.text, length, subtree.path))
            continue;
        if (path.length == length || path.text[length] == '\\')
            return true;
    }
    return false;
}

static void parse_key(Span line, RegeditLine &out)
{
    if (line.length < 2 || line.text[line.length - 1] != ']')
        return fail(out, out.line, "key line does not end with ]");
    const Span name = {line.text + 1, line.length - 2};
    if (starts_with(name, "-"))
        return fail(out, out.line, "deleting a key is not supported");
    const char *slash = (const char *)memchr(name.text, '\\', name.length);
    const size_t root_length = slash ? size_t(slash - name.text) : name.length;
    const RootKind root = parse_root(Span{name.text, root_length}, out.root);
    if (root == root_unknown)
        return fail_key(out, "unknown root key in ", name);
    const Span path = slash ? after(name, root_length + 1) : Span{name.text + name.length, 0};
    if (slash && !path.length)
        return fail_key(out, "a backslash after the root and no key in ", name);
    if (const char *problem = path_problem(path))
        return fail_key(out, problem, name);
    path.text[path.length] = 0;
    out.kind = root == root_replayed && inside_hardware_tree(out.root, path) ? regedit_key : regedit_other_key;
    out.path = path.text;
    out.path_length = path.length;
}

// One line's share of a hex list, written to `dest`, which may be the list
// itself: every byte takes at least one digit. A line that continues on the
// next one ends with a comma before its backslash, as regedit writes it.
static bool parse_byte_list(Span list, bool continues, unsigned char *dest, size_t &count)
{
    count = 0;
    if (list.length == 0)
        return true;
    for (;;) {
        const char *comma = (const char *)memchr(list.text, ',', list.length);
        const size_t item_length = comma ? size_t(comma - list.text) : list.length;
        const Span item = trim(Span{list.text, item_length});
        if (!comma && continues && item.length == 0)
            return true;
        unsigned long byte;
        if (!parse_hex_number(item, 2, byte))
            return false;
        dest[count++] = (unsigned char)byte;
        if (!comma)
            return true;
        list = after(list, item_length + 1);
    }
}

static void parse_bytes(RegeditParser &parser, Span list, RegeditLine &out)
{
    list = trim(list);
    const bool continues = list.length && list.text[list.length - 1] == '\\';
    if (continues)
        --list.length;
    unsigned char *dest = (unsigned char *)list.text;
    if (!parse_byte_list(list, continues, dest, out.length))
        return fail(out, out.line, "hex bytes must be 1 or 2 hex digits separated by commas");
    out.data = dest;
    out.continues = continues;
    parser.hex_line = continues ? out.line : 0;
}

static void parse_hex(RegeditParser &parser, Span rest, RegeditLine &out)
{
    out.type = kRegeditBinary;
    if (starts_with(rest, "(")) {
        const char *close = (const char *)memchr(rest.text, ')', rest.length);
        if (!close || !parse_hex_number(Span{rest.text + 1, size_t(close - rest.text) - 1}, 8, out.type))
            return fail(out, out.line, "hex(N) needs a type of 1 to 8 hex digits");
        rest = after(rest, size_t(close - rest.text) + 1);
    }
    if (!starts_with(rest, ":"))
        return fail(out, out.line, "hex needs a : before its bytes");
    parse_bytes(parser, after(rest, 1), out);
}

// The string's text is unquoted over itself.
static void parse_string(Span data, RegeditLine &out)
{
    char *dest = data.text;
    size_t length;
    if (!read_quoted(out, data, dest, length))
        return;
    if (data.length)
        return fail(out, out.line, "text after the closing quote");
    // REG_SZ data carries its terminating NUL, as regedit stores it.
    dest[length] = 0;
    out.type = kRegeditString;
    out.data = (const unsigned char *)dest;
    out.length = length + 1;
}

static void parse_dword(Span digits, unsigned char *dest, RegeditLine &out)
{
    unsigned long number;
    if (!parse_hex_number(digits, 8, number))
        return fail(out, out.line, "dword: needs 1 to 8 hex digits");
    for (int i = 0; i < 4; ++i)
        dest[i] = (unsigned char)(number >> 8 * i);
    out.type = kRegeditDword;
    out.data = dest;
    out.length = 4;
}

static void parse_data(RegeditParser &parser, Span data, RegeditLine &out)
{
    if (starts_with(data, "\""))
        return parse_string(data, out);
    if (starts_with(data, "dword:"))
        return parse_dword(after(data, 6), (unsigned char *)data.text, out);
    if (starts_with(data, "hex"))
        return parse_hex(parser, after(data, 3), out);
    if (data.length == 1 && data.text[0] == '-')
        return fail(out, out.line, "deleting a value is not supported");
    fail(out, out.line, "unknown value type");
}

// The name is unquoted over itself and terminated where its closing quote
// was at the latest, before the data.
static void parse_value(RegeditParser &parser, Span line, RegeditLine &out)
{
    out.kind = regedit_value;
    out.name = "";
    if (starts_with(line, "@")) {
        line = after(line, 1);
    } else {
        char *name = line.text;
        if (!read_quoted(out, line, name, out.name_length))
            return;
        if (out.name_length > kMaxValueNameChars)
            return fail(out, out.line, "value name longer than 16383 characters");
        name[out.name_length] = 0;
        out.name = name;
    }
    if (!starts_with(line, "="))
        return fail(out, out.line, "value name not followed by =");
    parse_data(parser, after(line, 1), out);
}

static void parse_body_line(RegeditParser &parser, Span line, RegeditLine &out)
{
    if (line.length == 0)
        return;
    if (line.text[0] == ';') {
        out.kind = regedit_comment;
        out.data = (const unsigned char *)line.text + 1;
        out.length = line.length - 1;
        return;
    }
    if (memchr(line.text, 0, line.length))
        return fail(out, out.line, "NUL character");
    if (line.text[0] == '[') {
        parse_key(line, out);
        parser.key = parser.key || out.kind == regedit_key || out.kind == regedit_other_key;
        return;
    }
    if (line.text[0] != '"' && line.text[0] != '@')
        return fail(out, out.line, "neither a key nor a value");
    if (!parser.key)
        return fail(out, out.line, "value before the first key");
    parse_value(parser, line, out);
}

// What a first line that is not REGEDIT4 shows the file to be. Regedit of
// Windows 2000 and later exports Unicode text headed "Windows Registry
// Editor Version 5.00" unless told to write the older format: for such a
// file, `export_again` tells to add the way to save it as REGEDIT4. Files
// that are no ANSI text at all, a program given by mistake among them, are
// named for what they are too; regedit of Windows 9x never writes a
// byte-order mark.
static const char *header_problem(Span line, bool &export_again)
{
    static const char kVersion5[] = "Windows Registry Editor Version 5.00";
    export_again = false;
    switch (text_kind(line.text, line.length)) {
    case TextKind::utf8_bom:
        return "the file begins with a UTF-8 byte-order mark, which REGEDIT4 text never has: save it as ANSI text";
    case TextKind::program:
        return "the file is a program (it begins with MZ), not REGEDIT4 text";
    case TextKind::binary:
        return "the file is not text (it holds NUL bytes), not REGEDIT4";
    case TextKind::utf16:
        export_again = true;
        return "the file is Unicode (UTF-16) text, not REGEDIT4";
    case TextKind::ansi:
        break;
    }
    export_again = line.length == sizeof kVersion5 - 1 && !memcmp(line.text, kVersion5, line.length);
    return export_again ? "the file is a \"Windows Registry Editor Version 5.00\" export, not REGEDIT4"
                        : "the first line must be REGEDIT4";
}

static void fail_header(RegeditLine &out, Span line)
{
    bool export_again;
    fail(out, out.line, header_problem(line, export_again));
    if (!export_again)
        return;
    RegeditOutput message = {out.message, sizeof out.message, strlen(out.message), nullptr, nullptr, false};
    regedit_put_text(message,
                     "; export it again with regedit, saving as \"Win9x/NT4 Registration Files "
                     "(*.reg)\", which writes REGEDIT4");
}

void regedit_begin(RegeditParser &parser)
{
    parser = RegeditParser();
}

void regedit_parse_line(RegeditParser &parser, char *text, size_t length, RegeditLine &out)
{
    out = RegeditLine();
    out.line = ++parser.line;
    if (length && text[length - 1] == '\r')
        --length;
    const Span line = trim(Span{text, length});
    if (!parser.header) {
        // The header is the first line that is not blank.
        if (line.length == 0)
            return;
        if (line.length != 8 || memcmp(line.text, "REGEDIT4", 8) != 0)
            return fail_header(out, line);
        parser.header = true;
        out.kind = regedit_header;
        return;
    }
    if (parser.hex_line) {
        if (line.length == 0)
            return fail(out, parser.hex_line, "hex list ends with a backslash but no line continues it");
        out.kind = regedit_more_bytes;
        return parse_bytes(parser, line, out);
    }
    parse_body_line(parser, line, out);
}

void regedit_end(RegeditParser &parser, RegeditLine &out)
{
    out = RegeditLine();
    out.line = parser.line;
    if (!parser.header)
        fail(out, parser.line ? parser.line : 1, "the first line must be REGEDIT4");
    else if (parser.hex_line)
        fail(out, parser.hex_line, "hex list ends with a backslash but no line continues it");
}
