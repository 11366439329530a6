// REGEDIT4 text read line by line and written back, and the replay's text
// (its node names, the captured machine's answers, the order of the keys),
// natively: what the registry would store is checked under Wine in
// profile_test.
#include "harness/regedit_string.h"
#include "profile/regedit_text.h"
#include "profile/replay_text.h"
#include "profile/tree_order.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>

#include <memory>
#include <string>
#include <vector>

using namespace std::string_literals;
using kx::crlf;
using kx::kLineEnds;
using kx::LineEnd;
using kx::StringOutput;
using kx::with_line_end;

// Lines split at LF as a file is, the last being whatever follows the last
// LF; each in a block of its own size, so that reading past it is caught.
static std::vector<std::string> lines_of(const std::string &text)
{
    std::vector<std::string> lines;
    size_t start = 0;
    for (size_t lf; (lf = text.find('\n', start)) != std::string::npos; start = lf + 1)
        lines.push_back(text.substr(start, lf - start));
    lines.push_back(text.substr(start));
    return lines;
}

// Parses `text` and writes what it says back out as a capture would: the
// text, or "line N: message" at the first error.
static std::string reformat(const std::string &text)
{
    StringOutput out;
    RegeditParser parser;
    regedit_begin(parser);
    RegeditLine line;
    bool in_key = false, passing_over = false;
    std::string name, data;
    unsigned long type = 0;
    auto take = [&]() {
        switch (line.kind) {
        case regedit_header:
            regedit_put_header(out.out);
            break;
        case regedit_key:
            EXPECT_EQ(strlen(line.path), line.path_length);
            if (in_key)
                regedit_put_key_end(out.out);
            regedit_put_key(out.out, line.root, line.path);
            in_key = true;
            passing_over = false;
            break;
        case regedit_other_key:
            passing_over = true;
            break;
        case regedit_value:
            EXPECT_EQ(strlen(line.name), line.name_length);
            name = line.name;
            type = line.type;
            data.clear();
            [[fallthrough]];
        case regedit_more_bytes:
            data.append(reinterpret_cast<const char *>(line.data), line.length);
            if (!line.continues && !passing_over)
                regedit_put_value(out.out, name.data(), name.size(), type,
                                  reinterpret_cast<const unsigned char *>(data.data()), data.size());
            break;
        default:
            break;
        }
        return line.kind != regedit_error;
    };
    for (const std::string &text_line : lines_of(text)) {
        std::vector<char> block(text_line.begin(), text_line.end());
        regedit_parse_line(parser, block.data(), block.size(), line);
        if (!take())
            return "line " + std::to_string(line.line) + ": " + line.message;
    }
    regedit_end(parser, line);
    if (!take())
        return "line " + std::to_string(line.line) + ": " + line.message;
    if (in_key)
        regedit_put_key_end(out.out);
    EXPECT_TRUE(regedit_finish(out.out));
    return out.text;
}

// A regedit export of all of HKLM\Enum, or of more, keeps only the three
// subtrees: the other keys and their values are passed over.
TEST(RegeditText, KeysOutsideTheSubtreesArePassedOver)
{
    const std::string exported =
        "REGEDIT4\n\n[HKEY_LOCAL_MACHINE\\Enum]\n\n"
        "[HKEY_LOCAL_MACHINE\\Enum\\Root\\*PNP0C01\\0000]\n\"Class\"=\"System\"\n"
        "\"Data\"=hex:01,\\\n  02\n\n"
        "[HKEY_LOCAL_MACHINE\\Enum\\PCI\\VEN_1&DEV_2]\n\"Class\"=\"DISPLAY\"\n\n"
        "[HKEY_CURRENT_USER\\Software]\n@=\"x\"\n"
        "[HKEY_DYN_DATA\\Config Manager\\Enum\\C1]\n\"HardWareKey\"=\"PCI\\\\VEN_1\"\n"
        "[HKEY_DYN_DATA\\PerfStats]\n\"Cpu\"=dword:1\n";
    EXPECT_EQ(reformat(exported),
              "REGEDIT4\r\n\r\n[HKEY_LOCAL_MACHINE\\Enum\\PCI\\VEN_1&DEV_2]\r\n"
              "\"Class\"=\"DISPLAY\"\r\n\r\n[HKEY_DYN_DATA\\Config Manager\\Enum\\C1]\r\n"
              "\"HardWareKey\"=\"PCI\\\\VEN_1\"\r\n\r\n");
}

TEST(RegeditText, MalformedLineIsNamed)
{
    const kx::BadCase cases[] = {
        {"empty text", "", 1, "the first line must be REGEDIT4"},
        {"only blank lines", "\n  \n", 3, "the first line must be REGEDIT4"},
        {"wrong header", "REGEDIT5\n[HKEY_LOCAL_MACHINE\\Enum\\SCSI\\KXNEW]\n", 1, "REGEDIT4"},
        {"header after blank lines", "\n \nREGEDIT 4\n", 3},
        {"comment before the header", "; profile\nREGEDIT4\n", 1},
        {"version 5 header", "Windows Registry Editor Version 5.00\n", 1,
         "the file is a \"Windows Registry Editor Version 5.00\" export, not REGEDIT4; export it again with "
         "regedit, saving as \"Win9x/NT4 Registration Files (*.reg)\", which writes REGEDIT4"},
        {"Unicode text", "\xff\xfeR\0E\0G\0E\0D\0I\0T\0\r\0\n\0"s, 1,
         "the file is Unicode (UTF-16) text, not REGEDIT4; export it again"},
        {"UTF-16 without its mark", "R\0E\0G\0E\0D\0I\0T\04\0\r\0\n\0"s, 1, "the file is Unicode (UTF-16) text"},
        {"big-endian UTF-16",
         "\xfe\xff\0R\0E\0G\0E\0D\0I\0T\0"
         "4\0\r\0\n"s,
         1, "the file is Unicode (UTF-16) text"},
        {"byte order mark", "\xef\xbb\xbfREGEDIT4\n", 1,
         "the file begins with a UTF-8 byte-order mark, which REGEDIT4 text never has: save it as ANSI text"},
        {"program file", "MZ\x90\0\x03\0\0\0\x04\0\0\0\xff\xff\0\0\xb8\n"s, 1,
         "the file is a program (it begins with MZ), not REGEDIT4 text"},
        {"binary file", "\x01\x02\x03\0\x04\nREGEDIT4\n"s, 1,
         "the file is not text (it holds NUL bytes), not REGEDIT4"},
        {"value before the first key", "REGEDIT4\n\n\"a\"=\"b\"\n", 3, "value before the first key"},
        {"unknown root", "REGEDIT4\n\n[HKEY_NOWHERE\\Enum\\PCI]\n", 3, "unknown root key in [HKEY_NOWHERE\\Enum\\PCI]"},
        {"root and a backslash", "REGEDIT4\n\n[HKLM\\]\n", 3, "a backslash after the root and no key in [HKLM\\]"},
        {"key without ]", kx::kGoodStart + "[HKEY_LOCAL_MACHINE\\Enum\\PCI\\X\n", 5, "key line does not end with ]"},
        {"text after ]", kx::kGoodStart + "[HKEY_LOCAL_MACHINE\\Enum\\PCI\\X] more\n", 5},
        {"key deletion", kx::kGoodStart + "[-HKEY_LOCAL_MACHINE\\Enum\\PCI\\X]\n", 5,
         "deleting a key is not supported"},
        {"doubled backslash", kx::kGoodStart + "[HKEY_LOCAL_MACHINE\\Enum\\PCI\\\\X]\n", 5,
         "an empty key name (two backslashes together, or one at the end) in "
         "[HKEY_LOCAL_MACHINE\\Enum\\PCI\\\\X]"},
        {"trailing backslash", kx::kGoodStart + "[HKEY_LOCAL_MACHINE\\Enum\\PCI\\X\\]\n", 5},
        {"256-character key name", kx::kGoodStart + "[HKEY_LOCAL_MACHINE\\Enum\\PCI\\" + std::string(256, 'k') + "]\n",
         5, "a key name longer than 255 characters in [HKEY_LOCAL_MACHINE\\Enum\\PCI\\kkk"},
        {"empty brackets", kx::kGoodStart + "[]\n", 5},
        {"unterminated name", kx::kGoodStart + "\"a=\"b\"\n", 5},
        {"unterminated string", kx::kGoodStart + "\"a\"=\"b\n", 5, "quoted string has no closing quote"},
        {"unknown escape", kx::kGoodStart + "\"a\"=\"b\\nc\"\n", 5,
         "only \\\\ and \\\" may follow a backslash in a quoted string"},
        {"backslash ending a string", kx::kGoodStart + "\"a\"=\"b\\\"\n", 5},
        {"text after the string", kx::kGoodStart + "\"a\"=\"b\"c\n", 5, "text after the closing quote"},
        {"space before =", kx::kGoodStart + "\"a\" =\"b\"\n", 5, "value name not followed by ="},
        {"name without =", kx::kGoodStart + "\"a\"\n", 5},
        {"@ without =", kx::kGoodStart + "@\"a\"\n", 5},
        {"nothing after =", kx::kGoodStart + "\"a\"=\n", 5, "unknown value type"},
        {"value deletion", kx::kGoodStart + "\"a\"=-\n", 5, "deleting a value is not supported"},
        {"unknown type", kx::kGoodStart + "\"a\"=qword:1\n", 5},
        {"dword without digits", kx::kGoodStart + "\"a\"=dword:\n", 5, "dword: needs 1 to 8 hex digits"},
        {"dword of 9 digits", kx::kGoodStart + "\"a\"=dword:000000001\n", 5},
        {"dword not hex", kx::kGoodStart + "\"a\"=dword:12g4\n", 5},
        {"negative dword", kx::kGoodStart + "\"a\"=dword:-1\n", 5},
        {"dword with a space", kx::kGoodStart + "\"a\"=dword:1 2\n", 5},
        {"hex byte not hex", kx::kGoodStart + "\"a\"=hex:0g\n", 5,
         "hex bytes must be 1 or 2 hex digits separated by commas"},
        {"hex byte of 3 digits", kx::kGoodStart + "\"a\"=hex:123\n", 5},
        {"empty hex byte", kx::kGoodStart + "\"a\"=hex:01,,02\n", 5},
        {"hex ending in a comma", kx::kGoodStart + "\"a\"=hex:01,\n", 5},
        {"hex bytes without commas", kx::kGoodStart + "\"a\"=hex:01 02\n", 5},
        {"hex without :", kx::kGoodStart + "\"a\"=hex01\n", 5, "hex needs a : before its bytes"},
        {"hex() without a type", kx::kGoodStart + "\"a\"=hex():01\n", 5, "hex(N) needs a type of 1 to 8 hex digits"},
        {"hex(N) of 9 digits", kx::kGoodStart + "\"a\"=hex(100000000):01\n", 5},
        {"hex(N) not hex", kx::kGoodStart + "\"a\"=hex(x):01\n", 5},
        {"hex(N without )", kx::kGoodStart + "\"a\"=hex(7:01\n", 5},
        {"hex(N) without :", kx::kGoodStart + "\"a\"=hex(2)01\n", 5},
        {"continuation at the end of the text", kx::kGoodStart + "\"a\"=hex:01,\\", 5,
         "hex list ends with a backslash but no line continues it"},
        {"continuation onto a blank line", kx::kGoodStart + "\"a\"=hex:01,\\\n\n\"b\"=\"c\"\n", 5,
         "hex list ends with a backslash but no line continues it"},
        {"continuation onto a key line", kx::kGoodStart + "\"a\"=hex:01,\\\n[HKEY_LOCAL_MACHINE\\Enum\\PCI\\Y]\n", 6},
        {"bad byte on a continuation line", kx::kGoodStart + "\"a\"=hex:01,\\\n  02,\\\n  zz\n", 7},
        {"stray text", kx::kGoodStart + "junk\n", 5, "neither a key nor a value"},
        {"key path without brackets", kx::kGoodStart + "HKEY_LOCAL_MACHINE\\Enum\\PCI\\X\n", 5},
        {"NUL in a string", kx::kGoodStart + "\"a\"=\"b\0c\"\n"s, 5, "NUL character"},
        {"NUL in a key name", kx::kGoodStart + "[HKEY_LOCAL_MACHINE\\Enum\\PCI\\X\0Y]\n"s, 5},
        {"bad line after good keys",
         kx::kGoodStart + "\n[HKEY_LOCAL_MACHINE\\Enum\\PCI\\Z]\n\"z\"=dword:1\n\"y\"=oops\n", 8},
        {"value name of 16384 characters", kx::kGoodStart + "\"" + std::string(16384, 'n') + "\"=\"x\"\n", 5,
         "value name longer than 16383 characters"},
        {"key name too long to quote whole", kx::kGoodStart + "[HKLM\\" + std::string(1000, 'q') + "]\n", 5,
         "a key name longer than 255 characters in [HKLM\\qqq"},
    };
    for (const LineEnd &end : kLineEnds) {
        for (const kx::BadCase &row : cases) {
            SCOPED_TRACE(std::string(row.label) + " with " + end.label);
            const std::string error = reformat(with_line_end(row.text, end));
            const std::string prefix = "line " + std::to_string(row.line) + ": ";
            EXPECT_EQ(error.compare(0, prefix.size(), prefix), 0) << error;
            EXPECT_GT(error.size(), prefix.size()) << error;
            EXPECT_NE(error.find(row.says), std::string::npos) << error;
            EXPECT_LT(error.size(), prefix.size() + kRegeditMessageSize) << error;
        }
    }
}

namespace {

struct FormatCase {
    const char *label;
    std::string value_in;
    std::string value_out;
};

} // namespace

TEST(RegeditText, ValuesAreWrittenAsRegeditWould)
{
    const FormatCase cases[] = {
        {"short dword", "\"V\"=dword:1f", "\"V\"=dword:0000001f"},
        {"upper-case dword", "\"V\"=dword:ABCDEF01", "\"V\"=dword:abcdef01"},
        {"hex(3) is plain hex", "\"V\"=hex(3):01", "\"V\"=hex:01"},
        {"upper-case bytes", "\"V\"=hex:AB,C", "\"V\"=hex:ab,0c"},
        {"hex(4) of 4 bytes is a dword", "\"V\"=hex(4):01,02,00,00", "\"V\"=dword:00000201"},
        {"hex(4) of 2 bytes stays hex", "\"V\"=hex(4):01,02", "\"V\"=hex(4):01,02"},
        {"hex(1) string", "\"V\"=hex(1):41,5c,22,00", "\"V\"=\"A\\\\\\\"\""},
        {"hex(1) with a line break", "\"V\"=hex(1):41,0d,0a,42,00", "\"V\"=hex(1):41,0d,0a,42,00"},
        {"hex(1) with a NUL inside", "\"V\"=hex(1):41,00,42,00", "\"V\"=hex(1):41,00,42,00"},
        {"hex(1) without a NUL", "\"V\"=hex(1):41", "\"V\"=hex(1):41"},
        {"empty hex(1)", "\"V\"=hex(1):", "\"V\"=hex(1):"},
        {"hex(0) is kept", "\"V\"=hex(0):41,00", "\"V\"=hex(0):41,00"},
        {"type in lower-case hex", "\"V\"=hex(FFFFFFFF):7f", "\"V\"=hex(ffffffff):7f"},
        {"continuation joined", "\"V\"=hex:01,\\\n  02", "\"V\"=hex:01,02"},
        {"empty name is the default value", "\"\"=\"d\"", "@=\"d\""},
        {"longest value name", "\"" + std::string(16383, 'n') + "\"=\"x\"",
         "\"" + std::string(16383, 'n') + "\"=\"x\""},
        {"escaped name", "\"a\\\"b\\\\c\"=\"x\"", "\"a\\\"b\\\\c\"=\"x\""},
        {"22 bytes fill the first line",
         "\"Long\"=hex:00,01,02,03,04,05,06,07,08,09,0a,0b,0c,0d,0e,0f,10,11,12,13,14,15",
         "\"Long\"=hex:00,01,02,03,04,05,06,07,08,09,0a,0b,0c,0d,0e,0f,10,11,12,13,14,15"},
        {"the 23rd byte wraps", "\"Long\"=hex:00,01,02,03,04,05,06,07,08,09,0a,0b,0c,0d,0e,0f,10,11,12,13,14,15,16",
         "\"Long\"=hex:00,01,02,03,04,05,06,07,08,09,0a,0b,0c,0d,0e,0f,10,11,12,13,14,15,\\\r\n  16"},
        {"a longer name wraps sooner",
         "\"LongerName\"=hex:00,01,02,03,04,05,06,07,08,09,0a,0b,0c,0d,0e,0f,10,11,12,13,14",
         "\"LongerName\"=hex:00,01,02,03,04,05,06,07,08,09,0a,0b,0c,0d,0e,0f,10,11,12,13,\\\r\n  14"},
        {"three lines of hex",
         "\"Long\"=hex:00,01,02,03,04,05,06,07,08,09,0a,0b,0c,0d,0e,0f,10,11,12,13,14,15,16,17,18,19,1a,1b,1c,1d,"
         "1e,1f,20,21,22,23,24,25,26,27,28,29,2a,2b,2c,2d,2e,2f,30,31,32,33,34,35,36,37,38,39,3a,3b",
         "\"Long\"=hex:00,01,02,03,04,05,06,07,08,09,0a,0b,0c,0d,0e,0f,10,11,12,13,14,15,\\\r\n"
         "  16,17,18,19,1a,1b,1c,1d,1e,1f,20,21,22,23,24,25,26,27,28,29,2a,2b,2c,2d,2e,\\\r\n"
         "  2f,30,31,32,33,34,35,36,37,38,39,3a,3b"},
        {"typed hex wraps after its type",
         "@=hex(7):00,01,02,03,04,05,06,07,08,09,0a,0b,0c,0d,0e,0f,10,11,12,13,14,15,16,17",
         "@=hex(7):00,01,02,03,04,05,06,07,08,09,0a,0b,0c,0d,0e,0f,10,11,12,13,14,15,16,\\\r\n  17"},
    };
    for (const LineEnd &end : kLineEnds) {
        for (const FormatCase &row : cases) {
            SCOPED_TRACE(std::string(row.label) + " with " + end.label);
            const std::string text = "REGEDIT4\n[HKLM\\Enum\\PCI]\n" + row.value_in + "\n";
            EXPECT_EQ(reformat(with_line_end(text, end)),
                      "REGEDIT4\r\n\r\n[HKEY_LOCAL_MACHINE\\Enum\\PCI]\r\n" + row.value_out + "\r\n\r\n");
        }
    }
}

// A string too long to be quoted on one line that a profile may have is
// written as hex(1) instead, so that it can be read back.
TEST(RegeditText, EveryWrittenLineCanBeReadBack)
{
    const size_t room = kRegeditLineSize - strlen("\"V\"=\"\"\r");
    const struct {
        const char *label;
        std::string text;
        bool quoted;
    } cases[] = {
        {"longest quoted string", std::string(room, 's'), true},
        {"one character more", std::string(room + 1, 's'), false},
        {"quotes count twice", std::string(room / 2, '"'), true},
        {"one quote more", std::string(room / 2 + 1, '"'), false},
    };
    for (const auto &row : cases) {
        SCOPED_TRACE(row.label);
        StringOutput out;
        const std::string data = row.text + '\0';
        regedit_put_value(out.out, "V", 1, kRegeditString, reinterpret_cast<const unsigned char *>(data.data()),
                          data.size());
        EXPECT_TRUE(regedit_finish(out.out));
        const std::string &line = out.text;
        EXPECT_EQ(line.rfind(row.quoted ? "\"V\"=\"" : "\"V\"=hex(1):", 0), 0u) << line.substr(0, 20);
        size_t longest = 0;
        for (const std::string &each : lines_of(line))
            longest = std::max(longest, each.size());
        EXPECT_LE(longest, size_t(kRegeditLineSize));
        const std::string text = "REGEDIT4\n[HKLM\\Enum\\PCI]\n" + line;
        EXPECT_EQ(reformat(text), "REGEDIT4\r\n\r\n[HKEY_LOCAL_MACHINE\\Enum\\PCI]\r\n" + line + "\r\n");
    }
}

// A key, a value and the next line of a hex list, one event a line, with
// the data taken out of the line in place.
TEST(RegeditText, OneEventALine)
{
    char key[] = "[hkey_dyn_data\\Config Manager\\Enum\\C1]\r";
    char value[] = "\"A\\\"B\"=hex(7):61,00,\\";
    char more[] = "  62,00,00";
    RegeditParser parser;
    regedit_begin(parser);
    RegeditLine line;
    char header[] = "REGEDIT4";
    regedit_parse_line(parser, header, strlen(header), line);
    EXPECT_EQ(line.kind, regedit_header);

    regedit_parse_line(parser, key, strlen(key), line);
    ASSERT_EQ(line.kind, regedit_key) << line.message;
    EXPECT_EQ(line.line, 2u);
    EXPECT_EQ(line.root, regedit_dyn_data);
    EXPECT_STREQ(line.path, "Config Manager\\Enum\\C1");
    EXPECT_EQ(line.path, key + strlen("[hkey_dyn_data\\"));

    regedit_parse_line(parser, value, strlen(value), line);
    ASSERT_EQ(line.kind, regedit_value) << line.message;
    EXPECT_STREQ(line.name, "A\"B");
    EXPECT_EQ(line.name_length, 3u);
    EXPECT_EQ(line.type, 7u);
    EXPECT_EQ(std::string(reinterpret_cast<const char *>(line.data), line.length), "a\0"s);
    EXPECT_TRUE(line.continues);
    EXPECT_TRUE(line.data >= reinterpret_cast<unsigned char *>(value) &&
                line.data + line.length <= reinterpret_cast<unsigned char *>(value) + sizeof value);

    regedit_parse_line(parser, more, strlen(more), line);
    ASSERT_EQ(line.kind, regedit_more_bytes) << line.message;
    EXPECT_EQ(line.line, 4u);
    EXPECT_EQ(std::string(reinterpret_cast<const char *>(line.data), line.length), "b\0\0"s);
    EXPECT_FALSE(line.continues);

    char comment[] = "  ;  a note ";
    regedit_parse_line(parser, comment, strlen(comment), line);
    ASSERT_EQ(line.kind, regedit_comment) << line.message;
    EXPECT_EQ(std::string(reinterpret_cast<const char *>(line.data), line.length), "  a note");

    regedit_end(parser, line);
    EXPECT_EQ(line.kind, regedit_nothing) << line.message;
}

static bool refuse(RegeditOutput &)
{
    return false;
}

// A fixed string stops at its end and stays terminated; a failed flush
// stops all output.
TEST(RegeditText, OutputStopsWhereItMust)
{
    char buffer[16];
    memset(buffer, 0xbd, sizeof buffer);
    RegeditOutput fixed = {buffer, 8, 0, nullptr, nullptr, false};
    regedit_put_text(fixed, "line ");
    regedit_put_number(fixed, 4294967295ul);
    EXPECT_STREQ(buffer, "line 42");
    for (size_t i = 8; i < sizeof buffer; ++i)
        EXPECT_EQ(buffer[i], '\xbd') << i;
    EXPECT_TRUE(regedit_finish(fixed));

    memset(buffer, 0xbd, sizeof buffer);
    RegeditOutput failing = {buffer, 4, 0, refuse, nullptr, false};
    regedit_put_text(failing, "REGEDIT4");
    EXPECT_TRUE(failing.failed);
    regedit_put_header(failing);
    EXPECT_FALSE(regedit_finish(failing));
    EXPECT_EQ(std::string(buffer, 4), "REGE");
    for (size_t i = 4; i < sizeof buffer; ++i)
        EXPECT_EQ(buffer[i], '\xbd') << i;

    StringOutput numbers;
    for (unsigned long number : {0ul, 7ul, 10ul, 4294967295ul}) {
        regedit_put_number(numbers.out, number);
        regedit_put(numbers.out, " ", 1);
    }
    EXPECT_TRUE(regedit_finish(numbers.out));
    EXPECT_EQ(numbers.text, "0 7 10 4294967295 ");
}

// ---- the replay's text ----

TEST(ReplayText, NodeNamesAreTheReplaysOwn)
{
    char name[kReplayNodeNameSize + 1];
    memset(name, 0xbd, sizeof name);
    replay_node_name(1, name);
    EXPECT_STREQ(name, "KX replay 00000001");
    EXPECT_EQ(name[kReplayNodeNameSize], '\xbd');
    replay_node_name(kReplayMaxNodes, name);
    EXPECT_STREQ(name, "KX replay 99999999");
    // Wine sorts names by their characters, folded: the places' order.
    char later[kReplayNodeNameSize];
    for (unsigned long ordinal : {9ul, 10ul, 99ul, 100ul, 12345678ul}) {
        replay_node_name(ordinal, name);
        replay_node_name(ordinal + 1, later);
        EXPECT_LT(strcmp(name, later), 0) << ordinal;
    }
    const struct {
        const char *name;
        bool ours;
    } rows[] = {
        {"KX replay 00000001", true},
        {"KX replay 0000001", false},
        {"KX replay 000000012", false},
        {"kx replay 00000001", false},
        {"KX replay 0000000a", false},
        {"C1066A20", false},
        {"", false},
    };
    for (const auto &row : rows)
        EXPECT_EQ(is_replay_node_name(row.name), row.ours) << row.name;
}

// Hands `take` each line of `text` as the parser gives it.
template <class Take> static void parse_lines(const std::string &text, Take take)
{
    RegeditParser parser;
    regedit_begin(parser);
    RegeditLine line;
    for (const std::string &text_line : lines_of(text)) {
        std::vector<char> block(text_line.begin(), text_line.end());
        regedit_parse_line(parser, block.data(), block.size(), line);
        EXPECT_NE(line.kind, regedit_error) << line.message;
        take(line);
    }
}

static std::unique_ptr<CaptureNotes> read_notes(const std::string &text)
{
    auto notes = std::make_unique<CaptureNotes>();
    notes_begin(*notes);
    parse_lines(text, [&](const RegeditLine &line) { notes_take_line(*notes, line); });
    return notes;
}

static const char kHeader[] = "Captured by kxprobe 1.0.0.13 on 2026-12-09 14:03:05 under Windows 98 (4.10.2222 A)";

// The capture's answers as its comments, written and read back.
static std::string capture_text(const std::vector<std::string> &lines)
{
    StringOutput out;
    regedit_put_header(out.out);
    for (const std::string &line : lines)
        notes_put_line(out.out, line.data(), line.size());
    regedit_put_key(out.out, regedit_local_machine, "Enum\\PCI");
    regedit_put_key_end(out.out);
    EXPECT_TRUE(regedit_finish(out.out));
    return out.text + "; a comment among the keys\r\n";
}

TEST(ReplayText, AnswersAreReadBackFromTheComments)
{
    char header[256];
    RegeditOutput line = {header, sizeof header, 0, nullptr, nullptr, false};
    notes_header(line, "kxprobe 1.0.0.13", "2026-12-09 14:03:05", "Windows 98 (4.10.2222 A)");
    EXPECT_STREQ(header, kHeader);
    const std::string text = capture_text({
        header,
        "KXVozaDa.dll: C:\\KIT, file version 2\\KXVozaDa.dll, file version 1.0.0.13; card files and helpers from "
        "C:\\KIT",
        "    does not export IsWin95: not asked",
        "GetAudioCardID = 1: audio card identifier from AudCards.def",
        "    a traced line",
        "    live device \"Wave\r\nAudio\"; AudCards.def line 4: \"1 Wave\"",
        "    live device \"a second\"",
        "GetPCIInfo(1) = -1: no live PCI display adapter",
    });
    EXPECT_NE(text.find("\r\n;     live device \"Wave  Audio\"; AudCards.def line 4"), std::string::npos) << text;
    EXPECT_EQ(text.find("REGEDIT4\r\n\r\n; Captured by "), 0u) << text;
    const auto notes = read_notes(text);
    ASSERT_TRUE(notes->found);
    EXPECT_STREQ(notes->program, "kxprobe 1.0.0.13");
    EXPECT_STREQ(notes->date, "2026-12-09 14:03:05");
    EXPECT_STREQ(notes->windows, "Windows 98 (4.10.2222 A)");
    EXPECT_STREQ(notes->dll_version, "1.0.0.13");
    ASSERT_EQ(notes->count, 2);
    EXPECT_STREQ(notes->answers[0].line, "GetAudioCardID = 1: audio card identifier from AudCards.def");
    EXPECT_STREQ(notes->answers[0].device, "live device \"Wave  Audio\"; AudCards.def line 4: \"1 Wave\"");
    EXPECT_STREQ(notes->answers[1].device, "");
    EXPECT_FALSE(notes->cut);

    // Comments that do not begin as a capture's are no answers.
    const std::string others[] = {
        "Captured by kxprobe 1.0 on 2026-12-9 14:03:05 under Windows",
        "captured by kxprobe 1.0 on 2026-12-09 14:03:05 under Windows",
        "Captured by  on 2026-12-09 14:03:05 under Windows",
        "Captured by kxprobe 1.0 on 2026-12-09 14:03:05",
        "Captured by kxprobe 1.0 on 2026-12-09 14:03:05 over Windows",
        "a note of the customer's",
    };
    for (const std::string &other : others) {
        const auto read = read_notes(capture_text({other, kHeader, "IsWin95 = 1: Windows 95"}));
        EXPECT_FALSE(read->found) << other;
        EXPECT_EQ(read->count, 0) << other;
    }
    // After a key the comments are the file's own.
    const auto late = read_notes("REGEDIT4\n[HKLM\\Enum\\PCI]\n; " + std::string(kHeader) + "\n; IsWin95 = 1: x\n");
    EXPECT_FALSE(late->found);
    EXPECT_EQ(late->count, 0);
}

TEST(ReplayText, AReplaySetsItsAnswersBesideTheCapturedOnes)
{
    const std::string text = capture_text({
        kHeader,
        "KXVozaDa.dll: C:\\KIT\\KXVozaDa.dll, file version 1.0.0.13; card files and helpers from C:\\KIT",
        "GetAudioCardID = 1: audio card identifier from AudCards.def",
        "    live device \"Wave\"; AudCards.def line 4: \"1 Wave\"",
        "GetGraphicsCardID = 2002: graphics card identifier from VidCards.def",
        "    live device \"Vista\"; VidCards.def line 8: \"0.20.02.Vista\"",
        "GetPCIInfo(0) = 7514 (1D5A): vendor ID of the live display adapter",
        "    live device \"Vista\" (PCI\\VEN_1D5A\\0)",
        "GetPCIInfo(1) = -1: no live PCI display adapter",
        "IsWin95X = 3: an answer whose question begins like another",
        "IsWin95 = 1: Windows 95",
        "IsDVDDrivePresent(\"dvd\") = 1: a live CD-ROM drive's description begins with it",
    });
    const char kVista8[] = "live device \"Vista\"; VidCards.def line 8: \"0.20.02.Vista\"";
    const char kVista9[] = "live device \"Vista\"; VidCards.def line 9: \"0.20.03.Vista\"";
    const struct {
        const char *label, *question;
        int value;
        const char *device;
        bool order_noted;
        NoteVerdict verdict;
        NoteCause cause;
        int then;
        const char *source;
    } rows[] = {
        {"same", "GetAudioCardID", 1, "live device \"Wave\"; AudCards.def line 4: \"1 Wave\"", false, note_same,
         cause_none, 1, nullptr},
        {"another line", "GetGraphicsCardID", 2003, kVista9, false, note_differs, cause_card_files, 2002, nullptr},
        {"the same line", "GetGraphicsCardID", 2003, kVista8, true, note_differs, cause_dll, 2002, nullptr},
        {"another device, in an order that may change", "GetPCIInfo(0)", 7515,
         "live device \"Other\" (PCI\\VEN_1D5B\\0)", true, note_differs, cause_order, 7514, nullptr},
        {"another device, no order", "GetPCIInfo(0)", 7515, "live device \"Other\" (PCI\\VEN_1D5B\\0)", false,
         note_differs, cause_dll, 7514, nullptr},
        {"a device now, none then", "GetPCIInfo(1)", 4, "live device \"Vista\" (PCI\\VEN_1D5A\\0)", false, note_differs,
         cause_dll, -1, nullptr},
        {"from its Windows", "IsWin95", 0, "", false, note_elsewhere, cause_none, 1, "its Windows"},
        {"another text", "IsDVDDrivePresent(\"other\")", 1, "", false, note_not_captured, cause_none, 0, nullptr},
        {"not asked then", "GetSystemID", 0, "", false, note_not_captured, cause_none, 0, "its helper programs"},
    };
    for (const auto &row : rows) {
        SCOPED_TRACE(row.label);
        const auto notes = read_notes(text);
        NoteComparison comparison;
        notes_compare(*notes, ReplayAnswer{row.question, "", row.value, row.device}, row.order_noted, comparison);
        EXPECT_EQ(comparison.verdict, row.verdict);
        EXPECT_EQ(comparison.cause, row.cause);
        if (row.verdict != note_not_captured)
            EXPECT_EQ(comparison.then_value, row.then);
        EXPECT_STREQ(comparison.source ? comparison.source : "", row.source ? row.source : "");
        EXPECT_EQ(comparison.then != nullptr, row.verdict != note_not_captured);
        if (comparison.then) {
            EXPECT_TRUE(comparison.then->compared);
            // Once set beside a replay's, an answer is not found again.
            NoteComparison again;
            notes_compare(*notes, ReplayAnswer{row.question, "", row.value, row.device}, false, again);
            EXPECT_EQ(again.verdict, note_not_captured);
        }
    }
}

namespace {

// One instance key of the hardware tree.
struct Instance {
    OrderBus bus;
    std::string device, instance;
    const char *cls, *description;
};

} // namespace

static std::string lower(std::string text)
{
    for (char &c : text)
        c = char(tolower((unsigned char)c));
    return text;
}

namespace {

struct Note {
    std::string export_name, line;
};

} // namespace

// The instances in the profile's order as its text, and in the order that
// Wine lists keys, their names compared folded; the live nodes in the
// order both keep.
static std::vector<Note> order_notes_of(const std::vector<Instance> &instances, const std::vector<std::string> &live,
                                        const char *dvd_text = "Generic DVD")
{
    std::string text = "REGEDIT4\n";
    for (const Instance &i : instances)
        text += "[HKEY_LOCAL_MACHINE\\Enum\\" + std::string(i.bus == order_pci ? "PCI" : "SCSI") + "\\" + i.device +
                "\\" + i.instance + "]\n\"Class\"=\"" + i.cls + "\"\n\"DeviceDesc\"=\"" + i.description + "\"\n";
    auto tree = std::make_unique<OrderTree>();
    order_begin(*tree);
    parse_lines(text, [&](const RegeditLine &line) { order_take_line(*tree, line); });
    order_end_lines(*tree);
    std::vector<Instance> sorted = instances;
    std::stable_sort(sorted.begin(), sorted.end(), [](const Instance &a, const Instance &b) {
        return std::make_pair(lower(a.device), lower(a.instance)) < std::make_pair(lower(b.device), lower(b.instance));
    });
    for (const Instance &i : sorted)
        order_add_instance(*tree, order_replayed, i.bus, i.device.c_str(), i.cls, i.description);
    for (const std::string &node : live)
        order_add_live_node(*tree, node.c_str());
    std::vector<Note> notes;
    order_notes(
        *tree, dvd_text,
        [](void *context, const char *export_name, const char *line) {
            static_cast<std::vector<Note> *>(context)->push_back({export_name, line});
        },
        &notes);
    return notes;
}

// A device key of PCI for each number, all of the class, the one that
// sorts last listed first.
static std::vector<Instance> many_displays(int count)
{
    std::vector<Instance> devices = {{order_pci, "VEN_Z", "0", "DISPLAY", "Last"}};
    for (int i = 1; i < count; ++i)
        devices.push_back({order_pci, "VEN_A" + std::to_string(100 + i), "0", "DISPLAY", "Other"});
    return devices;
}

TEST(TreeOrder, NamesWhatWinesOrderMayChange)
{
    const Instance kLong = {order_pci, "VEN_1&DEV_55001", "0", "MEDIA", "Studio"};
    const Instance kShort = {order_pci, "VEN_1&DEV_5500", "0", "MEDIA", "Wave"};
    const Instance kShortAlike = {order_pci, "VEN_1&DEV_5500", "0", "MEDIA", "Studio"};
    const Instance kLongDisplay = {order_pci, "VEN_1&DEV_55001", "0", "DISPLAY", "Vista 8"};
    const Instance kShortDisplay = {order_pci, "VEN_1&DEV_5500", "0", "DISPLAY", "Vista"};
    const std::string kLongNode = "PCI\\VEN_1&DEV_55001\\0";
    const struct {
        const char *label;
        std::vector<Instance> instances;
        std::vector<std::string> live;
        std::vector<Note> notes; // each line begun by its text
    } rows[] = {
        {"in Wine's order already", {kShort, kLong}, {kLongNode}, {}},
        {"one key begins another",
         {kLong, kShort},
         {"ROOT\\0", kLongNode},
         {{"GetAudioCardID", "GetAudioCardID: PCI\\VEN_1&DEV_5500 begins PCI\\VEN_1&DEV_55001, the live node " +
                                 kLongNode +
                                 " matches both, and the one listed later in Enum\\PCI decides: "
                                 "PCI\\VEN_1&DEV_5500 as captured, PCI\\VEN_1&DEV_55001 in Wine's order"}}},
        {"both described alike", {kLong, kShortAlike}, {kLongNode}, {}},
        {"the live node matches the shorter only", {kLong, kShort}, {"PCI\\VEN_1&DEV_5500\\0"}, {}},
        {"not live", {kLong, kShort}, {"PCI\\VEN_2\\0"}, {}},
        {"display adapters: the same live node for GetPCIInfo",
         {kLongDisplay, kShortDisplay},
         {kLongNode},
         {{"GetGraphicsCardID", "GetGraphicsCardID: PCI\\VEN_1&DEV_5500 begins "}}},
        {"more than 20 devices of a class",
         many_displays(21),
         {"PCI\\VEN_Z\\0"},
         {{"GetGraphicsCardID",
           "GetGraphicsCardID: more than 20 devices of class DISPLAY, of which the DLL keeps the "
           "first 20 it lists: PCI\\VEN_Z, which decides as captured, is not among them in "
           "Wine's order"},
          {"GetPCIInfo", "GetPCIInfo: more than 20 devices of class DISPLAY"}}},
        {"20 devices of a class", many_displays(20), {"PCI\\VEN_Z\\0"}, {}},
        {"instances described otherwise",
         {{order_scsi, "DRIVE", "B", "CDROM", "Generic DVD-ROM"}, {order_scsi, "DRIVE", "A", "CDROM", "Other CD"}},
         {"SCSI\\DRIVE\\B"},
         {{"IsDVDDrivePresent",
           "IsDVDDrivePresent(\"Generic DVD\"): SCSI\\DRIVE has instances of class CDROM with "
           "different descriptions, and the first it lists gives the device's: \"Generic "
           "DVD-ROM\" as captured, \"Other CD\" in Wine's order"}}},
        {"an instance of another class first",
         {{order_scsi, "DRIVE", "B", "DiskDrive", "Generic DVD-ROM"}, {order_scsi, "DRIVE", "A", "CDROM", "Other CD"}},
         {"SCSI\\DRIVE\\B"},
         {}},
    };
    for (const auto &row : rows) {
        SCOPED_TRACE(row.label);
        const std::vector<Note> notes = order_notes_of(row.instances, row.live);
        ASSERT_EQ(notes.size(), row.notes.size()) << (notes.empty() ? "" : notes[0].line);
        for (size_t i = 0; i < notes.size(); ++i) {
            EXPECT_EQ(notes[i].export_name, row.notes[i].export_name);
            EXPECT_EQ(notes[i].line.compare(0, row.notes[i].line.size(), row.notes[i].line), 0) << notes[i].line;
        }
    }
    // More than the tree holds is said, and nothing else.
    std::vector<Instance> crowd;
    for (int i = 0; i <= kOrderMaxInstances; ++i)
        crowd.push_back({order_pci, "VEN_" + std::to_string(i), "0", "MEDIA", "Wave"});
    const std::vector<Note> notes = order_notes_of(crowd, {"PCI\\VEN_1\\0"});
    ASSERT_EQ(notes.size(), 1u);
    EXPECT_EQ(notes[0].export_name, "");
    EXPECT_EQ(notes[0].line.find("the order of Enum\\PCI and Enum\\SCSI was not checked"), 0u) << notes[0].line;
}
