// The installer author's kit, used as installers use it: a program linked
// against each import library and the NSIS sample installer ask the DLL
// every question on one machine and write their answers, which must be the
// machine's.
#include "base/unique.h"
#include "harness/harness.h"
#include "profile/profile.h"
#include "tools/kxcapture/resource.h"

#include <gtest/gtest.h>

#include <map>
#include <algorithm>
#include <functional>
#include <set>
#include <string>

static const kx::Machine kMachine =
    kx::Machine()
        .device("PCI\\VEN_1D5A&DEV_0412&SUBSYS_3F011D5A&REV_02\\BUS_01&DEV_00&FUNC_00", "DISPLAY",
                "Generic Graphics Accelerator 3D AGP")
        .device("PCI\\VEN_1E7C&DEV_5500&SUBSYS_55001E7C&REV_01\\BUS_00&DEV_0F&FUNC_00", "MEDIA",
                "Generic PCI Wave Audio")
        .device("PCI\\VEN_1B1C&DEV_7020&SUBSYS_00000000&REV_01\\BUS_00&DEV_10&FUNC_00", "MEDIA",
                "Generic MPEG-2 Decoder")
        .value("MFG", "BroadLogic")
        .device("SCSI\\GENERIC_DVD-ROM_DX-5___\\MF&CHILD0000", "CDROM", "GENERIC DVD-ROM DX-5")
        .live("C1068110", "PCI\\VEN_1D5A&DEV_0412&SUBSYS_3F011D5A&REV_02\\BUS_01&DEV_00&FUNC_00")
        .live("C1068450", "PCI\\VEN_1E7C&DEV_5500&SUBSYS_55001E7C&REV_01\\BUS_00&DEV_0F&FUNC_00")
        .live("C1069570", "SCSI\\GENERIC_DVD-ROM_DX-5___\\MF&CHILD0000");

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
    std::map<std::string, std::string> answers;
    for (const std::string &line : kx::lines(kx::read_file(path))) {
        size_t equals = line.find('=');
        EXPECT_NE(std::string::npos, equals) << path << ": " << line;
        if (equals != std::string::npos && !answers.emplace(line.substr(0, equals), line.substr(equals + 1)).second)
            ADD_FAILURE() << path << ": asked twice: " << line;
    }
    return answers;
}

namespace {

class Kit : public ::testing::Test {
protected:
    void SetUp() override
    {
        kx::load_machine(kMachine);
        for (const char *name : {"AudCards.def", "VidCards.def"})
            ASSERT_TRUE(CopyFileA(kx::source_path(std::string("tests/kit/") + name).c_str(), name, FALSE)) << name;
        stand_ins_.kxdodaze(42);
    }
    void TearDown() override { profile_clear(); }

    kx::TempCwd cwd_;
    kx::StandIns stand_ins_;
};

} // namespace

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
    const kx::Ran listed = kx::run(kx::bin_dir() + "reliability_test.exe --gtest_list_tests");
    EXPECT_EQ(0u, listed.status);
    std::set<std::string> rows;
    for (const std::string &line : listed.lines)
        if (line.compare(0, sweep.size(), sweep) == 0)
            rows.insert(line.substr(sweep.size(), line.find(' ', sweep.size()) - sweep.size()));
    return rows;
}

namespace {

// An export added to the DLL is asked everywhere that asks every question:
// the reliability sweep, kxprobe's text and JSON, the programs linked with
// the kit and the NSIS sample; and the README's table of exports names it.
class Exports : public Kit { };

} // namespace

TEST_F(Exports, EveryExportIsAskedEverywhere)
{
    kx::Dll dll;
    const std::set<std::string> exports = dll.exports();
    ASSERT_FALSE(exports.empty());
    const std::set<std::string> rows = sweep_rows();
    const std::string kxprobe = "\"" + kx::bin_dir() + "kxprobe.exe\" --file VidCards.def";
    const kx::Ran probed = kx::run(kxprobe), probed_json = kx::run(kxprobe + " --json");
    EXPECT_EQ(0u, probed.status);
    EXPECT_EQ(0u, probed_json.status);
    const std::string &text = probed.text, &json = probed_json.text;
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

// CALLING.txt's table read back: each export of the .def on a row of its
// own, its name, ordinal, argument bytes and decorated name each beginning
// at the column of its heading, however long the longest name.
TEST(Calling, ListsEveryExportOfTheDefInItsColumns)
{
    const std::vector<std::string> calling = kx::lines(kx::read_file(kx::bin_dir() + "..\\kit-lib\\CALLING.txt"));
    auto row = std::find_if(calling.begin(), calling.end(),
                            [](const std::string &line) { return !line.compare(0, 9, "  Export "); });
    ASSERT_NE(calling.end(), row) << "no table of exports";
    const size_t columns[] = {2, row->find("Ordinal"), row->find("Argument bytes"), row->find("Decorated")};
    ASSERT_NE(std::string::npos, columns[3]) << *row;
    int exports = 0;
    for (const kx::DefExport &listed : kx::def_exports()) {
        SCOPED_TRACE(listed.name);
        ++exports;
        const std::string bytes = listed.target.substr(listed.target.find('@') + 1);
        const std::string fields[] = {listed.name, std::to_string(listed.ordinal), bytes,
                                      "_" + listed.name + "@" + bytes};
        ASSERT_NE(calling.end(), ++row);
        for (int i = 0; i < 4; ++i) {
            EXPECT_EQ(fields[i], row->substr(columns[i], fields[i].size())) << *row;
            EXPECT_TRUE(columns[i] == 2 || (*row)[columns[i] - 1] == ' ') << *row;
        }
    }
    EXPECT_GT(exports, 1);
}

namespace {

// What kxcapture's window showed, read as another program reads it:
// GetWindowText gives a static control's text, but of an edit control only
// its caption, so the edit controls are asked with WM_GETTEXT.
struct CaptureShown {
    DWORD status = 0xdeadbeef;
    std::string texts[IDC_OPEN - IDC_HEADING]; // by control, from IDC_HEADING
    std::string waiting;                       // the note, as the window answered while Close was disabled
    bool answers_read_only = false, open_enabled = false;
    const std::string &operator[](int control) const { return texts[control - IDC_HEADING]; }
};

} // namespace

// Runs folder\kxcapture.exe as Explorer runs a program that is
// double-clicked: its folder current, no console. Its window is read once
// Close can be pressed, at the capture's end; then Close is pressed.
static CaptureShown run_capture(const std::string &folder)
{
    CaptureShown shown;
    std::string command = "\"" + folder + "\\kxcapture.exe\"";
    STARTUPINFOA startup = {sizeof startup};
    PROCESS_INFORMATION process = {};
    if (!CreateProcessA(nullptr, &command[0], nullptr, nullptr, FALSE, DETACHED_PROCESS, nullptr, folder.c_str(),
                        &startup, &process)) {
        ADD_FAILURE() << "cannot start " << command << ", error " << GetLastError();
        return shown;
    }
    const UniqueHandle process_handle(process.hProcess), thread(process.hThread);
    HWND window = nullptr;
    DWORD owner = 0;
    for (int tries = 0; tries < 600 && !window; ++tries, Sleep(100)) {
        window = FindWindowA("#32770", KX_CAPTURE_TITLE);
        if (!window || !GetWindowThreadProcessId(window, &owner) || owner != process.dwProcessId)
            window = nullptr;
        // The window sets its last note just before it enables Close: only
        // a note of waiting counts.
        char note[512] = "";
        if (window && !IsWindowEnabled(GetDlgItem(window, IDCANCEL)) &&
            GetWindowTextA(GetDlgItem(window, IDC_NOTE), note, sizeof note) && !strncmp(note, "Please wait: ", 13))
            shown.waiting = note;
        if (window && !IsWindowEnabled(GetDlgItem(window, IDCANCEL)))
            window = nullptr;
    }
    EXPECT_NE(nullptr, window) << "no window whose capture ended";
    for (int control = IDC_HEADING; window && control < IDC_OPEN; ++control) {
        std::string &text = shown.texts[control - IDC_HEADING];
        text.assign(65536, '\0');
        HWND item = GetDlgItem(window, control);
        text.resize(control == IDC_PATH || control == IDC_ANSWERS
                        ? SendMessageA(item, WM_GETTEXT, text.size(), (LPARAM)&text[0])
                        : GetWindowTextA(item, &text[0], (int)text.size()));
    }
    if (window) {
        shown.answers_read_only = GetWindowLongA(GetDlgItem(window, IDC_ANSWERS), GWL_STYLE) & ES_READONLY;
        shown.open_enabled = IsWindowEnabled(GetDlgItem(window, IDC_OPEN));
        SendMessageA(GetDlgItem(window, IDCANCEL), BM_CLICK, 0, 0);
    }
    if (WaitForSingleObject(process.hProcess, 60000) == WAIT_OBJECT_0)
        GetExitCodeProcess(process.hProcess, &shown.status);
    else
        TerminateProcess(process.hProcess, 0xdeadbeef);
    return shown;
}

// A capture's comment lines without their ";" and a space, ended by CR LF as
// the window shows them; the rest of the file in `registry`.
static std::string comment_lines(const std::string &capture, std::string &registry)
{
    std::string comments;
    registry.clear();
    for (size_t start = 0, end; start < capture.size(); start = end) {
        end = std::min(capture.find('\n', start), capture.size() - 1) + 1;
        const std::string line = capture.substr(start, end - start);
        (line[0] == ';' ? comments : registry) += line[0] == ';' ? line.substr(line.compare(0, 2, "; ") ? 1 : 2) : line;
    }
    return comments;
}

// Makes `folder` read-only, as a CD-ROM or a read-only share is, or
// writable again. Root writes into a folder without write permission all
// the same, so it is made immutable too. Wine starts the Unix commands
// without a handle to wait for: the folder is tried until it refuses a
// file, or takes one.
static bool make_writable(const std::string &folder, bool writable)
{
    auto unix_name =
        (char *(CDECL *)(const WCHAR *))(void *)GetProcAddress(GetModuleHandleA("kernel32"), "wine_get_unix_file_name");
    WCHAR wide[MAX_PATH];
    MultiByteToWideChar(CP_ACP, 0, folder.c_str(), -1, wide, MAX_PATH);
    const UniqueHeap<char> name(unix_name ? unix_name(wide) : nullptr);
    const std::string quoted = std::string(" '") + (name ? name.get() : "") + "'";
    std::string command = writable ? "/bin/sh -c \"chattr -i" + quoted + " 2>/dev/null; chmod u+w" + quoted + "\""
                                   : "/bin/sh -c \"chmod a-w" + quoted + " && chattr +i" + quoted + " 2>/dev/null\"";
    STARTUPINFOA startup = {sizeof startup};
    PROCESS_INFORMATION process = {};
    if (!name ||
        !CreateProcessA(nullptr, &command[0], nullptr, nullptr, FALSE, 0, nullptr, nullptr, &startup, &process))
        return false;
    const UniqueHandle process_handle(process.hProcess), thread(process.hThread);
    const std::string probe = folder + "\\probe";
    for (int tries = 0; tries < 100; ++tries, Sleep(100)) {
        const bool created =
            (bool)UniqueFile(CreateFileA(probe.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW, 0, nullptr));
        if (created)
            DeleteFileA(probe.c_str());
        if (created == writable)
            return true;
    }
    return false;
}

// The *.reg files in a folder, and any capture left half-written.
static std::set<std::string> captures_in(const std::string &folder)
{
    std::set<std::string> found;
    for (const char *pattern : {"\\*.reg", "\\kxp*.tmp"})
        for (const std::string &name : kx::files_matching(folder + pattern))
            found.insert(folder + "\\" + name);
    return found;
}

namespace {

// A key of HKLM whose access list refuses everyone from now on, as Wine
// enforces, and grants all again as the guard goes; null for none.
class RefusedKey {
public:
    explicit RefusedKey(const char *path)
    {
        ACL empty;
        if (path && RegOpenKeyExA(HKEY_LOCAL_MACHINE, path, 0, WRITE_DAC, &key_) != ERROR_SUCCESS)
            key_ = nullptr;
        EXPECT_TRUE(!path || (key_ && InitializeAcl(&empty, sizeof empty, ACL_REVISION) && set(&empty))) << path;
    }
    ~RefusedKey() { EXPECT_TRUE(!key_ || (set(nullptr) && !RegCloseKey(key_))); }

private:
    bool set(ACL *acl)
    {
        SECURITY_DESCRIPTOR descriptor;
        return InitializeSecurityDescriptor(&descriptor, SECURITY_DESCRIPTOR_REVISION) &&
               SetSecurityDescriptorDacl(&descriptor, TRUE, acl, FALSE) &&
               RegSetKeySecurity(key_, DACL_SECURITY_INFORMATION, &descriptor) == ERROR_SUCCESS;
    }
    HKEY key_ = nullptr;
};

} // namespace

// A capture without who captured it when, and how long GetSystemID took,
// which no two runs share.
static std::string unstamped(std::string capture)
{
    const size_t by = capture.find("; Captured by ") + 14;
    capture.erase(by, capture.find(" under ", by) - by);
    for (size_t at = 0; (at = capture.find(" (took ", at)) != std::string::npos;)
        capture.erase(at, capture.find(')', at) + 1 - at);
    return capture;
}

// kxcapture run as a customer runs it, beside the DLL in a folder of its
// own: where the file goes, what the window says while it waits and at the
// end, that nothing is left when the capture fails, and that the file is
// kxprobe's and replays as the machine. Two captures make two files.
TEST_F(Kit, CaptureProgramSavesTheMachineAndSaysWhere)
{
    enum Saved { beside, temporary, windows_temporary, nowhere };
    static const char kPciKey[] = "Enum\\PCI\\VEN_1D5A&DEV_0412&SUBSYS_3F011D5A&REV_02\\BUS_01&DEV_00&FUNC_00";
    static const char kPci[] =
        "\nGetPCIInfo(0) = 7514 (1D5A): vendor ID of the live display adapter\r\n    live device";
    static const struct {
        const char *what;
        const char *dll;                        // installed as KXVozaDa.dll
        bool read_only, temp_read_only, helper; // TMP and TEMP name the program's folder; a slow Kxdodaze.exe
        const char *refused;                    // a key of HKLM that refuses reading
        Saved saved;
        DWORD status;
        const char *note, *after_folder; // the program's folder between them
        DWORD code;                      // Windows' words for it
        const char *after_code;
        const char *shows; // in the answers box
        int compared;      // answers that the replay finds the same, or -1 when some differ
    } rows[] = {
        {"beside the program", "KXVozaDa.dll", false, false, true, nullptr, beside, 0,
         "Capturing only reads this machine: nothing on it was changed.", "", 0, "", kPci, 7},
        {"read-only folder", "KXVozaDa.dll", true, false, false, nullptr, temporary, 0, "This program's folder, ",
         "\\, cannot be written, so the file was saved in the temporary folder: ", ERROR_ACCESS_DENIED, "", kPci, 7},
        // As Windows 95 answers GetTempPath without TMP and TEMP.
        {"read-only folder, temporary folder the same", "KXVozaDa.dll", true, true, false, nullptr, windows_temporary,
         0, "This program's folder, ",
         "\\, cannot be written, so the file was saved in the temporary folder: ", ERROR_ACCESS_DENIED, "", kPci, 7},
        {"no KXVozaDa.dll", nullptr, false, false, false, nullptr, beside, 1,
         "KXVozaDa.dll, which must be in the same folder as this program, does not load: ", "", ERROR_MOD_NOT_FOUND,
         " The file holds this machine's devices without their answers; please send it all the same.",
         "\nKXVozaDa.dll does not load: ", 0},
        {"a KXVozaDa.dll without every export", "kxpartial.dll", false, false, false, nullptr, beside, 1,
         "This KXVozaDa.dll does not answer every question: the lines below name those it lacks, and the file holds "
         "the answers it gave.",
         "", 0, "", "\n    does not export GetAudioCardID: not asked\r\n", -1},
        {"a device key refused", "KXVozaDa.dll", false, false, false, kPciKey, nowhere, 2,
         "Cannot capture HKEY_LOCAL_MACHINE\\Enum\\PCI\\VEN_1D5A&DEV_0412&SUBSYS_3F011D5A&REV_02\\BUS_01&DEV_00&"
         "FUNC_00: cannot open the key: ",
         "", ERROR_ACCESS_DENIED, "", nullptr, -1},
        {"a subtree refused", "KXVozaDa.dll", false, false, false, "Enum\\SCSI", nowhere, 2,
         "Cannot capture HKEY_LOCAL_MACHINE\\Enum\\SCSI: cannot open the key: ", "", ERROR_ACCESS_DENIED, "", nullptr,
         -1},
    };
    const std::string machine = kx::capture_profile(), replayed = kx::temp_path("kxcapture-replayed.reg");
    std::string temporary_folder = kx::temp_path(""), windows_folder(MAX_PATH, '\0');
    temporary_folder.pop_back();
    windows_folder.resize(GetWindowsDirectoryA(&windows_folder[0], MAX_PATH));
    for (const auto &row : rows) {
        SCOPED_TRACE(row.what);
        kx::TempCwd folder;
        ASSERT_TRUE(kx::install("kxcapture.exe"));
        if (row.dll)
            ASSERT_TRUE(kx::install(row.dll, "KXVozaDa.dll"));
        kx::StandIns stand_ins;
        if (row.helper) {
            stand_ins.kxdodaze(42, 1500);
            ASSERT_TRUE(kx::install("kxprobe.exe"));
        }
        // Nothing until the folder is writable again may end the test.
        EXPECT_TRUE(!row.read_only || make_writable(folder.path(), false)) << "cannot make the folder read-only";
        CaptureShown shown;
        {
            kx::Environment temporary;
            for (const char *variable : {"TMP", "TEMP"})
                temporary.set(variable, row.temp_read_only ? folder.path() : temporary_folder);
            RefusedKey refused(row.refused);
            shown = run_capture(folder.path());
        }
        EXPECT_TRUE(!row.read_only || make_writable(folder.path(), true));
        const bool saved = row.saved != nowhere;
        EXPECT_EQ(row.status, shown.status);
        EXPECT_EQ(saved ? "This machine was captured to the file:"
                        : "This machine could not be captured, and nothing was saved.",
                  shown[IDC_HEADING]);
        EXPECT_EQ(saved ? "Please send this file to support." : "Please tell support what this window says.",
                  shown[IDC_ADVICE]);
        EXPECT_EQ(row.note + (row.read_only ? folder.path() + row.after_folder : "") +
                      (row.code ? kx::windows_error(row.code) : "") + row.after_code,
                  shown[IDC_NOTE]);
        if (row.helper)
            EXPECT_EQ("Please wait: GetSystemID waits up to 8 seconds for Kxdodaze.exe and BIOSID.EXE of this folder.",
                      shown.waiting);
        EXPECT_TRUE(shown.answers_read_only);
        EXPECT_EQ(saved, shown.open_enabled);
        EXPECT_EQ(row.saved == beside ? 1u : 0u, captures_in(folder.path()).size());
        EXPECT_EQ(saved, !shown[IDC_PATH].empty());
        if (!saved)
            continue;
        // Which machine and when: NAME-2026-12-09-153005.reg.
        char name[MAX_COMPUTERNAME_LENGTH + 1];
        DWORD size = sizeof name;
        ASSERT_TRUE(GetComputerNameA(name, &size));
        const std::string &path = shown[IDC_PATH], file = path.substr(path.rfind('\\') + 1);
        const std::string expected_folder = row.saved == beside      ? folder.path()
                                            : row.saved == temporary ? temporary_folder
                                                                     : windows_folder + "\\TEMP";
        EXPECT_EQ(expected_folder, path.substr(0, path.rfind('\\')));
        EXPECT_TRUE(file.find(std::string(name) + "-2") == 0 && file.size() == size + 22) << file;
        // The box shows what the file's comments say, answers named.
        std::string registry;
        const std::string capture = kx::read_file(path), answers = comment_lines(capture, registry);
        EXPECT_EQ(answers, shown[IDC_ANSWERS]);
        EXPECT_TRUE(kx::contains(answers, "Captured by kxcapture "));
        EXPECT_TRUE(kx::contains(answers, row.shows));
        EXPECT_EQ(machine, registry);
        // kxprobe --capture writes the same file, but for who and when.
        if (row.helper) {
            EXPECT_EQ(0u, kx::run(folder.path() + "\\kxprobe.exe --capture probe.reg").status);
            const std::string probe = kx::read_file("probe.reg");
            EXPECT_EQ(unstamped(probe), unstamped(capture));
            EXPECT_TRUE(kx::contains(probe, "; Captured by kxprobe "));
            DeleteFileA("probe.reg");
        }
        profile_clear();
        const kx::Ran replay = kx::run_kxprobe("--profile \"" + path + "\" --capture " + replayed);
        EXPECT_EQ(0u, replay.status);
        EXPECT_TRUE(kx::contains(replay.text, ": captured by kxcapture "));
        if (row.compared >= 0)
            EXPECT_TRUE(kx::contains(replay.text, "\nthe replay answers as the captured machine did: " +
                                                      std::to_string(row.compared) + " answers compared\r\n"));
        comment_lines(kx::read_file(replayed), registry);
        EXPECT_EQ(machine, registry);
        DeleteFileA(replayed.c_str());
        if (row.saved == beside)
            EXPECT_NE(path, run_capture(folder.path())[IDC_PATH]);
        EXPECT_EQ(row.saved == beside ? 2u : 0u, captures_in(folder.path()).size());
        DeleteFileA(path.c_str());
    }
}
