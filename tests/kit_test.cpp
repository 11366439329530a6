// The installer author's kit, used as installers use it: a program linked
// against each import library and the NSIS sample installer ask the DLL
// every question on one machine and write their answers, which must be the
// machine's.
#include "harness/harness.h"
#include "profile/profile.h"

#include <gtest/gtest.h>

#include <fstream>
#include <string>
#include <vector>

namespace {

const char kMachine[] = R"(REGEDIT4

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

// The answers on kMachine, in the order asked, with tests/kit/AudCards.def,
// VidCards.def and the stand-in Kxdodaze.exe current, the stand-in told to
// report system 42, and no display for DirectDraw.
const std::vector<std::string> kAnswers = {
    "GetAudioCardID=4",
    "GetGraphicsCardID=1234",
    "GetPCIInfo(0)=7514",
    "GetPCIInfo(1)=1042",
    "GetPCIInfo(2)=16129",
    "GetPCIInfo(3)=0",
    "GetSystemID=42",
    "IsATIMotionComp=0",
    "IsBroadLogicPresent=1",
    "IsDVDDrivePresent(Generic DVD-ROM)=1 GENERIC DVD-ROM",
    "IsDVDDrivePresent(Example CD-RW)=0 EXAMPLE CD-RW",
    "IsFileAvailable(VidCards.def)=1",
    "IsFileAvailable(VidCards.def,0.)=1",
    "IsFileAvailable(VidCards.def,1.)=0",
    "IsFileAvailable(Missing.def)=0",
    "IsInterleavedBob=0",
    "IsWin95=0",
};

std::vector<std::string> lines_of(const std::string &path)
{
    std::ifstream in(path, std::ios::binary);
    std::vector<std::string> lines;
    for (std::string line; std::getline(in, line);) {
        if (!line.empty() && line.back() == '\r')
            line.pop_back();
        lines.push_back(line);
    }
    return lines;
}

class Kit : public ::testing::Test {
protected:
    void SetUp() override
    {
        std::string error;
        ASSERT_TRUE(kx::load_profile(kMachine, error)) << error;
        for (const char *name : {"AudCards.def", "VidCards.def"})
            ASSERT_TRUE(CopyFileA((std::string("Z:") + KX_SOURCE_DIR + "/tests/kit/" + name).c_str(), name, FALSE)) << name;
        ASSERT_TRUE(CopyFileA((kx::bin_dir() + "sysid\\Kxdodaze.exe").c_str(), "Kxdodaze.exe", FALSE));
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
        EXPECT_EQ(0u, kx::run_with_output(kx::bin_dir() + program, "answers.txt")) << program;
        EXPECT_EQ(kAnswers, lines_of("answers.txt")) << program;
    }
}

// The sample runs silently with its answers written below the folder given
// with /D=, and unloads the DLL before it ends.
TEST_F(Kit, NsisSampleAnswersAndUnloadsTheDll)
{
    std::string folder = cwd_.path() + "\\installed";
    EXPECT_EQ(0u, kx::run_with_output(kx::bin_dir() + "kit_nsis_sample.exe /S /D=" + folder, "log.txt"));
    std::vector<std::string> expected = kAnswers;
    expected.push_back("KXVozaDa.dll unloaded=1");
    EXPECT_EQ(expected, lines_of(folder + "\\answers.txt"));
}

} // namespace
