// kxprobe run as an installer author runs it: capturing a machine's
// hardware tree into a profile that replays it elsewhere.
#include "harness/harness.h"
#include "profile.h"

#include <gtest/gtest.h>

#include <fstream>
#include <iterator>
#include <string>
#include <vector>

namespace {

std::string read_file(const std::string &path)
{
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

DWORD kxprobe(const std::string &args)
{
    return kx::run_with_output("\"" + kx::bin_dir() + "kxprobe.exe\" " + args, "kxprobe.txt");
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
        kxprofile::clear();
        if (!machine.empty())
            ASSERT_TRUE(kxprofile::load_file(machine.c_str(), error)) << machine << ": " << error;
        EXPECT_EQ(0u, kxprobe("--capture first.reg")) << machine;
        kxprofile::clear();
        EXPECT_EQ(0u, kxprobe("--profile first.reg --capture second.reg")) << machine;
        std::string first = read_file("first.reg");
        EXPECT_EQ(0u, first.find("REGEDIT4\r\n")) << machine;
        EXPECT_EQ(first, read_file("second.reg")) << machine;
        if (!machine.empty()) {
            EXPECT_NE(std::string::npos, first.find("[HKEY_DYN_DATA\\Config Manager\\Enum]\r\n")) << machine;
            EXPECT_NE(std::string::npos, first.find("\"HardWareKey\"=\"PCI\\\\VEN_")) << machine;
        }
    }
    kxprofile::clear();
}

TEST(Capture, AnUnwritableFileIsAUsageErrorAndNothingIsAsked)
{
    kx::TempCwd cwd;
    static const char *const rows[] = {"no\\such\\folder\\machine.reg", "."};
    for (const char *path : rows) {
        EXPECT_EQ(2u, kxprobe(std::string("--capture ") + path)) << path;
        EXPECT_EQ(std::string::npos, read_file("kxprobe.txt").find("IsWin95")) << path;
    }
}

} // namespace
