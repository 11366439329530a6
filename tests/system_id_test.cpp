// GetSystemID with real helper processes in a temporary current folder.
// The DLL's own pauses and waits are cut short through its imports, so
// only two tests here wait the full seconds.
#include "base/unique.h"
#include "harness/harness.h"
#include "harness/ledger.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <memory>
#include <string>
#include <vector>

namespace {

// A temporary current folder for one call, with the stand-ins that are
// told to run in it; they are stopped before the folder is removed.
struct HelperFolder : kx::TempCwd, kx::StandIns { };

// A faster clock for the DLL: each pause and wait that it asks for is
// recorded and lasts for real at most `real_cap` ms. A pause also ends as
// soon as BIOSID.EXE has its file in place.
struct FastClock {
    DWORD real_cap;
    HANDLE ready;
    std::vector<DWORD> pauses, waits;
    kx::Hook<decltype(&Sleep)> sleep;
    kx::Hook<decltype(&WaitForSingleObject)> wait;

    FastClock(const kx::Dll &dll, const HelperFolder &folder, DWORD cap)
        : real_cap(cap),
          ready(folder.ready()),
          sleep(dll.module(), "KERNEL32.dll", "Sleep",
                [this](DWORD ms) {
                    pauses.push_back(ms);
                    WaitForSingleObject(ready, std::min(ms, real_cap));
                }),
          wait(dll.module(), "KERNEL32.dll", "WaitForSingleObject", [this](HANDLE handle, DWORD ms) {
              waits.push_back(ms);
              return wait.original()(handle, std::min(ms, real_cap));
          })
    { }
};

} // namespace

// A quoted command line whose program lies in the current folder, in
// whatever form it names that folder, with the folder shown as
// <current folder>.
static std::string shown(std::string command)
{
    char current[MAX_PATH], folder[MAX_PATH];
    size_t slash = command.rfind('\\');
    if (command[0] != '"' || slash == std::string::npos || !GetCurrentDirectoryA(sizeof(current), current))
        return command;
    DWORD length = GetLongPathNameA(command.substr(1, slash - 1).c_str(), folder, sizeof(folder));
    if (length && length < sizeof(folder) && !lstrcmpiA(folder, current))
        command.replace(1, slash - 1, "<current folder>");
    return command;
}

namespace {

// What the DLL passed to CreateProcessA and WinExec, and what they
// answered; each call is passed on.
struct Starts {
    std::vector<std::string> seen;
    std::vector<UINT> results;
    kx::Hook<decltype(&CreateProcessA)> create;
    kx::Hook<decltype(&WinExec)> exec;

    explicit Starts(const kx::Dll &dll)
        : create(dll.module(), "KERNEL32.dll", "CreateProcessA",
                 [this](LPCSTR app, LPSTR command, LPSECURITY_ATTRIBUTES ps, LPSECURITY_ATTRIBUTES ts, BOOL inherit,
                        DWORD flags, LPVOID env, LPCSTR dir, LPSTARTUPINFOA startup, LPPROCESS_INFORMATION info) {
                     auto given = [](const void *p) { return p ? "given" : "null"; };
                     char text[256];
                     snprintf(text, sizeof(text),
                              "CreateProcessA %s command=%s security=%s/%s inherit=%d flags=%#lx "
                              "environment=%s folder=%s cb=%lu flags=%#lx show=%u",
                              app ? app : "(null)", command ? command : "null", given(ps), given(ts), inherit, flags,
                              given(env), given(dir), startup->cb, startup->dwFlags, startup->wShowWindow);
                     seen.push_back(text);
                     BOOL result = create.original()(app, command, ps, ts, inherit, flags, env, dir, startup, info);
                     results.push_back(result);
                     return result;
                 }),
          exec(dll.module(), "KERNEL32.dll", "WinExec", [this](LPCSTR command, UINT show) {
              seen.push_back("WinExec " + shown(command) + " show=" + std::to_string(show));
              UINT result = exec.original()(command, show);
              results.push_back(result);
              return result;
          })
    { }
};

} // namespace

const char kStartFirst[] =
    "CreateProcessA Kxdodaze.exe command=null security=null/null inherit=0 flags=0x20 "
    "environment=null folder=null cb=68 flags=0x1 show=0";
const char kStartSecond[] = "WinExec \"<current folder>\\BIOSID.EXE\" show=0";

TEST(GetSystemID, AnswersWithTheExitCodeUnlessItIsNoAnswer)
{
    static const struct {
        int exit_code, expected;
        bool fallback;
    } rows[] = {
        {12, 12, false},
        {-1, -1, false},
        {1, 1, false},
        {0, 70, true},
        {259, 70, true},
        // What a helper that crashes on an access violation exits with.
        {(int)0xC0000005, (int)0xC0000005, false},
    };
    for (const auto &row : rows) {
        SCOPED_TRACE("exit code " + std::to_string(row.exit_code));
        HelperFolder folder;
        folder.kxdodaze(row.exit_code);
        folder.biosid("Gateway");
        kx::Dll dll;
        kx::Watched watched(dll.module());
        Starts starts(dll);
        FastClock clock(dll, folder, INFINITE);

        EXPECT_EQ(row.expected, kx::call_export(dll, "GetSystemID"));
        std::vector<std::string> started = {kStartFirst};
        if (row.fallback)
            started.push_back(kStartSecond);
        EXPECT_EQ(started, starts.seen);
        EXPECT_EQ(std::vector<DWORD>{4000}, clock.waits);
        EXPECT_EQ(std::vector<DWORD>(row.fallback ? 1 : 0, 1000), clock.pauses);
        EXPECT_FALSE(folder.exists("BIOSID.TMP"));
    }
}

TEST(GetSystemID, FallsBackWhenTheExitCodeCannotBeHad)
{
    // The exit code is asked for only once the wait saw the helper end: a
    // helper that is still running would report STILL_ACTIVE, or an exit
    // code it sets later.
    static const struct {
        const char *name;
        const char *failing, *mode;
        DWORD real_cap;
        bool left_running;
        int exit_code_reads;
    } rows[] = {
        {"helper outlives the wait", nullptr, "", 0, true, 0},
        {"wait fails", "WaitForSingleObject", "WAIT_FAILED", INFINITE, true, 0},
        {"wait reports a time-out", "WaitForSingleObject", "WAIT_TIMEOUT", INFINITE, true, 0},
        {"exit code unreadable", "GetExitCodeProcess", "", INFINITE, false, 1},
        {"helper cannot start", "CreateProcessA", "", INFINITE, false, 0},
    };
    for (const auto &row : rows) {
        SCOPED_TRACE(row.name);
        HelperFolder folder;
        folder.kxdodaze(12, row.left_running ? 3000 : 0);
        kx::Dll dll;
        kx::Watched watched(dll.module());
        if (row.failing)
            watched.ledger.fail(row.failing, 0, row.mode);
        FastClock clock(dll, folder, row.real_cap);

        // BIOSID.EXE is absent, so the fallback ends at once with 0.
        EXPECT_EQ(0, kx::call_export(dll, "GetSystemID"));
        EXPECT_EQ(1, watched.ledger.count("CreateProcessA"));
        EXPECT_EQ(1, watched.ledger.count("WinExec"));
        EXPECT_EQ(row.exit_code_reads, watched.ledger.count("GetExitCodeProcess"));
        EXPECT_TRUE(clock.pauses.empty());
        EXPECT_EQ(std::vector<std::string>(row.left_running ? 1 : 0, "Kxdodaze.exe"), kx::StandIns::running());
    }
}

TEST(GetSystemID, BothHelpersAbsentAnswersAtOnce)
{
    kx::TempCwd cwd;
    kx::Dll dll;
    kx::Watched watched(dll.module());
    Starts starts(dll);

    DWORD start = GetTickCount();
    EXPECT_EQ(0, kx::call_export(dll, "GetSystemID"));
    DWORD took = GetTickCount() - start;
    EXPECT_LT(took, 500u);
    EXPECT_EQ(0, watched.ledger.count("Sleep"));
    EXPECT_EQ(0, watched.ledger.count("CreateFileA"));
    EXPECT_EQ((std::vector<UINT>{FALSE, ERROR_FILE_NOT_FOUND}), starts.results);
}

static std::string system_folder()
{
    char folder[MAX_PATH];
    return std::string(folder, GetSystemDirectoryA(folder, sizeof(folder))) + "\\";
}

namespace {

// The current folder: the temporary one, or a folder made in it whose path
// holds spaces, also one so long that BIOSID.EXE's whole path in it is
// MAX_PATH - 1 characters, the longest that a program's can be (Wine starts
// none from a longer one, even by its short form).
enum CurrentFolder { kTemporary, kWithSpaces, kLongest };

} // namespace

// BIOSID.EXE is taken from the current folder and nowhere else, whatever
// its path, and whatever kind of program it is: a program of that name
// beside the installer, on PATH or in the system folder is not started,
// and when the start fails nothing is waited for.
TEST(GetSystemID, StartsBiosidFromTheCurrentFolderOnly)
{
    const std::string on_path = kx::temp_path("kx-on-path\\");
    char path[32768];
    path[GetEnvironmentVariableA("PATH", path, sizeof(path))] = 0;
    CreateDirectoryA(on_path.c_str(), nullptr);
    kx::Environment environment;
    environment.set("PATH", on_path + ";" + path);
    const struct {
        const char *name;
        std::string elsewhere; // a folder that holds a BIOSID.EXE too
        bool in_current_folder;
        CurrentFolder current;
        bool windowed, start_fails;
        int expected;
        size_t polls;
    } rows[] = {
        {"in the current folder", "", true, kTemporary, false, false, 70, 1},
        {"beside the calling program only", kx::bin_dir(), false, kTemporary, false, false, 0, 0},
        {"on PATH only", on_path, false, kTemporary, false, false, 0, 0},
        {"in the system folder only", system_folder(), false, kTemporary, false, false, 0, 0},
        {"in the current folder, start fails", "", true, kTemporary, false, true, 0, 0},
        {"current folder with spaces", "", true, kWithSpaces, false, false, 70, 1},
        {"current folder of the longest path", "", true, kLongest, false, false, 70, 1},
        // WinExec waits for a windowed program until it is idle or has
        // ended, in a process that has USER32, as an installer has; this
        // one ends once its file is written, after the DLL's pauses, cut to
        // nothing here, would have ended.
        {"windowed, file written late", "", true, kTemporary, true, false, 70, 1},
    };
    for (const auto &row : rows) {
        SCOPED_TRACE(row.name);
        // Declared before the HelperFolder, whose end stops any helper
        // still running.
        std::unique_ptr<kx::Installed> planted(
            row.elsewhere.empty() ? nullptr : new kx::Installed("sysid\\BIOSID.EXE", row.elsewhere + "BIOSID.EXE"));
        HelperFolder folder;
        std::string current = folder.path() + "\\a folder with spaces";
        current.resize(row.current == kLongest ? MAX_PATH - 1 - strlen("\\BIOSID.EXE") : current.size(), 'x');
        if (row.current != kTemporary)
            ASSERT_TRUE(CreateDirectoryA(current.c_str(), nullptr) && SetCurrentDirectoryA(current.c_str()));
        folder.biosid("Gateway", row.windowed ? 500 : 0, 0,
                      !row.in_current_folder ? nullptr
                      : row.windowed         ? "sysid\\windowed\\BIOSID.EXE"
                                             : "sysid\\BIOSID.EXE");
        // An installer is a windowed program; the DLL imports nothing of
        // USER32, nor does this test program.
        UniqueModule user32(row.windowed ? LoadLibraryA("user32.dll") : nullptr);
        kx::Dll dll;
        kx::Watched watched(dll.module());
        if (row.start_fails)
            watched.ledger.fail("WinExec", 0, "31");
        Starts starts(dll);
        FastClock clock(dll, folder, row.windowed ? 0 : INFINITE);

        EXPECT_EQ(row.expected, kx::call_export(dll, "GetSystemID"));
        EXPECT_EQ((std::vector<std::string>{kStartFirst, kStartSecond}), starts.seen);
        EXPECT_EQ(std::vector<DWORD>(row.polls, 1000), clock.pauses);
        EXPECT_EQ((int)row.polls, watched.ledger.count("CreateFileA"));
    }
    RemoveDirectoryA(on_path.c_str());
}

TEST(GetSystemID, LooksForTheMakerInTheFirst511Bytes)
{
    static const std::string pad504(504, '.'), pad505(505, '.');
    static const struct {
        const char *name;
        std::string bytes;
        int expected;
        const char *failing;
    } rows[] = {
        {"Gateway", "Gateway", 70, nullptr},
        {"GATEWAY", "BIOS: GATEWAY 2000\r\n", 70, nullptr},
        {"small letters", "gateway", 0, nullptr},
        {"mixed letters", "GateWay GATEway", 0, nullptr},
        {"ends at byte 511", pad504 + "Gateway", 70, nullptr},
        {"ends past byte 511", pad505 + "Gateway", 0, nullptr},
        {"long file, name early", "Gateway" + pad505 + pad505, 70, nullptr},
        {"NUL before the name", std::string("maker\0Gateway", 13), 0, nullptr},
        {"empty file", "", 0, nullptr},
        {"other maker", "Acme Computers", 0, nullptr},
        {"read fails", "Gateway", 0, "ReadFile"},
        {"delete fails", "GATEWAY", 70, "DeleteFileA"},
    };
    for (const auto &row : rows) {
        SCOPED_TRACE(row.name);
        HelperFolder folder;
        folder.biosid(row.bytes);
        kx::Dll dll;
        kx::Watched watched(dll.module());
        if (row.failing)
            watched.ledger.fail(row.failing);
        FastClock clock(dll, folder, INFINITE);

        EXPECT_EQ(row.expected, kx::call_export(dll, "GetSystemID"));
        EXPECT_EQ(std::vector<DWORD>{1000}, clock.pauses);
        EXPECT_EQ(row.failing && !strcmp(row.failing, "DeleteFileA"), folder.exists("BIOSID.TMP"));
        // The file is closed before it is deleted.
        const auto &calls = watched.ledger.calls();
        auto close = std::find(calls.begin(), calls.end(), "CloseHandle");
        EXPECT_NE(calls.end(), std::find(close, calls.end(), "DeleteFileA"));
    }
}

TEST(GetSystemID, ResultFileTooLateOrStillOpen)
{
    static const struct {
        const char *name;
        int delay_ms, hold_ms;
        DWORD real_cap;
    } rows[] = {
        {"written after the fourth poll", 500, 0, 0},
        {"held open for writing throughout", 0, 10000, INFINITE},
    };
    for (const auto &row : rows) {
        SCOPED_TRACE(row.name);
        HelperFolder folder;
        folder.biosid("Gateway", row.delay_ms, row.hold_ms);
        kx::Dll dll;
        kx::Watched watched(dll.module());
        FastClock clock(dll, folder, row.real_cap);

        EXPECT_EQ(0, kx::call_export(dll, "GetSystemID"));
        EXPECT_EQ(std::vector<DWORD>(4, 1000), clock.pauses);
        EXPECT_EQ(4, watched.ledger.count("CreateFileA"));
        EXPECT_EQ(0, watched.ledger.count("DeleteFileA"));
        EXPECT_TRUE(folder.wait_ready(10000));
        EXPECT_TRUE(folder.exists("BIOSID.TMP"));
    }
}

TEST(GetSystemID, StaleResultFileIsReadOnTheFirstPollAndDeleted)
{
    HelperFolder folder;
    folder.silent_biosid();
    folder.write("BIOSID.TMP", "GATEWAY");
    kx::Dll dll;
    kx::Watched watched(dll.module());
    FastClock clock(dll, folder, INFINITE);

    EXPECT_EQ(70, kx::call_export(dll, "GetSystemID"));
    EXPECT_EQ(std::vector<DWORD>{1000}, clock.pauses);
    EXPECT_FALSE(folder.exists("BIOSID.TMP"));
}

// Real time from here on: the DLL's imports are left alone.
static DWORD timed_system_id(int32_t expected)
{
    DWORD start = GetTickCount();
    kx::Dll dll;
    EXPECT_EQ(expected, kx::call_export(dll, "GetSystemID"));
    return GetTickCount() - start;
}

TEST(GetSystemID, HelperOutlivingTheWaitIsLeftRunning)
{
    HelperFolder folder;
    folder.kxdodaze(12, 8000);
    folder.biosid("Gateway");

    DWORD took = timed_system_id(70);
    EXPECT_GE(took, 4900u);
    EXPECT_LT(took, 7000u);
    EXPECT_EQ(std::vector<std::string>{"Kxdodaze.exe"}, kx::StandIns::running());
    EXPECT_FALSE(folder.exists("BIOSID.TMP"));
}

TEST(GetSystemID, ResultFileNeverWrittenTakesFourPauses)
{
    HelperFolder folder;
    folder.kxdodaze(0);
    folder.silent_biosid();

    DWORD took = timed_system_id(0);
    EXPECT_GE(took, 3900u);
    EXPECT_LT(took, 6000u);
}
