// libFuzzer target for the REGEDIT4 line parser and writer, built natively.
// The input is a profile's text, fed a line at a time, each line in a block
// of exactly its own size. Every value read is written back out and read
// again, and must come back as it was.
#include "harness/regedit_string.h"
#include "profile/regedit_text.h"

#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <string>

namespace {

struct Value {
    std::string name;
    unsigned long type = 0;
    std::string data;
    bool done = false;
};

} // namespace

// Adds what one line said to `value`.
static bool take(const RegeditLine &line, Value &value)
{
    if (line.kind == regedit_value) {
        if (strlen(line.name) != line.name_length)
            abort();
        value = Value();
        value.name = line.name;
        value.type = line.type;
    }
    if (line.kind == regedit_value || line.kind == regedit_more_bytes) {
        value.data.append(reinterpret_cast<const char *>(line.data), line.length);
        value.done = !line.continues;
    }
    return line.kind != regedit_error;
}

// One line parsed in a block of its own and taken into `value`.
static bool parse(RegeditParser &parser, const char *text, size_t length, RegeditLine &line, Value &value)
{
    char *block = static_cast<char *>(malloc(length ? length : 1));
    memcpy(block, text, length);
    regedit_parse_line(parser, block, length, line);
    if (line.kind == regedit_key &&
        (strlen(line.path) != line.path_length || line.path < block || line.path + line.path_length >= block + length))
        abort();
    if ((line.kind == regedit_value || line.kind == regedit_more_bytes) && line.length > length)
        abort();
    if (line.kind == regedit_error && strlen(line.message) >= sizeof line.message)
        abort();
    const bool ok = take(line, value);
    free(block);
    return ok;
}

// The value written out and read back under a key of its own.
static void check_round_trip(const Value &value)
{
    kx::StringOutput out;
    out.text = "REGEDIT4\r\n[HKLM\\Enum\\PCI]\r\n";
    regedit_put_value(out.out, value.name.data(), value.name.size(), value.type,
                      reinterpret_cast<const unsigned char *>(value.data.data()), value.data.size());
    if (!regedit_finish(out.out))
        abort();
    const std::string &text = out.text;
    RegeditParser parser;
    regedit_begin(parser);
    RegeditLine line;
    Value again;
    for (size_t start = 0, lf; (lf = text.find('\n', start)) != std::string::npos; start = lf + 1) {
        std::string copy = text.substr(start, lf - start);
        regedit_parse_line(parser, &copy[0], copy.size(), line);
        if (!take(line, again))
            abort();
    }
    regedit_end(parser, line);
    if (line.kind == regedit_error || !again.done || again.name != value.name || again.data != value.data)
        abort();
    // Types that the text spells out come back as the type they stand for.
    if (again.type != value.type)
        abort();
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    const char *text = reinterpret_cast<const char *>(data);
    RegeditParser parser;
    regedit_begin(parser);
    RegeditLine *line = static_cast<RegeditLine *>(malloc(sizeof(RegeditLine)));
    Value value;
    size_t start = 0;
    for (;;) {
        const char *lf = static_cast<const char *>(memchr(text + start, '\n', size - start));
        const size_t length = lf ? size_t(lf - (text + start)) : size - start;
        if (!parse(parser, text + start, length, *line, value))
            break;
        if (value.done) {
            check_round_trip(value);
            value.done = false;
        }
        if (!lf) {
            regedit_end(parser, *line);
            break;
        }
        start += length + 1;
    }
    free(line);
    return 0;
}
