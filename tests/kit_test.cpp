// The installer author's kit, used as installers use it: a program linked
// against each import library and the NSIS sample installer ask the DLL
// every question on one machine and write their answers, which must be the
// machine's.
#include "harness/harness.h"
#include "profile/profile.h"

#include <gtest/gtest.h>

#include <fstream>
#include <map>
#include <set>
#include <sstream>
#include <string>

static const char kMachine[] = R"(REGEDIT4

[HKEY_LOCAL_MACHINE\Enum\PCI\VEN_1D5A&DEV_0412&SUBSYS_3F011D5A&REV_02\BUS_01&DEV_00&FUNC_00]
"Class"="DISPLAY"
"DeviceDesc"="Generic Graphics Accelerator 3D AGP"

[HKEY_LOCAL_MACHINE\Enum\PCI\VEN_1E7C&DEV_5500&SUBSYS_55001E7C&REV_01\BUS_00&DEV_0F&FUNC_00]
"Class"="MEDIA"
"DeviceDesc"="Generic PCI Wave Audio"

[HKEY_LOCAL_MACHINE\Enum\PCI\VEN_1B1C&DEV_7020&SUBSYS_00000000&REV_01\BUS_00&DEV_10&FUNC_00]
"Class"="MEDIA"
"DeviceDesc"="Generic MPEG-2 Decoder"
"MFG"="BroadLogic"

[HKEY_LOCAL_MACHINE\Enum\SCSI\GENERIC_DVD-ROM_DX-5___\MF&CHILD0000]
"Class"="CDROM"
"DeviceDesc"="GENERIC DVD-ROM DX-5"

[HKEY_DYN_DATA\Config Manager\Enum\C1068110]
"HardWareKey"="PCI\\VEN_1D5A&DEV_0412&SUBSYS_3F011D5A&REV_02\\BUS_01&DEV_00&FUNC_00"

[HKEY_DYN_DATA\Config Manager\Enum\C1068450]
"HardWareKey"="PCI\\VEN_1E7C&DEV_5500&SUBSYS_55001E7C&REV_01\\BUS_00&DEV_0F&FUNC_00"

[HKEY_DYN_DATA\Config Manager\Enum\C1069570]
"HardWareKey"="SCSI\\GENERIC_DVD-ROM_DX-5___\\MF&CHILD0000"
)";

// The answers on kMachine by question, with tests/kit/AudCards.def,
// VidCards.def and the stand-in Kxdodaze.exe current, the stand-in told to
// report system 42, and no display for DirectDraw.
static const std::map<std::string, std::string> kAnswers = {
    {"GetAudioCardID", "4"},
    {"GetGraphicsCardID", "1234"},
    {"GetPCIInfo(0)", "7514"},
    {"GetPCIInfo(1)", "1042"},
    {"GetPCIInfo(2)", "16129"},
    {"GetPCIInfo(3)", "0"},
    {"GetSystemID", "42"},
    {"IsATIMotionComp", "0"},
    {"IsBroadLogicPresent", "1"},
    {"IsDVDDrivePresent(Generic DVD-ROM)", "1 GENERIC DVD-ROM"},
    {"IsDVDDrivePresent(Example CD-RW)", "0 EXAMPLE CD-RW"},
    {"IsFileAvailable(VidCards.def)", "1"},
    {"IsFileAvailable(VidCards.def,0.)", "1"},
    {"IsFileAvailable(VidCards.def,1.)", "0"},
    {"IsFileAvailable(Missing.def)", "0"},
    {"IsInterleavedBob", "0"},
    {"IsWin95", "0"},
};

// The lines QUESTION=ANSWER of a file that kit_ask or the NSIS sample
// wrote, by question; a question asked twice is a failure.
static std::map<std::string, std::string> answers_in(const std::string &path)
{
    std::ifstream in(path, std::ios::binary);
    EXPECT_TRUE(in.good()) << path;
    std::map<std::string, std::string> answers;
    for (std::string line; std::getline(in, line);) {
        if (!line.empty() && line.back() == '\r')
            line.pop_back();
        size_t equals = line.find('=');
        EXPECT_NE(std::string::npos, equals) << path << ": " << line;
        if (equals != std::string::npos && !answers.emplace(line.substr(0, equals), line.substr(equals + 1)).second)
            ADD_FAILURE() << path << ": asked twice: " << line;
    }
    return answers;
}

class Kit : public ::testing::Test {
protected:
    void SetUp() override
    {
        std::string error;
        ASSERT_TRUE(kx::load_profile(kMachine, error)) << error;
        for (const char *name : {"AudCards.def", "VidCards.def"})
            ASSERT_TRUE(CopyFileA(kx::source_path(std::string("tests/kit/") + name).c_str(), name, FALSE)) << name;
        ASSERT_TRUE(kx::install("sysid\\Kxdodaze.exe"));
        SetEnvironmentVariableA("KX_DODAZE_EXIT", "42");
    }
    void TearDown() override
    {
        SetEnvironmentVariableA("KX_DODAZE_EXIT", nullptr);
        profile_clear();
    }

    kx::TempCwd cwd_;
};

TEST_F(Kit, ProgramsLinkedAgainstEachImportLibraryAnswer)
{
    static const char *const programs[] = {"kit_ask_gnu.exe", "kit_ask_cxx.exe", "kit_ask_ms.exe"};
    for (const char *program : programs) {
        SCOPED_TRACE(program);
        EXPECT_EQ(0u, kx::run_with_output(kx::bin_dir() + program, "answers.txt"));
        EXPECT_EQ(kAnswers, answers_in("answers.txt"));
    }
}

// The sample runs silently with its answers written below the folder given
// with /D=, and unloads the DLL before it ends.
TEST_F(Kit, NsisSampleAnswersAndUnloadsTheDll)
{
    std::string folder = cwd_.path() + "\\installed";
    EXPECT_EQ(0u, kx::run_with_output(kx::bin_dir() + "kit_nsis_sample.exe /S /D=" + folder, "log.txt"));
    std::map<std::string, std::string> expected = kAnswers;
    expected["KXVozaDa.dll unloaded"] = "1";
    EXPECT_EQ(expected, answers_in(folder + "\\answers.txt"));
}

// The question's export: its name before any arguments.
static std::set<std::string> asked_in(const std::map<std::string, std::string> &answers)
{
    std::set<std::string> asked;
    for (const auto &answer : answers)
        asked.insert(answer.first.substr(0, answer.first.find('(')));
    return asked;
}

// Each row of the reliability sweep is a test named by its export.
static std::set<std::string> sweep_rows()
{
    const std::string sweep = "  EveryFailureOfEveryCallSite/";
    EXPECT_EQ(0u, kx::run_with_output(kx::bin_dir() + "reliability_test.exe --gtest_list_tests", "tests.txt"));
    std::istringstream list(kx::read_file("tests.txt"));
    std::set<std::string> rows;
    for (std::string line; std::getline(list, line);)
        if (line.compare(0, sweep.size(), sweep) == 0)
            rows.insert(line.substr(sweep.size(), line.find_first_of(" \r", sweep.size()) - sweep.size()));
    return rows;
}

// An export added to the DLL is asked everywhere that asks every question:
// the reliability sweep, kxprobe's text and JSON, the programs linked with
// the kit and the NSIS sample; and the README's table of exports names it.
class Exports : public Kit { };

TEST_F(Exports, EveryExportIsAskedEverywhere)
{
    kx::Dll dll;
    const std::set<std::string> exports = dll.exports();
    ASSERT_FALSE(exports.empty());
    const std::set<std::string> rows = sweep_rows();
    const std::string kxprobe = "\"" + kx::bin_dir() + "kxprobe.exe\" --file VidCards.def";
    EXPECT_EQ(0u, kx::run_with_output(kxprobe, "kxprobe.txt"));
    EXPECT_EQ(0u, kx::run_with_output(kxprobe + " --json", "kxprobe.json"));
    const std::string text = kx::read_file("kxprobe.txt"), json = kx::read_file("kxprobe.json");
    // The kit's programs and the NSIS sample must answer exactly kAnswers,
    // by question (the tests above), so an export that kAnswers names is
    // one they ask.
    const std::set<std::string> asked = asked_in(kAnswers);
    const std::string readme = "\n" + kx::read_file(kx::source_path("README.md"));
    for (const std::string &name : exports) {
        SCOPED_TRACE(name);
        EXPECT_TRUE(rows.count(name)) << "no row in the reliability sweep (tests/reliability_test.cpp)";
        EXPECT_TRUE(text.find("\n" + name + " = ") != std::string::npos ||
                    text.find("\n" + name + "(") != std::string::npos)
            << "no line in kxprobe's output:\n"
            << text;
        EXPECT_NE(std::string::npos, json.find("{\"export\": \"" + name + "\"")) << "no record in kxprobe --json";
        EXPECT_TRUE(asked.count(name)) << "no answer in kAnswers: add it there, to tests/kit/kit_ask.c and to "
                                          "samples/nsis/KXVozaDa.nsi";
        EXPECT_NE(std::string::npos, readme.find("\n| `" + name)) << "not in the README's table of exports";
    }
}
