// Machine profiles: reads REGEDIT4 text into the registry hardware tree and
// writes the tree back out as REGEDIT4 text.
#include "profile.h"

#include <windows.h>

#include <cstdio>
#include <string_view>
#include <utility>
#include <vector>

namespace kxprofile {

namespace {

struct Subtree {
    HKEY root;
    const char* root_name;
    const char* path;
};

// The only keys a profile may touch. Anything else in the registry belongs
// to the machine running the tests, not to the machine being replayed.
const Subtree kSubtrees[] = {
    {HKEY_LOCAL_MACHINE, "HKEY_LOCAL_MACHINE", "Enum\\PCI"},
    {HKEY_LOCAL_MACHINE, "HKEY_LOCAL_MACHINE", "Enum\\SCSI"},
    {HKEY_DYN_DATA, "HKEY_DYN_DATA", "Config Manager\\Enum"},
};

// Windows takes key names of up to 255 characters and value names of up to
// 16383. Profile key names are checked in bytes, which is the same thing on
// a single-byte code page; the buffers allow for the ANSI functions needing
// two bytes a character on a double-byte one.
const size_t kMaxKeyNameChars = 255;
const size_t kMaxValueNameChars = 16383;
const DWORD kKeyNameBuffer = 2 * kMaxKeyNameChars + 2;
const DWORD kValueNameBuffer = 2 * kMaxValueNameChars + 2;

// Profiles are a few kilobytes; a file far larger is not a profile.
const DWORD kMaxProfileBytes = 64 * 1024 * 1024;

// Regedit wraps hex lists once a line reaches this column.
const size_t kHexWrapColumn = 76;

struct Value {
    std::string name;
    DWORD type = REG_NONE;
    std::string data;
    size_t line = 0;
};

struct Key {
    HKEY root = nullptr;
    std::string path;
    size_t line = 0;
    std::vector<Value> values;
};

// The profile's lines and the one being parsed, so that every error can
// name its line, including the continuation lines of a hex list.
struct Cursor {
    std::vector<std::string_view> lines;
    size_t index = 0;
    std::string error;

    bool fail(const std::string& what)
    {
        error = "line " + std::to_string(index + 1) + ": " + what;
        return false;
    }
};

} // namespace

static std::vector<std::string_view> split_lines(std::string_view text)
{
    std::vector<std::string_view> lines;
    size_t start = 0;
    while (start <= text.size()) {
        size_t end = text.find('\n', start);
        if (end == std::string_view::npos)
            end = text.size();
        std::string_view line = text.substr(start, end - start);
        if (!line.empty() && line.back() == '\r')
            line.remove_suffix(1);
        lines.push_back(line);
        start = end + 1;
    }
    return lines;
}

static std::string_view trim(std::string_view s)
{
    const size_t first = s.find_first_not_of(" \t");
    if (first == std::string_view::npos)
        return {};
    return s.substr(first, s.find_last_not_of(" \t") - first + 1);
}

static bool starts_with(std::string_view s, std::string_view prefix)
{
    return s.substr(0, prefix.size()) == prefix;
}

static char ascii_lower(char c)
{
    return c >= 'A' && c <= 'Z' ? char(c - 'A' + 'a') : c;
}

// ASCII folding is enough: every name compared against is ASCII, and a
// name that matches one of them byte for byte also matches in the registry.
static bool iequals(std::string_view a, std::string_view b)
{
    if (a.size() != b.size())
        return false;
    for (size_t i = 0; i < a.size(); ++i)
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

static bool parse_hex_number(std::string_view digits, size_t max_digits, DWORD& number)
{
    if (digits.empty() || digits.size() > max_digits)
        return false;
    number = 0;
    for (char c : digits) {
        const int digit = hex_digit(c);
        if (digit < 0)
            return false;
        number = number << 4 | DWORD(digit);
    }
    return true;
}

// Reads the quoted string at the start of `s` and leaves `s` just after its
// closing quote. Regedit escapes only the backslash and the quote.
static bool read_quoted(Cursor& cursor, std::string_view& s, std::string& text)
{
    for (size_t i = 1; i < s.size(); ++i) {
        char c = s[i];
        if (c == '"') {
            s.remove_prefix(i + 1);
            return true;
        }
        if (c == '\\') {
            if (++i == s.size() || (s[i] != '\\' && s[i] != '"'))
                return cursor.fail("only \\\\ and \\\" may follow a backslash in a quoted string");
            c = s[i];
        }
        text += c;
    }
    return cursor.fail("quoted string has no closing quote");
}

static bool parse_root(std::string_view name, HKEY& root)
{
    if (iequals(name, "HKEY_LOCAL_MACHINE") || iequals(name, "HKLM"))
        root = HKEY_LOCAL_MACHINE;
    else if (iequals(name, "HKEY_DYN_DATA"))
        root = HKEY_DYN_DATA;
    else
        return false;
    return true;
}

// The registry quietly merges doubled backslashes and drops a trailing one,
// so such paths would name a different key than they appear to.
static bool valid_path(std::string_view path)
{
    size_t start = 0;
    for (;;) {
        const size_t end = path.find('\\', start);
        const size_t length = (end == std::string_view::npos ? path.size() : end) - start;
        if (length == 0 || length > kMaxKeyNameChars)
            return false;
        if (end == std::string_view::npos)
            return true;
        start = end + 1;
    }
}

static bool inside_hardware_tree(HKEY root, std::string_view path)
{
    for (const Subtree& subtree : kSubtrees) {
        const std::string_view top = subtree.path;
        if (root != subtree.root || path.size() < top.size() || !iequals(path.substr(0, top.size()), top))
            continue;
        if (path.size() == top.size() || path[top.size()] == '\\')
            return true;
    }
    return false;
}

static bool parse_key(Cursor& cursor, std::string_view line, std::vector<Key>& keys)
{
    if (line.size() < 2 || line.back() != ']')
        return cursor.fail("key line does not end with ]");
    const std::string_view name = line.substr(1, line.size() - 2);
    if (starts_with(name, "-"))
        return cursor.fail("deleting a key is not supported");
    const size_t slash = name.find('\\');
    Key key;
    if (!parse_root(name.substr(0, slash), key.root))
        return cursor.fail("unknown root key in [" + std::string(name) + "]");
    const std::string_view path = slash == std::string_view::npos ? std::string_view() : name.substr(slash + 1);
    if (!valid_path(path) || !inside_hardware_tree(key.root, path))
        return cursor.fail("key outside the hardware tree: [" + std::string(name) + "]");
    key.path = std::string(path);
    key.line = cursor.index + 1;
    keys.push_back(std::move(key));
    return true;
}

static bool parse_string(Cursor& cursor, std::string_view data, Value& value)
{
    value.type = REG_SZ;
    if (!read_quoted(cursor, data, value.data))
        return false;
    if (!data.empty())
        return cursor.fail("text after the closing quote");
    // REG_SZ data carries its terminating NUL, as regedit stores it.
    value.data += '\0';
    return true;
}

static bool parse_dword(Cursor& cursor, std::string_view digits, Value& value)
{
    DWORD number;
    if (!parse_hex_number(digits, 8, number))
        return cursor.fail("dword: needs 1 to 8 hex digits");
    value.type = REG_DWORD;
    for (int shift = 0; shift < 32; shift += 8)
        value.data += char(number >> shift & 0xff);
    return true;
}

// One line's share of a hex list. A line that continues on the next one
// ends with a comma before its backslash, as regedit writes it.
static bool parse_byte_list(std::string_view list, bool continues, std::string& bytes)
{
    if (list.empty())
        return true;
    size_t start = 0;
    for (;;) {
        const size_t comma = list.find(',', start);
        const std::string_view item = trim(list.substr(start, comma - start));
        if (comma == std::string_view::npos && continues && item.empty())
            return true;
        DWORD byte;
        if (!parse_hex_number(item, 2, byte))
            return false;
        bytes += char(byte);
        if (comma == std::string_view::npos)
            return true;
        start = comma + 1;
    }
}

static bool parse_bytes(Cursor& cursor, std::string_view list, std::string& bytes)
{
    for (;;) {
        list = trim(list);
        const bool continues = !list.empty() && list.back() == '\\';
        if (continues)
            list.remove_suffix(1);
        if (!parse_byte_list(list, continues, bytes))
            return cursor.fail("hex bytes must be 1 or 2 hex digits separated by commas");
        if (!continues)
            return true;
        if (cursor.index + 1 == cursor.lines.size() || trim(cursor.lines[cursor.index + 1]).empty())
            return cursor.fail("hex list ends with a backslash but no line continues it");
        list = cursor.lines[++cursor.index];
    }
}

static bool parse_hex(Cursor& cursor, std::string_view rest, Value& value)
{
    value.type = REG_BINARY;
    if (starts_with(rest, "(")) {
        const size_t close = rest.find(')');
        if (close == std::string_view::npos || !parse_hex_number(rest.substr(1, close - 1), 8, value.type))
            return cursor.fail("hex(N) needs a type of 1 to 8 hex digits");
        rest.remove_prefix(close + 1);
    }
    if (!starts_with(rest, ":"))
        return cursor.fail("hex needs a : before its bytes");
    return parse_bytes(cursor, rest.substr(1), value.data);
}

static bool parse_data(Cursor& cursor, std::string_view data, Value& value)
{
    if (starts_with(data, "\""))
        return parse_string(cursor, data, value);
    if (starts_with(data, "dword:"))
        return parse_dword(cursor, data.substr(6), value);
    if (starts_with(data, "hex"))
        return parse_hex(cursor, data.substr(3), value);
    if (data == "-")
        return cursor.fail("deleting a value is not supported");
    return cursor.fail("unknown value type");
}

static bool parse_value(Cursor& cursor, std::string_view line, Key& key)
{
    Value value;
    value.line = cursor.index + 1;
    if (starts_with(line, "@"))
        line.remove_prefix(1);
    else if (!read_quoted(cursor, line, value.name))
        return false;
    if (!starts_with(line, "="))
        return cursor.fail("value name not followed by =");
    if (!parse_data(cursor, line.substr(1), value))
        return false;
    key.values.push_back(std::move(value));
    return true;
}

static bool parse_line(Cursor& cursor, std::string_view line, std::vector<Key>& keys)
{
    if (line.find('\0') != std::string_view::npos)
        return cursor.fail("NUL character");
    if (line.empty() || line[0] == ';')
        return true;
    if (line[0] == '[')
        return parse_key(cursor, line, keys);
    if (line[0] != '"' && line[0] != '@')
        return cursor.fail("neither a key nor a value");
    if (keys.empty())
        return cursor.fail("value before the first key");
    return parse_value(cursor, line, keys.back());
}

// The header is the first line that is not blank.
static bool parse_header(Cursor& cursor)
{
    while (cursor.index + 1 < cursor.lines.size() && trim(cursor.lines[cursor.index]).empty())
        ++cursor.index;
    return trim(cursor.lines[cursor.index]) == "REGEDIT4" || cursor.fail("the first line must be REGEDIT4");
}

static bool parse_profile(const std::string& text, std::vector<Key>& keys, std::string& error)
{
    Cursor cursor;
    cursor.lines = split_lines(text);
    bool ok = parse_header(cursor);
    while (ok && ++cursor.index < cursor.lines.size())
        ok = parse_line(cursor, trim(cursor.lines[cursor.index]), keys);
    if (!ok)
        error = cursor.error;
    return ok;
}

static bool fail_status(std::string& error, const std::string& what, LONG status)
{
    error = what + ": error " + std::to_string(status);
    return false;
}

// RegDeleteKey takes the subkeys with it on Windows 9x but refuses a key
// that has any on NT and Wine, and RegDeleteTree only came with Vista, so
// the subkeys go first. Each pass takes subkey 0, since deleting one
// renumbers the rest.
static LONG delete_tree(HKEY parent, const char* name)
{
    HKEY key;
    LONG status = RegOpenKeyExA(parent, name, 0, KEY_READ | KEY_WRITE, &key);
    if (status != ERROR_SUCCESS)
        return status;
    char child[kKeyNameBuffer];
    do {
        DWORD size = sizeof child;
        status = RegEnumKeyExA(key, 0, child, &size, nullptr, nullptr, nullptr, nullptr);
        if (status == ERROR_SUCCESS)
            status = delete_tree(key, child);
    } while (status == ERROR_SUCCESS);
    RegCloseKey(key);
    return status == ERROR_NO_MORE_ITEMS ? RegDeleteKeyA(parent, name) : status;
}

static bool clear_subtrees(std::string& error)
{
    for (const Subtree& subtree : kSubtrees) {
        HKEY key;
        if (RegOpenKeyExA(subtree.root, subtree.path, 0, KEY_READ, &key) != ERROR_SUCCESS)
            continue;
        RegCloseKey(key);
        const LONG status = delete_tree(subtree.root, subtree.path);
        if (status != ERROR_SUCCESS)
            return fail_status(error, std::string("cannot clear ") + subtree.root_name + "\\" + subtree.path, status);
    }
    return true;
}

// Under Wine all of HKEY_DYN_DATA lives only in wineserver's memory: keys
// made there without REG_OPTION_VOLATILE are accepted and still vanish when
// wineserver exits, as they do on Windows 9x when the machine restarts.
static bool write_key(const Key& key, std::string& error)
{
    HKEY handle;
    LONG status = RegCreateKeyExA(key.root, key.path.c_str(), 0, nullptr, REG_OPTION_NON_VOLATILE,
                                  KEY_SET_VALUE, nullptr, &handle, nullptr);
    if (status != ERROR_SUCCESS)
        return fail_status(error, "line " + std::to_string(key.line) + ": cannot create the key", status);
    for (const Value& value : key.values) {
        status = RegSetValueExA(handle, value.name.c_str(), 0, value.type,
                                reinterpret_cast<const BYTE*>(value.data.data()), DWORD(value.data.size()));
        if (status != ERROR_SUCCESS) {
            RegCloseKey(handle);
            return fail_status(error, "line " + std::to_string(value.line) + ": cannot set the value", status);
        }
    }
    RegCloseKey(handle);
    return true;
}

bool load(const std::string& text, std::string& error)
{
    error.clear();
    std::vector<Key> keys;
    if (!parse_profile(text, keys, error) || !clear_subtrees(error))
        return false;
    for (const Key& key : keys)
        if (!write_key(key, error))
            return false;
    return true;
}

static bool read_file(const char* path, std::string& text, std::string& error)
{
    const HANDLE file = CreateFileA(path, GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                                    FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE)
        return fail_status(error, std::string("cannot read ") + path, LONG(GetLastError()));
    char chunk[65536];
    DWORD got = 0;
    BOOL ok;
    while ((ok = ReadFile(file, chunk, sizeof chunk, &got, nullptr)) && got != 0 && text.size() <= kMaxProfileBytes)
        text.append(chunk, got);
    const DWORD status = ok ? ERROR_SUCCESS : GetLastError();
    CloseHandle(file);
    if (status != ERROR_SUCCESS)
        return fail_status(error, std::string("cannot read ") + path, LONG(status));
    if (text.size() > kMaxProfileBytes) {
        error = std::string(path) + " is too large to be a profile";
        return false;
    }
    return true;
}

bool load_file(const char* path, std::string& error)
{
    error.clear();
    if (path == nullptr) {
        error = "no profile file named";
        return false;
    }
    std::string text;
    if (!read_file(path, text, error))
        return false;
    if (load(text, error))
        return true;
    error = std::string(path) + ": " + error;
    return false;
}

void clear()
{
    std::string ignored;
    clear_subtrees(ignored);
}

std::string quoted(const std::string& text)
{
    std::string out = "\"";
    for (char c : text) {
        if (c == '\\' || c == '"')
            out += '\\';
        out += c;
    }
    return out + "\"";
}

// A string regedit can write between quotes: one terminating NUL and no
// other, and no line break. Anything else is kept exactly as hex(1).
static bool plain_string(const Value& value)
{
    const std::string& data = value.data;
    return value.type == REG_SZ && !data.empty() && data.find('\0') == data.size() - 1 &&
           data.find_first_of("\r\n") == std::string::npos;
}

static void append_hex(std::string& line, const Value& value)
{
    char text[32];
    if (value.type == REG_BINARY)
        std::snprintf(text, sizeof text, "hex:");
    else
        std::snprintf(text, sizeof text, "hex(%lx):", static_cast<unsigned long>(value.type));
    line += text;
    size_t column = line.size();
    for (size_t i = 0; i < value.data.size(); ++i) {
        std::snprintf(text, sizeof text, "%02x", static_cast<unsigned char>(value.data[i]));
        line += text;
        if (i + 1 == value.data.size())
            break;
        line += ',';
        column += 3;
        if (column >= kHexWrapColumn) {
            line += "\\\r\n  ";
            column = 2;
        }
    }
}

static std::string value_line(const Value& value)
{
    std::string line = (value.name.empty() ? "@" : quoted(value.name)) + "=";
    if (plain_string(value)) {
        line += quoted(value.data.substr(0, value.data.size() - 1));
    } else if (value.type == REG_DWORD && value.data.size() == 4) {
        const auto* bytes = reinterpret_cast<const unsigned char*>(value.data.data());
        char text[16];
        std::snprintf(text, sizeof text, "dword:%02x%02x%02x%02x", bytes[3], bytes[2], bytes[1], bytes[0]);
        line += text;
    } else {
        append_hex(line, value);
    }
    return line + "\r\n";
}

// RegEnumValueA reports ERROR_MORE_DATA with the size it needs; the value
// may also grow between calls, so keep asking until it fits.
static LONG read_value(HKEY key, DWORD index, std::string& name_buffer, Value& value)
{
    for (;;) {
        DWORD name_size = DWORD(name_buffer.size());
        DWORD data_size = DWORD(value.data.size());
        const LONG status = RegEnumValueA(key, index, &name_buffer[0], &name_size, nullptr, &value.type,
                                          reinterpret_cast<BYTE*>(&value.data[0]), &data_size);
        if (status == ERROR_MORE_DATA && data_size > value.data.size()) {
            value.data.resize(data_size);
            continue;
        }
        if (status == ERROR_SUCCESS) {
            value.name.assign(name_buffer, 0, name_size);
            value.data.resize(data_size);
        }
        return status;
    }
}

static void capture_values(std::string& out, HKEY key)
{
    std::string name_buffer(kValueNameBuffer, '\0');
    for (DWORD index = 0;; ++index) {
        Value value;
        value.data.resize(256);
        if (read_value(key, index, name_buffer, value) != ERROR_SUCCESS)
            return;
        out += value_line(value);
    }
}

static void capture_key(std::string& out, HKEY key, const std::string& name)
{
    out += "[" + name + "]\r\n";
    capture_values(out, key);
    out += "\r\n";
    char child[kKeyNameBuffer];
    for (DWORD index = 0;; ++index) {
        DWORD size = sizeof child;
        if (RegEnumKeyExA(key, index, child, &size, nullptr, nullptr, nullptr, nullptr) != ERROR_SUCCESS)
            return;
        HKEY handle;
        if (RegOpenKeyExA(key, child, 0, KEY_READ, &handle) != ERROR_SUCCESS)
            continue;
        capture_key(out, handle, name + "\\" + child);
        RegCloseKey(handle);
    }
}

std::string capture()
{
    std::string out = "REGEDIT4\r\n\r\n";
    for (const Subtree& subtree : kSubtrees) {
        HKEY key;
        if (RegOpenKeyExA(subtree.root, subtree.path, 0, KEY_READ, &key) != ERROR_SUCCESS)
            continue;
        capture_key(out, key, std::string(subtree.root_name) + "\\" + subtree.path);
        RegCloseKey(key);
    }
    return out;
}

} // namespace kxprofile
