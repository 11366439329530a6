// Machine profiles: REGEDIT4 text loaded into the Wine registry, checked
// with the plain registry functions, and captured back as text.
#include <gtest/gtest.h>
#include <windows.h>

#include <climits>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "base/unique.h"
#include "harness/harness.h"
#include "harness/import_patch.h"
#include "harness/regedit_string.h"
#include "profile/profile.h"
#include "profile/regedit_text.h"

using namespace std::string_literals;
using kx::crlf;
using kx::key_exists;
using kx::kLineEnds;
using kx::LineEnd;
using kx::set_value;
using kx::stored_value;
using kx::with_line_end;

// A key marked with a string value, so that it is not empty.
static void make_key(HKEY root, const std::string &path, const std::string &value = "")
{
    set_value(root, path, "KxMark", REG_SZ, value + '\0');
}

namespace {

// Keys that lie just outside the subtrees, to show that nothing beyond them
// is touched.
struct Place {
    HKEY root;
    const char *path;
};

} // namespace

const Place kOutside[] = {
    {HKEY_LOCAL_MACHINE, "Enum\\KXOUTSIDE"},
    {HKEY_DYN_DATA, "Config Manager\\KXOUTSIDE"},
};

const Place kSentinels[] = {
    {HKEY_LOCAL_MACHINE, "Enum\\PCI\\KXSENTINEL"},
    {HKEY_DYN_DATA, "Config Manager\\Enum\\KXSENTINEL"},
};

namespace {

class Profile : public ::testing::Test {
protected:
    void SetUp() override { cleanUp(); }
    void TearDown() override { cleanUp(); }

    static void cleanUp()
    {
        profile_clear();
        for (const Place &place : kOutside)
            RegDeleteKeyA(place.root, place.path);
    }

    static bool load(const std::string &text)
    {
        std::string error;
        const bool ok = kx::load_profile(text, error);
        EXPECT_TRUE(ok) << error;
        EXPECT_EQ(ok, error.empty()) << error;
        return ok;
    }
};

// Where a value is written: one key in each of the three subtrees.
struct Target {
    const char *label;
    HKEY root;
    const char *key_line;
    const char *path;
};

} // namespace

const Target kTargets[] = {
    {"PCI", HKEY_LOCAL_MACHINE, "[HKEY_LOCAL_MACHINE\\Enum\\PCI\\VEN_1234&DEV_5678\\BUS_00&DEV_01&FUNC_00]",
     "Enum\\PCI\\VEN_1234&DEV_5678\\BUS_00&DEV_01&FUNC_00"},
    {"SCSI", HKEY_LOCAL_MACHINE, "[HKEY_LOCAL_MACHINE\\Enum\\SCSI\\KXDISK\\PCI&VEN_1234]",
     "Enum\\SCSI\\KXDISK\\PCI&VEN_1234"},
    // A replay names a live node by its place in the profile.
    {"DYN_DATA", HKEY_DYN_DATA, "[HKEY_DYN_DATA\\Config Manager\\Enum\\C29A3E00]",
     "Config Manager\\Enum\\KX replay 00000001"},
};

namespace {

struct ValueCase {
    const char *label;
    std::string lines;
    std::string name;
    DWORD type;
    std::string data;
};

} // namespace

TEST_F(Profile, EveryValueKindReachesTheRegistry)
{
    const ValueCase cases[] = {
        {"plain string", R"("V"="DISPLAY")", "V", REG_SZ, "DISPLAY\0"s},
        {"empty string", R"("V"="")", "V", REG_SZ, "\0"s},
        {"escaped quote and backslash", R"("V"="Generic \"quoted\" and back\\slash")", "V", REG_SZ,
         "Generic \"quoted\" and back\\slash\0"s},
        {"brackets, = and ; inside a string", R"("V"="a;b=[c]")", "V", REG_SZ, "a;b=[c]\0"s},
        {"high ANSI character", "\"V\"=\"caf\xe9\"", "V", REG_SZ, "caf\xe9\0"s},
        {"default value", R"(@="default value")", "", REG_SZ, "default value\0"s},
        {"escaped value name", R"("a\"b\\c"="x")", "a\"b\\c", REG_SZ, "x\0"s},
        {"value name with = and spaces", R"("Hardware ID= 1 "="x")", "Hardware ID= 1 ", REG_SZ, "x\0"s},
        {"dword of 8 digits", "\"V\"=dword:0000001f", "V", REG_DWORD, "\x1f\0\0\0"s},
        {"dword of 1 digit", "\"V\"=dword:7", "V", REG_DWORD, "\x07\0\0\0"s},
        {"largest dword", "\"V\"=dword:ffffffff", "V", REG_DWORD, "\xff\xff\xff\xff"s},
        {"upper-case dword", "\"V\"=dword:DEADBEEF", "V", REG_DWORD, "\xef\xbe\xad\xde"s},
        {"empty hex", "\"V\"=hex:", "V", REG_BINARY, ""},
        {"hex bytes", "\"V\"=hex:01,02,ff,00,41", "V", REG_BINARY, "\x01\x02\xff\x00\x41"s},
        {"one-digit and upper-case bytes", "\"V\"=hex:1,A,Ff", "V", REG_BINARY, "\x01\x0a\xff"s},
        {"spaces around bytes", "\"V\"=hex: 01 , 02 ", "V", REG_BINARY, "\x01\x02"s},
        {"continued hex", "\"V\"=hex:01,02,ff,\\\n  00,41", "V", REG_BINARY, "\x01\x02\xff\x00\x41"s},
        {"hex continued twice, tab indent", "\"V\"=hex:01,\\\n  02,\\\n\t03", "V", REG_BINARY, "\x01\x02\x03"s},
        {"typed hex continued", "\"V\"=hex(1):41,\\\n  42,00", "V", REG_SZ, "AB\0"s},
        {"hex(0)", "\"V\"=hex(0):01,02", "V", REG_NONE, "\x01\x02"s},
        {"hex(2)", "\"V\"=hex(2):25,61,25,00", "V", REG_EXPAND_SZ, "%a%\0"s},
        {"hex(3)", "\"V\"=hex(3):01,02", "V", REG_BINARY, "\x01\x02"s},
        {"hex(4)", "\"V\"=hex(4):01,02,03,04", "V", REG_DWORD, "\x01\x02\x03\x04"s},
        {"hex(7)", "\"V\"=hex(7):61,00,62,00,00", "V", REG_MULTI_SZ, "a\0b\0\0"s},
        {"hex(ab)", "\"V\"=hex(ab):7f", "V", 0xab, "\x7f"s},
        {"hex(ffffffff)", "\"V\"=hex(ffffffff):7f", "V", 0xffffffff, "\x7f"s},
        {"empty typed hex", "\"V\"=hex(0):", "V", REG_NONE, ""},
        {"the last of two settings wins", "\"V\"=\"one\"\n\"V\"=dword:2", "V", REG_DWORD, "\x02\0\0\0"s},
    };
    for (const Target &target : kTargets) {
        for (const LineEnd &end : kLineEnds) {
            for (const ValueCase &row : cases) {
                SCOPED_TRACE(std::string(row.label) + " in " + target.label + " with " + end.label);
                const std::string text = "REGEDIT4\n\n"s + target.key_line + "\n" + row.lines + "\n";
                if (!load(with_line_end(text, end)))
                    continue;
                const kx::StoredValue stored = stored_value(target.root, target.path, row.name);
                EXPECT_TRUE(stored.found);
                EXPECT_EQ(stored.type, row.type);
                EXPECT_EQ(stored.data, row.data);
            }
        }
    }
}

namespace {

struct KeyCase {
    const char *label;
    const char *text;
    std::vector<Place> keys;
};

} // namespace

TEST_F(Profile, KeysAreCreatedAsWritten)
{
    const KeyCase cases[] = {
        {"key without values",
         R"(REGEDIT4

[HKEY_LOCAL_MACHINE\Enum\PCI\EMPTY]
)",
         {{HKEY_LOCAL_MACHINE, "Enum\\PCI\\EMPTY"}}},
        {"parents come with a deep key",
         R"(REGEDIT4

[HKEY_LOCAL_MACHINE\Enum\SCSI\A\B\C]
)",
         {{HKEY_LOCAL_MACHINE, "Enum\\SCSI\\A"},
          {HKEY_LOCAL_MACHINE, "Enum\\SCSI\\A\\B"},
          {HKEY_LOCAL_MACHINE, "Enum\\SCSI\\A\\B\\C"}}},
        {"subtree roots themselves",
         R"(REGEDIT4

[HKEY_LOCAL_MACHINE\Enum\PCI]
[HKEY_LOCAL_MACHINE\Enum\SCSI]
[HKEY_DYN_DATA\Config Manager\Enum]
)",
         {{HKEY_LOCAL_MACHINE, "Enum\\PCI"},
          {HKEY_LOCAL_MACHINE, "Enum\\SCSI"},
          {HKEY_DYN_DATA, "Config Manager\\Enum"}}},
        {"short root and any case",
         R"(REGEDIT4

[HKLM\Enum\PCI\SHORT]
[hkey_local_machine\enum\scsi\LOWER]
[hkey_dyn_data\config manager\enum\LOWER]
)",
         {{HKEY_LOCAL_MACHINE, "Enum\\PCI\\SHORT"},
          {HKEY_LOCAL_MACHINE, "Enum\\SCSI\\LOWER"},
          {HKEY_DYN_DATA, "Config Manager\\Enum\\KX replay 00000001"}}},
        {"blank lines and comments before and among keys",
         R"(

REGEDIT4
; machine 7
   
[HKEY_LOCAL_MACHINE\Enum\PCI\X]
; a comment where a value could be
  [HKEY_DYN_DATA\Config Manager\Enum\Y]  
)",
         {{HKEY_LOCAL_MACHINE, "Enum\\PCI\\X"}, {HKEY_DYN_DATA, "Config Manager\\Enum\\KX replay 00000001"}}},
        {"brackets and spaces inside a key name",
         R"(REGEDIT4

[HKEY_LOCAL_MACHINE\Enum\PCI\A [1]\ B ]
)",
         {{HKEY_LOCAL_MACHINE, "Enum\\PCI\\A [1]\\ B "}}},
    };
    for (const LineEnd &end : kLineEnds) {
        for (const KeyCase &row : cases) {
            SCOPED_TRACE(std::string(row.label) + " with " + end.label);
            profile_clear();
            if (!load(with_line_end(row.text, end)))
                continue;
            for (const Place &key : row.keys)
                EXPECT_TRUE(key_exists(key.root, key.path)) << key.path;
        }
    }
}

TEST_F(Profile, KeyNamedTwiceMergesItsValues)
{
    for (const LineEnd &end : kLineEnds) {
        SCOPED_TRACE(end.label);
        const std::string text = R"(REGEDIT4

[HKEY_LOCAL_MACHINE\Enum\PCI\TWICE]
"First"="1"

[HKEY_LOCAL_MACHINE\Enum\PCI\OTHER]
"Other"="2"

[hklm\enum\pci\twice]
"Second"="3"
)";
        if (!load(with_line_end(text, end)))
            continue;
        EXPECT_EQ(stored_value(HKEY_LOCAL_MACHINE, "Enum\\PCI\\TWICE", "First").data, "1\0"s);
        EXPECT_EQ(stored_value(HKEY_LOCAL_MACHINE, "Enum\\PCI\\TWICE", "Second").data, "3\0"s);
        EXPECT_FALSE(stored_value(HKEY_LOCAL_MACHINE, "Enum\\PCI\\TWICE", "Other").found);
    }
}

// Each kind of malformed line is named natively (regedit_text_test); here,
// that none of them lets anything reach the registry, wherever it comes.
TEST_F(Profile, MalformedLineIsNamedAndNothingIsWritten)
{
    const kx::BadCase cases[] = {
        {"wrong header", "REGEDIT5\n[HKEY_LOCAL_MACHINE\\Enum\\SCSI\\KXNEW]\n", 1, "REGEDIT4"},
        {"key deletion", kx::kGoodStart + "[-HKEY_LOCAL_MACHINE\\Enum\\PCI\\X]\n", 5, "deleting a key"},
        {"continuation at the end of the text", kx::kGoodStart + "\"a\"=hex:01,\\", 5},
        {"bad byte on a continuation line", kx::kGoodStart + "\"a\"=hex:01,\\\n  02,\\\n  zz\n", 7},
        {"NUL in a key name", kx::kGoodStart + "[HKEY_LOCAL_MACHINE\\Enum\\PCI\\X\0Y]\n"s, 5},
        {"bad line after good keys",
         kx::kGoodStart + "\n[HKEY_LOCAL_MACHINE\\Enum\\PCI\\Z]\n\"z\"=dword:1\n\"y\"=oops\n", 8},
        {"line too long to read", kx::kGoodStart + "\"a\"=\"" + std::string(kRegeditLineSize, 'a') + "\"\n", 5,
         "longer than"},
        {"program file", "MZ\x90\0\x03\0\0\0\x04\0\0\0\xff\xff\0\0\n"s + kx::kGoodStart, 1, "a program"},
    };
    for (const Place &sentinel : kSentinels)
        make_key(sentinel.root, sentinel.path);
    for (const LineEnd &end : kLineEnds) {
        for (const kx::BadCase &row : cases) {
            SCOPED_TRACE(std::string(row.label) + " with " + end.label);
            std::string error;
            EXPECT_FALSE(kx::load_profile(with_line_end(row.text, end), error));
            const std::string prefix = "line " + std::to_string(row.line) + ": ";
            EXPECT_EQ(error.compare(0, prefix.size(), prefix), 0) << error;
            EXPECT_GT(error.size(), prefix.size()) << error;
            EXPECT_NE(error.find(row.says), std::string::npos) << error;
            for (const Place &sentinel : kSentinels)
                EXPECT_TRUE(key_exists(sentinel.root, sentinel.path)) << sentinel.path;
            EXPECT_FALSE(key_exists(HKEY_LOCAL_MACHINE, "Enum\\SCSI\\KXNEW"));
            EXPECT_FALSE(key_exists(HKEY_LOCAL_MACHINE, "Enum\\PCI\\Z"));
        }
    }
}

namespace {

// Calls numbered from `from` to `to` (counted from 1) of `function`, one
// of the registry writes of this program, fail as a full or read-only
// registry does.
struct RefusedWrites {
    const char *function;
    int from, to, calls = 0;

    bool refuses(const char *name) { return !strcmp(name, function) && ++calls >= from && calls <= to; }
    kx::Hook<decltype(&RegSetValueExA)> set{
        GetModuleHandleA(nullptr), "ADVAPI32.dll", "RegSetValueExA",
        [this](HKEY key, LPCSTR name, DWORD reserved, DWORD type, const BYTE *data, DWORD size) {
            return refuses("RegSetValueExA") ? ERROR_ACCESS_DENIED
                                             : set.original()(key, name, reserved, type, data, size);
        }};
    kx::Hook<decltype(&RegCreateKeyExA)> create{
        GetModuleHandleA(nullptr), "ADVAPI32.dll", "RegCreateKeyExA",
        [this](HKEY key, LPCSTR name, DWORD reserved, LPSTR type, DWORD options, REGSAM access,
               LPSECURITY_ATTRIBUTES security, PHKEY result, LPDWORD disposition) {
            return refuses("RegCreateKeyExA")
                       ? ERROR_ACCESS_DENIED
                       : create.original()(key, name, reserved, type, options, access, security, result, disposition);
        }};
};

struct RefusedCase {
    const char *label;
    const char *function;
    int from, to;
    const char *says;
};

} // namespace

// The profile's own code is linked into this program, so its registry
// calls go through this program's imports.
TEST_F(Profile, RefusedWriteLeavesTheTreeAsItWas)
{
    const char before[] =
        "REGEDIT4\n[HKLM\\Enum\\PCI\\OLD]\n\"A\"=\"1\"\n\"B\"=hex(7):61,00,00\n"
        "[HKLM\\Enum\\SCSI\\OLD\\DISK]\n@=dword:5\n"
        "[HKEY_DYN_DATA\\Config Manager\\Enum\\C0]\n\"HardWareKey\"=\"PCI\\\\OLD\"\n";
    const char after[] =
        "REGEDIT4\n[HKLM\\Enum\\PCI\\NEW]\n\"A\"=\"2\"\n\"B\"=\"3\"\n"
        "[HKLM\\Enum\\SCSI\\NEW]\n[HKEY_DYN_DATA\\Config Manager\\Enum\\C1]\n\"C\"=hex:01,\\\n  02\n";
    const RefusedCase cases[] = {
        {"first key", "RegCreateKeyExA", 1, 1, "line 2: cannot create the key: "},
        {"last key", "RegCreateKeyExA", 3, 3, "line 6: cannot create the key: "},
        {"first value", "RegSetValueExA", 1, 1, "line 3: cannot set the value: "},
        {"last value, a hex list", "RegSetValueExA", 3, 3, "line 7: cannot set the value: "},
    };
    ASSERT_TRUE(load(before));
    const std::string captured = kx::capture_profile();
    for (const RefusedCase &row : cases) {
        SCOPED_TRACE(row.label);
        std::string error;
        {
            RefusedWrites refused{row.function, row.from, row.to};
            ASSERT_TRUE(refused.set.applied() && refused.create.applied());
            EXPECT_FALSE(kx::load_profile(after, error));
        }
        EXPECT_EQ(error,
                  row.says + kx::windows_error(ERROR_ACCESS_DENIED) + "; the hardware tree was put back as it was"s);
        EXPECT_EQ(kx::capture_profile(), captured);
    }

    // When putting it back fails as well, the capture is kept, and it is
    // whole.
    std::string error;
    {
        RefusedWrites refused{"RegSetValueExA", 2, INT_MAX};
        EXPECT_FALSE(kx::load_profile(after, error));
    }
    const std::string denied = kx::windows_error(ERROR_ACCESS_DENIED);
    const std::string says =
        "line 4: cannot set the value: " + denied + "; putting the hardware tree back failed too, it is kept in ";
    ASSERT_EQ(error.compare(0, says.size(), says), 0) << error;
    const std::string kept = error.substr(says.size(), error.find(": ", says.size()) - says.size());
    EXPECT_EQ(error.compare(says.size() + kept.size(), std::string::npos,
                            ": " + kept + ": line 6: cannot set the value: " + denied),
              0)
        << error;
    std::string reload_error;
    EXPECT_TRUE(kx::load_profile_file(kept, reload_error)) << reload_error;
    EXPECT_EQ(kx::capture_profile(), captured);
    char left_behind[kProfilePathSize] = "";
    EXPECT_TRUE(profile_left_behind(left_behind));
    EXPECT_EQ(left_behind, kept);
    EXPECT_TRUE(DeleteFileA(kept.c_str())) << kept;
    EXPECT_FALSE(profile_left_behind(left_behind)) << left_behind;

    // Every other capture kept for putting the tree back is gone.
    EXPECT_EQ(kx::files_matching(kx::temp_path("kxb*.tmp")), std::vector<std::string>());
}

// Wine gives a program started without a terminal no console to send a
// console event in: the test makes one of its own, which kxprobe shares,
// and lets pass the Ctrl-C that it sends to every program on it.
static BOOL WINAPI let_pass(DWORD)
{
    return TRUE;
}

namespace {

struct InterruptCase {
    const char *label;
    bool ended; // the process ended outright, where no handler runs
    DWORD exit_code;
    const char *says;
};

} // namespace

TEST_F(Profile, AnInterruptedLoadPutsTheTreeBack)
{
    const InterruptCase cases[] = {
        {"Ctrl-C", false, 2, ": interrupted; the hardware tree was put back as it was\r\n"},
        {"process ended", true, 9, ""},
    };
    FreeConsole();
    ASSERT_TRUE(AllocConsole()) << GetLastError();
    SetConsoleCtrlHandler(let_pass, TRUE);
    // About 5 MB: long enough a load to be interrupted in the middle.
    std::string large = "REGEDIT4\n";
    for (int i = 0; i < 19000; ++i)
        large += "\n[HKEY_LOCAL_MACHINE\\Enum\\PCI\\KXLARGE\\" + std::to_string(i) + "]\n\"DeviceDesc\"=\"" +
                 std::string(230, 'd') + "\"\n";
    const std::string large_file = kx::temp_path("kxlarge.reg"), next_file = kx::temp_path("kxnext.reg");
    kx::write_file(large_file, large);
    kx::write_file(next_file, "REGEDIT4\n[HKEY_LOCAL_MACHINE\\Enum\\SCSI\\KXNEXT]\n");
    ASSERT_TRUE(
        load("REGEDIT4\n[HKLM\\Enum\\PCI\\OLD]\n\"A\"=\"1\"\n[HKEY_DYN_DATA\\Config Manager\\Enum\\C0]\n"
             "\"HardWareKey\"=\"PCI\\\\OLD\"\n"));
    const std::string captured = kx::capture_profile();
    for (const InterruptCase &row : cases) {
        SCOPED_TRACE(row.label);
        DWORD code;
        {
            kx::Started probe("\"" + kx::bin_dir() + "kxprobe.exe\" --profile " + large_file, "interrupted.txt");
            while (probe.running() && !key_exists(HKEY_LOCAL_MACHINE, "Enum\\PCI\\KXLARGE\\0"))
                Sleep(10);
            EXPECT_TRUE(row.ended ? TerminateProcess(probe.process(), 9) : GenerateConsoleCtrlEvent(CTRL_C_EVENT, 0))
                << GetLastError();
            code = probe.wait();
        }
        const std::string output = kx::read_file("interrupted.txt");
        EXPECT_EQ(code, row.exit_code) << output;
        EXPECT_TRUE(kx::contains(output, row.says));
        if (!row.ended) {
            EXPECT_TRUE(kx::capture_profile() == captured) << "the tree was not put back";
            continue;
        }
        // The next load names the capture of the tree that was replaced.
        const kx::Ran next = kx::run_kxprobe("--profile " + next_file);
        EXPECT_EQ(next.status, 0u) << next.text;
        const std::string says = "kxprobe: a load that was cut off left the hardware tree that it replaced in ";
        ASSERT_TRUE(kx::contains(next.text, says));
        const size_t at = next.text.find(says) + says.size();
        const std::string kept = next.text.substr(at, next.text.find(';', at) - at);
        std::string error;
        EXPECT_TRUE(kx::load_profile_file(kept, error)) << error;
        EXPECT_EQ(kx::capture_profile(), captured);
        EXPECT_TRUE(DeleteFileA(kept.c_str())) << kept;
    }
    DeleteFileA("interrupted.txt");
    DeleteFileA(large_file.c_str());
    DeleteFileA(next_file.c_str());
}

namespace {

struct PlaceCase {
    const char *label;
    const char *key;
    HKEY root;
    const char *path;
    bool allowed;
};

} // namespace

// Keys outside the three subtrees, as a regedit export of all of
// HKLM\Enum has them, are passed over with their values and counted.
TEST_F(Profile, OnlyTheHardwareTreeIsWritten)
{
    const PlaceCase cases[] = {
        {"PCI root", "HKEY_LOCAL_MACHINE\\Enum\\PCI", HKEY_LOCAL_MACHINE, "Enum\\PCI", true},
        {"SCSI root", "HKEY_LOCAL_MACHINE\\Enum\\SCSI", HKEY_LOCAL_MACHINE, "Enum\\SCSI", true},
        {"live-node root", "HKEY_DYN_DATA\\Config Manager\\Enum", HKEY_DYN_DATA, "Config Manager\\Enum", true},
        {"short root", "HKLM\\Enum\\PCI", HKEY_LOCAL_MACHINE, "Enum\\PCI", true},
        {"lower case", "hkey_local_machine\\enum\\scsi", HKEY_LOCAL_MACHINE, "Enum\\SCSI", true},
        {"HKLM itself", "HKEY_LOCAL_MACHINE", HKEY_LOCAL_MACHINE, "", false},
        {"Enum", "HKEY_LOCAL_MACHINE\\Enum", HKEY_LOCAL_MACHINE, "Enum", false},
        {"sibling of Enum\\PCI", "HKEY_LOCAL_MACHINE\\Enum\\ISAPNP", HKEY_LOCAL_MACHINE, "Enum\\ISAPNP", false},
        {"longer name than PCI", "HKEY_LOCAL_MACHINE\\Enum\\PCIX", HKEY_LOCAL_MACHINE, "Enum\\PCIX", false},
        {"shorter name than PCI", "HKEY_LOCAL_MACHINE\\Enum\\PC", HKEY_LOCAL_MACHINE, "Enum\\PC", false},
        {"longer name than SCSI", "HKEY_LOCAL_MACHINE\\Enum\\SCSI2", HKEY_LOCAL_MACHINE, "Enum\\SCSI2", false},
        {"Software", "HKEY_LOCAL_MACHINE\\Software\\KXVENDOR", HKEY_LOCAL_MACHINE, "Software\\KXVENDOR", false},
        {"NT enum tree", "HKEY_LOCAL_MACHINE\\System\\CurrentControlSet\\Enum\\PCI", HKEY_LOCAL_MACHINE,
         "System\\CurrentControlSet\\Enum\\PCI", false},
        {"Config Manager", "HKEY_DYN_DATA\\Config Manager", HKEY_DYN_DATA, "Config Manager", false},
        {"longer name than live-node Enum", "HKEY_DYN_DATA\\Config Manager\\Enumerator", HKEY_DYN_DATA,
         "Config Manager\\Enumerator", false},
        {"PerfStats", "HKEY_DYN_DATA\\PerfStats", HKEY_DYN_DATA, "PerfStats", false},
        {"PCI under the wrong root", "HKEY_DYN_DATA\\Enum\\PCI", HKEY_DYN_DATA, "Enum\\PCI", false},
        {"live nodes under the wrong root", "HKEY_LOCAL_MACHINE\\Config Manager\\Enum", HKEY_LOCAL_MACHINE,
         "Config Manager\\Enum", false},
        {"current user", "HKEY_CURRENT_USER\\Enum\\PCI", HKEY_CURRENT_USER, "Enum\\PCI", false},
        {"short current user", "HKCU\\Enum\\PCI", HKEY_CURRENT_USER, "Enum\\PCI", false},
        {"users", "HKEY_USERS\\.DEFAULT\\Enum\\PCI", HKEY_USERS, ".DEFAULT\\Enum\\PCI", false},
    };
    for (const PlaceCase &row : cases) {
        SCOPED_TRACE(row.label);
        profile_clear();
        // A live node goes by the name of its place in the profile.
        const bool node = row.allowed && row.root == HKEY_DYN_DATA;
        const std::string leaf = node ? kx::live_node_key(1) : row.path + "\\KXLEAF"s;
        RegDeleteKeyA(row.root, leaf.c_str());
        const std::string text =
            "REGEDIT4\n\n[HKEY_LOCAL_MACHINE\\Enum\\PCI\\KXINSIDE]\n["s + row.key + "\\KXLEAF]\n\"Mark\"=\"1\"\n";
        std::string error;
        unsigned long skipped = 0xdeadbeef;
        EXPECT_TRUE(kx::load_profile(text, error, &skipped)) << error;
        EXPECT_EQ(key_exists(row.root, leaf), row.allowed);
        EXPECT_EQ(skipped, row.allowed ? 0u : 1u);
    }
}

// A profile without a key of the hardware tree, most likely a regedit
// export of another key, is no machine: it would only clear the tree.
TEST_F(Profile, OnlyKeysOutsideTheSubtreesAreRefused)
{
    for (const Place &sentinel : kSentinels)
        make_key(sentinel.root, sentinel.path);
    std::string error;
    EXPECT_FALSE(kx::load_profile("REGEDIT4\n\n[HKEY_LOCAL_MACHINE\\Software\\KXVENDOR]\n\"a\"=\"b\"\n", error));
    EXPECT_EQ(error,
              "no key in HKEY_LOCAL_MACHINE\\Enum\\PCI, HKEY_LOCAL_MACHINE\\Enum\\SCSI or HKEY_DYN_DATA\\Config "
              "Manager\\Enum (1 key outside them): not a machine profile; was another key exported?");
    for (const Place &sentinel : kSentinels)
        EXPECT_TRUE(key_exists(sentinel.root, sentinel.path)) << sentinel.path;
}

TEST_F(Profile, ClearRemovesTheThreeSubtreesOnly)
{
    const Place subtrees[] = {
        {HKEY_LOCAL_MACHINE, "Enum\\PCI"},
        {HKEY_LOCAL_MACHINE, "Enum\\SCSI"},
        {HKEY_DYN_DATA, "Config Manager\\Enum"},
    };
    for (const Place &place : kOutside)
        make_key(place.root, place.path, "outside");
    for (int round = 0; round < 2; ++round) {
        SCOPED_TRACE(round == 0 ? "full subtrees" : "subtrees already gone");
        if (round == 0) {
            for (const Place &subtree : subtrees) {
                make_key(subtree.root, subtree.path + "\\A\\B\\C"s);
                make_key(subtree.root, subtree.path + "\\A\\D"s);
                make_key(subtree.root, subtree.path + "\\E"s);
                make_key(subtree.root, subtree.path);
            }
        }
        profile_clear();
        for (const Place &subtree : subtrees)
            EXPECT_FALSE(key_exists(subtree.root, subtree.path)) << subtree.path;
        for (const Place &place : kOutside)
            EXPECT_EQ(stored_value(place.root, place.path, "KxMark").data, "outside\0"s) << place.path;
        EXPECT_EQ(kx::capture_profile(), "REGEDIT4\r\n\r\n");
    }
}

TEST_F(Profile, LoadReplacesTheWholeTree)
{
    const Place earlier[] = {
        {HKEY_LOCAL_MACHINE, "Enum\\PCI\\EARLIER"},
        {HKEY_LOCAL_MACHINE, "Enum\\SCSI\\EARLIER"},
        {HKEY_DYN_DATA, "Config Manager\\Enum\\EARLIER"},
    };
    for (const Place &place : earlier) {
        SCOPED_TRACE(place.path);
        make_key(place.root, place.path);
        ASSERT_TRUE(load("REGEDIT4\n\n[HKEY_LOCAL_MACHINE\\Enum\\PCI\\LATER]\n"));
        EXPECT_FALSE(key_exists(place.root, place.path));
        EXPECT_TRUE(key_exists(HKEY_LOCAL_MACHINE, "Enum\\PCI\\LATER"));
    }
    for (const Place &place : kOutside)
        make_key(place.root, place.path, "outside");
    ASSERT_TRUE(load("REGEDIT4\n"));
    for (const Place &place : kOutside)
        EXPECT_TRUE(key_exists(place.root, place.path)) << place.path;
}

namespace {

struct CaptureCase {
    const char *label;
    std::string text;
};

} // namespace

// Canonical profiles, in the order the registry enumerates them: loading one
// and capturing it gives it back unchanged.
TEST_F(Profile, CaptureGivesBackACanonicalProfile)
{
    const CaptureCase cases[] = {
        {"nothing", "REGEDIT4\n\n"},
        {"strings, dword and default value", R"(REGEDIT4

[HKEY_LOCAL_MACHINE\Enum\PCI]

[HKEY_LOCAL_MACHINE\Enum\PCI\VEN_1234&DEV_5678]

[HKEY_LOCAL_MACHINE\Enum\PCI\VEN_1234&DEV_5678\BUS_00&DEV_01&FUNC_00]
@="default value"
"Class"="DISPLAY"
"Count"=dword:0000001f
"DeviceDesc"="Generic \"quoted\" and back\\slash"
"Empty"=""

)"},
        {"escaped and odd value names", R"(REGEDIT4

[HKEY_LOCAL_MACHINE\Enum\SCSI]
"@"="at"
"A\"B\\C"="quote"
"D=E"="equals"

)"},
        {"hex kinds", R"(REGEDIT4

[HKEY_LOCAL_MACHINE\Enum\SCSI]

[HKEY_LOCAL_MACHINE\Enum\SCSI\X]
"Bin"=hex:01,02,ff
"Empty"=hex:
"Expand"=hex(2):25,61,25,00
"Multi"=hex(7):61,00,62,00,00
"None"=hex(0):
"Odd"=hex(ab):01
"Short"=hex(4):01,02

)"},
        {"depth first, all three subtrees", R"(REGEDIT4

[HKEY_LOCAL_MACHINE\Enum\PCI]

[HKEY_LOCAL_MACHINE\Enum\PCI\A]
"Level"=dword:00000001

[HKEY_LOCAL_MACHINE\Enum\PCI\A\B]
"Level"=dword:00000002

[HKEY_LOCAL_MACHINE\Enum\PCI\C]

[HKEY_LOCAL_MACHINE\Enum\SCSI]

[HKEY_LOCAL_MACHINE\Enum\SCSI\D]

[HKEY_DYN_DATA\Config Manager\Enum]

[HKEY_DYN_DATA\Config Manager\Enum\C29A3E00]
"HardWareKey"="PCI\\VEN_1234&DEV_5678\\BUS_00&DEV_01&FUNC_00"
"Problem"=dword:00000000
"Status"=hex:0a,60,00,00

)"},
        {"live nodes in the profile's order, by their own names", R"(REGEDIT4

[HKEY_DYN_DATA\Config Manager\Enum]

[HKEY_DYN_DATA\Config Manager\Enum\C2]
"HardWareKey"="PCI\\B"

[HKEY_DYN_DATA\Config Manager\Enum\C2\Below]

[HKEY_DYN_DATA\Config Manager\Enum\c1]

[HKEY_DYN_DATA\Config Manager\Enum\KX replay 00000001]

[HKEY_DYN_DATA\Config Manager\Enum\a "node" [named] = ; oddly, café]

[HKEY_DYN_DATA\Config Manager\Enum\)" + std::string(255, 'N') + R"(]

[HKEY_DYN_DATA\Config Manager\Enum\A]

)"},
    };
    for (const CaptureCase &row : cases) {
        SCOPED_TRACE(row.label);
        const std::string text = crlf(row.text);
        if (load(text)) {
            EXPECT_EQ(kx::capture_profile(), text);
        }
    }
}

// A profile with every kind of value, long ones included, survives being
// captured and loaded again: same text, same bytes in the registry.
TEST_F(Profile, CaptureAndLoadAgainChangeNothing)
{
    std::string big;
    for (int i = 0; i < 300; ++i)
        big += char(i * 7 + 3);
    std::string big_hex;
    for (unsigned char c : big) {
        char text[4];
        snprintf(text, sizeof text, "%02x,", c);
        big_hex += text;
    }
    big_hex.pop_back();
    const std::string name_80(80, 'N');
    const std::string text =
        "REGEDIT4\n\n[HKEY_LOCAL_MACHINE\\Enum\\PCI\\VEN_1234&DEV_5678\\BUS_00]\n"
        "\"Big\"=hex:" +
        big_hex +
        "\n"
        "\"BigNone\"=hex(0):" +
        big_hex +
        "\n"
        "\"" +
        name_80 +
        "\"=hex:01,02,03\n"
        "\"Str\"=\"a \\\"b\\\" \\\\c\"\n"
        "[HKEY_DYN_DATA\\Config Manager\\Enum\\C1]\n\"Status\"=dword:0000000a\n"
        "\"Crlf\"=hex(1):41,0d,0a,00\n"
        "[HKEY_LOCAL_MACHINE\\Enum\\SCSI\\D]\n@=hex(7):61,00,00\n";
    ASSERT_TRUE(load(text));
    const std::string first = kx::capture_profile();
    ASSERT_TRUE(load(first));
    EXPECT_EQ(kx::capture_profile(), first);
    const char *const path = "Enum\\PCI\\VEN_1234&DEV_5678\\BUS_00";
    const kx::StoredValue stored[] = {
        stored_value(HKEY_LOCAL_MACHINE, path, "Big"),
        stored_value(HKEY_LOCAL_MACHINE, path, "BigNone"),
    };
    const DWORD types[] = {REG_BINARY, REG_NONE};
    for (int i = 0; i < 2; ++i) {
        SCOPED_TRACE(i == 0 ? "hex" : "hex(0)");
        EXPECT_EQ(stored[i].type, types[i]);
        EXPECT_EQ(stored[i].data, big);
    }
    size_t start = 0;
    while (start < first.size()) {
        const size_t end = first.find("\r\n", start);
        ASSERT_NE(end, std::string::npos) << "line at offset " << start << " has no CR LF";
        const std::string line = first.substr(start, end - start);
        EXPECT_EQ(line.find_first_of("\r\n"), std::string::npos) << line;
        if (line.find(name_80) == std::string::npos) {
            EXPECT_LE(line.size(), 80u) << line;
        }
        start = end + 2;
    }
}

// Far more than one read or write of the file at a time, and values larger
// than a line: a string too long to quote on one line is captured as a hex
// list, and the whole comes back byte for byte.
TEST_F(Profile, LargeTreesAndValuesStream)
{
    std::string bytes;
    for (int i = 0; i < 200000; ++i)
        bytes += char(i * 13 + i / 256);
    const std::string text = std::string(kRegeditLineSize + 100, 's') + '\0';
    const std::string path = "Enum\\PCI\\VEN_1234&DEV_5678\\BUS_00";
    set_value(HKEY_LOCAL_MACHINE, path, "Bytes", REG_BINARY, bytes);
    set_value(HKEY_LOCAL_MACHINE, path, "Text", REG_SZ, text);
    for (int i = 0; i < 300; ++i)
        set_value(HKEY_DYN_DATA, "Config Manager\\Enum\\C" + std::to_string(i), "HardWareKey", REG_SZ,
                  "PCI\\VEN_1234&DEV_5678\\" + std::to_string(i) + '\0');
    const std::string first = kx::capture_profile();
    EXPECT_GT(first.size(), 3 * bytes.size());
    ASSERT_TRUE(load(first));
    EXPECT_EQ(kx::capture_profile(), first);
    EXPECT_EQ(stored_value(HKEY_LOCAL_MACHINE, path, "Bytes").data, bytes);
    const kx::StoredValue stored = stored_value(HKEY_LOCAL_MACHINE, path, "Text");
    EXPECT_EQ(stored.type, DWORD(REG_SZ));
    EXPECT_EQ(stored.data, text);
    EXPECT_NE(first.find("\"Text\"=hex(1):73,73,"), std::string::npos);
    EXPECT_TRUE(key_exists(HKEY_DYN_DATA, kx::live_node_key(300)));
    EXPECT_FALSE(key_exists(HKEY_DYN_DATA, kx::live_node_key(301)));
}

TEST_F(Profile, CaptureToAnUnwritableFileFails)
{
    const std::string paths[] = {"no\\such\\folder\\machine.reg", kx::temp_path("")};
    for (const std::string &path : paths) {
        SCOPED_TRACE(path);
        char error[kProfileErrorSize + 16];
        memset(error, 0xbd, sizeof error);
        EXPECT_FALSE(profile_capture(path.c_str(), error));
        EXPECT_EQ(std::string(error).rfind("cannot write " + path + ": ", 0), 0u) << error;
        const bool folder = path.back() == '\\';
        EXPECT_NE(std::string(error).find(folder ? ": a folder, not a file" : " (error "), std::string::npos) << error;
        EXPECT_EQ(error[kProfileErrorSize], '\xbd');
        EXPECT_FALSE(profile_can_write(path.c_str(), error));
        EXPECT_EQ(std::string(error).rfind("cannot write " + path + ": ", 0), 0u) << error;
    }
    const std::string fresh = kx::temp_path("kxprofile_fresh.reg");
    char error[kProfileErrorSize];
    EXPECT_TRUE(profile_can_write(fresh.c_str(), error)) << error;
    EXPECT_EQ(GetFileAttributesA(fresh.c_str()), INVALID_FILE_ATTRIBUTES);
}

// A capture is written whole under another name and only then takes its
// own: one cut short leaves the file that was there, and nothing else.
TEST_F(Profile, ACaptureCutShortLeavesTheFileThatWasThere)
{
    ASSERT_TRUE(load(kx::kGoodStart + "[HKEY_DYN_DATA\\Config Manager\\Enum\\C1]\n\"HardWareKey\"=\"" +
                     std::string(40000, 'k') + "\"\n"));
    kx::TempCwd cwd;
    cwd.write("machine.reg", "the capture before");
    for (int writes : {0, 1}) {
        SCOPED_TRACE(writes);
        char error[kProfileErrorSize];
        {
            int writes_left = writes;
            kx::Hook<decltype(&WriteFile)> cut(
                GetModuleHandleA(nullptr), "KERNEL32.dll", "WriteFile",
                [&](HANDLE file, LPCVOID data, DWORD size, LPDWORD written, LPOVERLAPPED overlapped) {
                    if (writes_left-- > 0)
                        return cut.original()(file, data, size, written, overlapped);
                    SetLastError(ERROR_DISK_FULL);
                    return FALSE;
                });
            ASSERT_TRUE(cut.applied());
            EXPECT_FALSE(profile_capture("machine.reg", error, "a note"));
        }
        EXPECT_EQ(std::string(error), "cannot write machine.reg: " + kx::windows_error(ERROR_DISK_FULL));
        EXPECT_EQ(kx::read_file("machine.reg"), "the capture before");
        EXPECT_EQ(kx::files_matching("kxp*"), std::vector<std::string>());
    }
}

// Notes go right after the header, one comment line each, and a profile
// that has them loads as one without them.
TEST_F(Profile, NotesAreCommentsAfterTheHeader)
{
    const std::string text = kx::kGoodStart + "[HKEY_DYN_DATA\\Config Manager\\Enum\\C1]\n\"HardWareKey\"=\"PCI\"\n";
    ASSERT_TRUE(load(text));
    const std::string plain = kx::capture_profile();
    kx::TempCwd cwd;
    char error[kProfileErrorSize];
    ASSERT_TRUE(profile_capture("noted.reg", error, "Captured by a test\n    a detail\r\nthe last line")) << error;
    const std::string noted = kx::read_file("noted.reg");
    EXPECT_EQ(noted, "REGEDIT4\r\n\r\n; Captured by a test\r\n;     a detail \r\n; the last line\r\n" +
                         plain.substr(strlen("REGEDIT4\r\n\r\n")));
    ASSERT_TRUE(load(noted));
    EXPECT_EQ(kx::capture_profile(), plain);
}

// Each node is made once, by the name of the place where the profile first
// names it, and keeps its own name as its key's class.
TEST_F(Profile, LiveNodesGoByTheirPlaceInTheProfile)
{
    ASSERT_TRUE(
        load("REGEDIT4\n[HKEY_DYN_DATA\\Config Manager\\Enum\\C2\\Below]\n"
             "[HKEY_DYN_DATA\\Config Manager\\Enum\\C1]\n\"HardWareKey\"=\"PCI\\\\A\"\n"
             "[hkey_dyn_data\\config manager\\enum\\c2]\n\"HardWareKey\"=\"PCI\\\\B\"\n"));
    const char *const own[] = {"C2", "C1"};
    for (unsigned long number = 1; number <= 2; ++number) {
        SCOPED_TRACE(number);
        UniqueKey node;
        ASSERT_EQ(RegOpenKeyExA(HKEY_DYN_DATA, kx::live_node_key(number).c_str(), 0, KEY_READ, node.put()),
                  ERROR_SUCCESS);
        char name[64];
        memset(name, 0xbd, sizeof name);
        DWORD length = sizeof name;
        EXPECT_EQ(RegQueryInfoKeyA(node.get(), name, &length, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr,
                                   nullptr, nullptr, nullptr),
                  ERROR_SUCCESS);
        EXPECT_STREQ(name, own[number - 1]);
    }
    EXPECT_FALSE(key_exists(HKEY_DYN_DATA, kx::live_node_key(3)));
    EXPECT_TRUE(key_exists(HKEY_DYN_DATA, kx::live_node_key(1) + "\\Below"));
    EXPECT_EQ(kx::capture_profile(), crlf(R"(REGEDIT4

[HKEY_DYN_DATA\Config Manager\Enum]

[HKEY_DYN_DATA\Config Manager\Enum\C2]
"HardWareKey"="PCI\\B"

[HKEY_DYN_DATA\Config Manager\Enum\C2\Below]

[HKEY_DYN_DATA\Config Manager\Enum\C1]
"HardWareKey"="PCI\\A"

)"));
}

namespace {

struct FileCase {
    const char *label;
    std::string content;
    bool ok;
    const char *error_start;
};

} // namespace

TEST_F(Profile, LoadFileReadsInBinary)
{
    const std::string path = kx::temp_path("kxprofile_test.reg");
    const FileCase cases[] = {
        {"CR LF file", "REGEDIT4\r\n\r\n[HKEY_LOCAL_MACHINE\\Enum\\PCI\\F]\r\n\"V\"=\"x\"\r\n", true, ""},
        {"LF file", "REGEDIT4\n\n[HKEY_LOCAL_MACHINE\\Enum\\PCI\\F]\n\"V\"=\"x\"\n", true, ""},
        {"CR LF inside a continued list",
         "REGEDIT4\r\n[HKLM\\Enum\\PCI\\F]\r\n\"V\"=\"x\"\r\n\"B\"=hex:01,\\\r\n  02\r\n", true, ""},
        {"malformed file", "REGEDIT4\r\n\r\n[HKEY_LOCAL_MACHINE\\Enum\\PCI\\F]\r\n\"V\"=dword:x\r\n", false,
         "line 4: "},
    };
    for (const FileCase &row : cases) {
        SCOPED_TRACE(row.label);
        profile_clear();
        kx::write_file(path, row.content);
        std::string error;
        EXPECT_EQ(kx::load_profile_file(path, error), row.ok) << error;
        const std::string expected = *row.error_start ? path + ": " + row.error_start : "";
        EXPECT_EQ(error.compare(0, expected.size(), expected), 0) << error;
        EXPECT_EQ(stored_value(HKEY_LOCAL_MACHINE, "Enum\\PCI\\F", "V").data, row.ok ? "x\0"s : "");
    }
    DeleteFileA(path.c_str());

    const std::string unreadable[][2] = {{kx::temp_path("kxprofile_missing.reg"), ""},
                                         {kx::temp_path(""), "a folder, not a file"}};
    for (const std::string *row : unreadable) {
        SCOPED_TRACE(row[0]);
        std::string error;
        EXPECT_FALSE(kx::load_profile_file(row[0], error));
        EXPECT_EQ(error.find("cannot read " + row[0] + ": " + row[1]), 0u) << error;
    }
}
