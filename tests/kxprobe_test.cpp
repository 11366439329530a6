// kxprobe run as an installer author runs it: capturing a machine's
// hardware tree into a profile that replays it elsewhere.
#include "harness/harness.h"
#include "profile/profile.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

namespace {

// Runs kxprobe and keeps what it printed, its lines ended by LF alone.
std::string g_printed;

DWORD kxprobe(const std::string &args)
{
    DWORD code = kx::run_kxprobe(args, g_printed);
    g_printed.erase(std::remove(g_printed.begin(), g_printed.end(), '\r'), g_printed.end());
    return code;
}

// The bundled sample machines, and the empty tree ("").
std::vector<std::string> machines()
{
    std::string folder = std::string("Z:") + KX_SOURCE_DIR + "/samples/machines/";
    std::vector<std::string> paths = {""};
    WIN32_FIND_DATAA found;
    HANDLE find = FindFirstFileA((folder + "*.reg").c_str(), &found);
    if (find != INVALID_HANDLE_VALUE) {
        do
            paths.push_back(folder + found.cFileName);
        while (FindNextFileA(find, &found));
        FindClose(find);
    }
    return paths;
}

TEST(Capture, LoadingACaptureAndCapturingAgainGivesTheSameFile)
{
    std::vector<std::string> rows = machines();
    ASSERT_GE(rows.size(), 2u) << "no sample machines";
    for (const std::string &machine : rows) {
        kx::TempCwd cwd;
        std::string error;
        profile_clear();
        if (!machine.empty())
            ASSERT_TRUE(kx::load_profile_file(machine, error)) << machine << ": " << error;
        EXPECT_EQ(0u, kxprobe("--capture first.reg")) << machine;
        profile_clear();
        EXPECT_EQ(0u, kxprobe("--profile first.reg --capture second.reg")) << machine;
        std::string first = kx::read_file("first.reg");
        EXPECT_EQ(0u, first.find("REGEDIT4\r\n")) << machine;
        EXPECT_EQ(first, kx::read_file("second.reg")) << machine;
        if (!machine.empty()) {
            EXPECT_NE(std::string::npos, first.find("[HKEY_DYN_DATA\\Config Manager\\Enum]\r\n")) << machine;
            EXPECT_NE(std::string::npos, first.find("\"HardWareKey\"=\"PCI\\\\VEN_")) << machine;
        }
    }
    profile_clear();
}

TEST(Capture, AnUnwritableFileIsAUsageErrorAndNothingIsAsked)
{
    kx::TempCwd cwd;
    static const char *const rows[] = {"no\\such\\folder\\machine.reg", "."};
    for (const char *path : rows) {
        EXPECT_EQ(2u, kxprobe(std::string("--capture ") + path)) << path;
        EXPECT_EQ(std::string::npos, g_printed.find("IsWin95")) << path;
    }
}

// A description with the characters that JSON escapes.
const char kQuotingMachine[] = R"(REGEDIT4

[HKEY_LOCAL_MACHINE\Enum\PCI\VEN_1E7C&DEV_5500\BUS_00]
"Class"="MEDIA"
"DeviceDesc"="Wave \"Q\" \\ Audio"

[HKEY_DYN_DATA\Config Manager\Enum\C1]
"HardWareKey"="PCI\\VEN_1E7C&DEV_5500\\BUS_00"
)";

std::string json_text(const std::string &text)
{
    std::string json = "\"";
    for (char c : text)
        json += c == '"' || c == '\\' ? std::string("\\") + c : std::string(1, c);
    return json + "\"";
}

// Every line of the text output is in the JSON: each answer as a record's
// "text", each line under it among its "details".
TEST(Json, CarriesEveryAnswerAndDetailOfTheText)
{
    kx::TempCwd cwd;
    std::string error;
    ASSERT_TRUE(kx::load_profile(kQuotingMachine, error)) << error;
    cwd.write("AudCards.def", "7 WAVE \"Q\"\n");
    static const char *const rows[] = {"", "--trace", "--file AudCards.def --signature 3720"};
    for (const char *options : rows) {
        EXPECT_EQ(0u, kxprobe(options)) << options;
        std::string text = g_printed;
        EXPECT_EQ(0u, kxprobe(std::string("--json ") + options)) << options;
        std::string json = g_printed;
        EXPECT_EQ(0u, json.find("{\"answers\": [\n  {\"export\": ")) << options << "\n" << json;
        EXPECT_EQ(json.size() - 4, json.rfind("\n]}\n")) << options << "\n" << json;
        size_t answers = 0;
        for (size_t start = 0, end; (end = text.find('\n', start)) != std::string::npos; start = end + 1) {
            std::string line = text.substr(start, end - start);
            bool detail = line.compare(0, 4, "    ") == 0;
            answers += !detail;
            // How long a call took differs between the two runs.
            size_t took = line.find(" (took ");
            std::string expected = detail ? json_text(line.substr(4)) : "\"text\": " + json_text(line.substr(0, took));
            if (took != std::string::npos)
                expected.pop_back();
            EXPECT_NE(std::string::npos, json.find(expected)) << options << ": " << expected << "\n" << json;
        }
        size_t records = 0;
        for (size_t at = 0; (at = json.find("{\"export\": ", at)) != std::string::npos; ++at)
            ++records;
        EXPECT_EQ(answers, records) << options;
        EXPECT_NE(std::string::npos, json.find("Wave \\\"Q\\\" \\\\ Audio")) << options;
    }
    profile_clear();
}

} // namespace
