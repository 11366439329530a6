// kxprobe's command line read into a mode and its options: each mode's
// options taken, each that does not fit refused by name, and the usage
// fitting an 80 by 25 MS-DOS Prompt.
#include "tools/kxprobe/options.h"

#include <gtest/gtest.h>

#include <sstream>
#include <string>
#include <vector>

TEST(Options, ModesTakeTheirOwnOptions)
{
    static const struct {
        std::vector<const char *> line;
        Mode mode;
        const char *problem; // null: read
    } rows[] = {
        {{}, Mode::ask, nullptr},
        {{"--profile", "p", "--capture", "c", "--force", "--folder", "d", "--json", "--trace", "--dvd", "t", "--file",
          "f", "--signature", "4d5A", "--output", "o"},
         Mode::ask,
         nullptr},
        {{"--profile", "p", "--capture", "c", "--force", "--trace", "--run", "x.exe", "--json"}, Mode::run, nullptr},
        {{"--check-defs", "d", "--quiet", "--output", "o"}, Mode::check_defs, nullptr},
        {{"--explain", "x", "d"}, Mode::explain, nullptr},
        {{"--library", "m", "--folder", "d", "--dvd", "t", "--json", "--baseline", "b"}, Mode::library, nullptr},
        {{"--json", "--check-defs"}, Mode::check_defs, "--json does not go with --check-defs"},
        {{"--check-defs", ".", "--profile", "x.reg"}, Mode::check_defs, "--profile does not go with --check-defs"},
        {{"--explain", "X", "--run", "notepad.exe"},
         Mode::explain,
         "--run: --explain and --run are asked one at a time"},
        {{"--library", ".", "--check-defs"},
         Mode::library,
         "--check-defs: --library and --check-defs are asked one at a time"},
        {{"--library", "m", "--trace"}, Mode::library, "--trace does not go with --library"},
        {{"--json", "--run", "x.exe"}, Mode::run, "--json does not go with --run"},
        {{"--explain", "x", "--quiet"}, Mode::explain, "--quiet does not go with --explain"},
        {{"--quiet"}, Mode::ask, "--quiet goes only with --check-defs"},
        {{"--baseline", "b"}, Mode::ask, "--baseline needs --library"},
        {{"--force"}, Mode::ask, "--force needs --capture"},
        {{"--file", "f", "--signature", ""},
         Mode::ask,
         "--signature \"\": give the bytes as pairs of hex digits, such as 4D5A"},
        {{"--file", "f", "--signature", "4D5"},
         Mode::ask,
         "--signature 4D5: give the bytes as pairs of hex digits, such as 4D5A"},
        {{"--output"}, Mode::ask, "--output needs the FILE to write every line to"},
        {{"--library"}, Mode::ask, "--library needs the folder of the MACHINES profiles"},
        {{"--explain"}, Mode::explain, "--explain needs a device description"},
        {{"--run"}, Mode::run, "--run needs a PROGRAM to run"},
        {{"-x"}, Mode::ask, "-x: not an option"},
        {{"--bogus", "/?"}, Mode::usage, nullptr},
        {{"--json", "--check-defs", "-h"}, Mode::usage, nullptr},
        {{"--version", "-h", "--help"}, Mode::help, nullptr},
        {{"--dvd", "--version"}, Mode::version, nullptr},
        // What follows --run is the program's.
        {{"--run", "x.exe", "--help", "/?"}, Mode::run, nullptr},
    };
    for (const auto &row : rows) {
        std::string label;
        for (const char *argument : row.line)
            label += std::string(argument) + " ";
        SCOPED_TRACE(label);
        std::vector<char *> values;
        for (const char *argument : row.line)
            values.push_back(const_cast<char *>(argument));
        Arguments arguments = {(int)values.size(), values.data()};
        Options options;
        char problem[kProblemSize] = "sentinel";
        EXPECT_EQ(!row.problem, parse_options(arguments, options, problem));
        EXPECT_EQ(row.mode, options.mode);
        if (row.problem)
            EXPECT_STREQ(row.problem, problem);
    }
}

TEST(Options, ShortUsageFitsOneScreen)
{
    static const struct {
        const char *usage;
        size_t most_lines;
    } rows[] = {{kShortUsage, 24}, {kUsage, 200}};
    for (const auto &row : rows) {
        std::istringstream text(row.usage);
        size_t lines = 0;
        for (std::string line; std::getline(text, line); ++lines) {
            EXPECT_EQ('\r', line.back()) << line;
            EXPECT_LT(line.size() - 1, 80u) << line;
        }
        EXPECT_LE(lines, row.most_lines);
    }
}
