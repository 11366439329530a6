// REGEDIT4 text read line by line and written back, natively: what the
// registry would store is checked under Wine in profile_test.
#include "harness/regedit_string.h"
#include "profile/regedit_text.h"

#include <gtest/gtest.h>

#include <cstring>

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

struct FormatCase {
    const char *label;
    std::string value_in;
    std::string value_out;
};

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
