// Loading and calling the real KXVozaDa.dll the way an installer does.
#pragma once

#include "base/unique.h"
#include "inventory/trace_window.h"

#include <windows.h>

#include <gtest/gtest.h>

#include <cstdint>
#include <initializer_list>
#include <set>
#include <string>
#include <vector>

namespace kx {

// KXVozaDa.dll loaded by name with LoadLibraryA and freed on scope exit;
// a test failure when either fails.
class Dll {
public:
    Dll();
    ~Dll();
    Dll(const Dll &) = delete;
    Dll &operator=(const Dll &) = delete;

    HMODULE module() const { return module_; }
    FARPROC proc(const char *name) const;
    // The names in the DLL's export table.
    std::set<std::string> exports() const;

private:
    HMODULE module_;
};

// A 32-bit argument for call_export.
inline uint32_t arg(const void *p)
{
    return (uint32_t)(uintptr_t)p;
}
inline uint32_t arg(int32_t v)
{
    return (uint32_t)v;
}

// Calls the export `name` as stdcall with the given 32-bit arguments and
// returns its result. Adds a test failure when the export is missing, when
// the stack pointer differs after the call (a wrong calling convention or
// argument count), or when the last error, 0xdeadbeef before the call, is
// not that after it.
int32_t call_export(const Dll &dll, const char *name, std::initializer_list<uint32_t> args = {});

// The folder of the running test program, which also holds the DLL and the
// helper programs; with a trailing backslash.
std::string bin_dir();

// A value as the registry holds it.
struct StoredValue {
    bool found = false;
    DWORD type = 0;
    std::string data;
};

// Whether the key `path` below `root` opens for reading.
bool key_exists(HKEY root, const std::string &path);

// The value `name` of the key `path` below `root`; not found when the key
// or the value is not there.
StoredValue stored_value(HKEY root, const std::string &path, const std::string &name);

// Sets the value `name` of the key `path` below `root` to `data` of the
// type `type`, as it stands: a text's terminator is part of `data`. The
// key is created unless `existing`, when it must already be there. A test
// failure when the registry refuses.
void set_value(HKEY root, const std::string &path, const char *name, DWORD type, const std::string &data,
               bool existing = false);

// A setting that Wine gives the program named `program` (such as
// "kxask.exe") when it starts, for the lifetime of the object: the value
// `name` = `data` of HKCU\Software\Wine\AppDefaults\<program>, or of its
// subkey `key` when that is not null ("DllOverrides"); nothing when `data`
// is null. Wine reads it once, as the program starts.
class AppDefault {
public:
    AppDefault(const char *program, const char *key, const char *name, const char *data);
    ~AppDefault();
    AppDefault(const AppDefault &) = delete;
    AppDefault &operator=(const AppDefault &) = delete;

private:
    std::string key_, subkey_;
    bool set_;
};

// Environment variables that the programs started from here inherit, set
// for the lifetime of the object; each comes back as it was afterwards.
class Environment {
public:
    Environment() = default;
    ~Environment();
    Environment(const Environment &) = delete;
    Environment &operator=(const Environment &) = delete;

    // `name` set to `value`, or removed when `value` is null.
    Environment &set(const char *name, const char *value);
    Environment &set(const char *name, const std::string &value) { return set(name, value.c_str()); }

private:
    struct Earlier {
        std::string name, value;
        bool was_set;
    };
    std::vector<Earlier> earlier_;
};

// The stand-ins for GetSystemID's helper programs (tests/helpers/), copied
// into the current folder and told through the environment what to do,
// for the lifetime of the object. BIOSID.EXE sets the event ready() once
// its file is in place. Stand-ins still running at the end are stopped, so
// that they neither keep the folder nor reach into the next test; then the
// environment comes back as it was.
class StandIns {
public:
    StandIns();
    ~StandIns();
    StandIns(const StandIns &) = delete;
    StandIns &operator=(const StandIns &) = delete;

    // Kxdodaze.exe, exiting with `code` after `run_ms`.
    void kxdodaze(int code, int run_ms = 0);
    // BIOSID.EXE, built as `built` below bin/ (not copied when null), which
    // writes `bytes` to BIOSID.TMP after `delay_ms` and keeps it open
    // `hold_ms` more.
    void biosid(const std::string &bytes, int delay_ms = 0, int hold_ms = 0, const char *built = "sysid\\BIOSID.EXE");
    // BIOSID.EXE, which writes no file.
    void silent_biosid();
    HANDLE ready() const { return ready_.get(); }
    bool wait_ready(DWORD ms) const { return WaitForSingleObject(ready_.get(), ms) == WAIT_OBJECT_0; }
    // The stand-ins that this process started and that still run, by name,
    // with their process identifiers in `ids` when given.
    static std::vector<std::string> running(std::vector<DWORD> *ids = nullptr);

private:
    UniqueHandle ready_;
    Environment environment_;
};

// Runs bin/<program> with the command-line tail `args` as the Windows
// version `version` (win95, win98, winme, winxp, win10), which Wine takes
// from HKCU\Software\Wine\AppDefaults\<program>\Version, and returns its
// exit code; 0xdeadbeef when it could not be started or did not end in
// 60 seconds.
DWORD run_as_version(const char *program, const char *version, const char *args);

// The command line `command` started in the current folder, with its
// standard output and error going to the file `output` when one is named;
// ended at the end of the object's life if it still runs.
class Started {
public:
    explicit Started(std::string command, const char *output = nullptr);
    ~Started();
    Started(const Started &) = delete;
    Started &operator=(const Started &) = delete;

    HANDLE process() const { return process_.get(); }
    bool running() const;
    // Its exit code once it has ended; 0xdeadbeef when it could not be
    // started or did not end in 60 seconds.
    DWORD wait();

private:
    UniqueHandle process_;
};

// Runs the command line `command` in the current folder with its standard
// output and error going to the file `output`, and returns its exit code;
// 0xdeadbeef when it could not be started or did not end in 60 seconds.
DWORD run_with_output(const std::string &command, const char *output);

// How a program ended and what it printed.
struct Ran {
    // Its exit code; 0xdeadbeef when it could not be started or did not
    // end in 60 seconds.
    DWORD status = 0xdeadbeef;
    // Its standard output and error, as written.
    std::string text;
    // The text cut at each LF, without that LF or a CR before it; a last
    // line without an LF counts.
    std::vector<std::string> lines;
};

// Runs the command line `command` in the current folder.
Ran run(const std::string &command);

// Runs bin/kxprobe.exe with the command-line tail `args` in the current
// folder, as the Windows version `version` when one is given.
Ran run_kxprobe(const std::string &args, const char *version = nullptr);

// A REGEDIT4 machine profile written key by key, for load_machine.
class Machine {
public:
    // [HKEY_LOCAL_MACHINE\Enum\<path>]
    Machine &installed(const std::string &path);
    // An installed device: that key with its Class and DeviceDesc.
    Machine &device(const std::string &path, const char *cls, const char *description);
    // [HKEY_DYN_DATA\Config Manager\Enum], the live-device table.
    Machine &live_table();
    // A node of the live-device table with its HardWareKey.
    Machine &live(const std::string &node, const char *hardware_key);
    Machine &live(const std::string &node, const std::string &hardware_key) { return live(node, hardware_key.c_str()); }
    // "name"=data in the last key: a hex list or dword as written, any other
    // text quoted as the profile's writer quotes it; nothing for null.
    Machine &value(const char *name, const char *data);
    Machine &value(const char *name, const std::string &data) { return value(name, data.c_str()); }
    const std::string &text() const { return text_; }

private:
    Machine &key(const std::string &path);
    std::string text_ = "REGEDIT4\n";
};

// Replaces the registry hardware tree with a REGEDIT4 machine profile,
// failing the test when the profile does not load.
void load_machine(const std::string &profile);
inline void load_machine(const Machine &machine)
{
    load_machine(machine.text());
}

// load_machine of the profile in the file `path`.
void load_machine_file(const std::string &path);

// The key below HKEY_DYN_DATA of the live node that a loaded profile lists
// `number`th, counted from 1, by the name that the replay gives it:
// "Config Manager\Enum\KX replay 00000001".
std::string live_node_key(unsigned long number);

// profile_load on the file `path`, its message in `error` and the keys it
// passed over in `skipped`, when given.
bool load_profile_file(const std::string &path, std::string &error, unsigned long *skipped = nullptr);

// Loads the REGEDIT4 text `profile` through a file in the temporary folder,
// as kxprobe --profile loads one; `error` is profile_load's message without
// that file's name ("line 7: ...").
bool load_profile(const std::string &profile, std::string &error, unsigned long *skipped = nullptr);

// Windows' own words for an error code and the code, as the profile and
// kxprobe report it: "Access is denied. (error 5)".
std::string windows_error(DWORD code);

// The hardware tree as profile_capture writes it; "" and a test failure
// when it cannot.
std::string capture_profile();

// `text` quoted as a REGEDIT4 string value.
std::string quoted(const std::string &text);

// Whether `text` holds `part`; the failure shows both.
::testing::AssertionResult contains(const std::string &text, const std::string &part);

// The whole contents of a file; empty when it does not open.
std::string read_file(const std::string &path);

// The names of the files and folders that `pattern` ("dir\\*.reg")
// matches, "." and ".." left out, in the order that Windows finds them.
std::vector<std::string> files_matching(const std::string &pattern);

// Writes `bytes` to the file `path`, failing the test when it cannot.
void write_file(const std::string &path, const std::string &bytes);

// The file `name` in the temporary folder, not the current one, which
// tests often fill with files of their own.
std::string temp_path(const char *name);

// A file of the source tree, by its path from the tree's root, as Wine's
// drive Z: reaches it.
inline std::string source_path(const std::string &relative)
{
    return "Z:" KX_SOURCE_DIR "/" + relative;
}

// Copies `built`, a program or library of the build by its path below
// bin/ ("sysid\\BIOSID.EXE"), to `to`, by default into the current folder
// under its own name. False, and a test failure, when it cannot.
bool install(const std::string &built, std::string to = "");

// kx::install for the lifetime of the object: the copy is deleted
// afterwards.
class Installed {
public:
    Installed(const std::string &built, const std::string &to) : to_(to) { install(built, to); }
    ~Installed() { DeleteFileA(to_.c_str()); }
    Installed(const Installed &) = delete;
    Installed &operator=(const Installed &) = delete;

private:
    std::string to_;
};

// The C runtime that the DLL imports, CRTDLL, set to `locale` (setlocale's
// LC_ALL) for the lifetime of the object, as a host program may set it; the
// classic locale when `locale` is null. A test failure when CRTDLL cannot
// be set to it, or when it does not then upper-case 0xE9 to 0xC9.
class CrtdllLocale {
public:
    explicit CrtdllLocale(const char *locale);
    ~CrtdllLocale();
    CrtdllLocale(const CrtdllLocale &) = delete;
    CrtdllLocale &operator=(const CrtdllLocale &) = delete;

private:
    HMODULE crtdll_;
    char *(__cdecl *setlocale_)(int, const char *);
};

// A fresh empty folder made current for the lifetime of the object; the
// previous current folder comes back and the folder is removed afterwards.
class TempCwd {
public:
    TempCwd();
    ~TempCwd();
    TempCwd(const TempCwd &) = delete;
    TempCwd &operator=(const TempCwd &) = delete;

    const std::string &path() const { return path_; }
    // Writes `bytes` to the file `name` inside the folder.
    void write(const char *name, const std::string &bytes) const;
    bool exists(const char *name) const;

private:
    std::string path_, previous_;
};

// A message-only window whose text is the trace of the routines that its
// sink is given to.
struct TraceWindow {
    HWND handle = CreateWindowExA(0, "STATIC", "", 0, 0, 0, 0, 0, HWND_MESSAGE, nullptr, nullptr, nullptr);
    const TraceSink sink = trace_window_sink(handle);
    TraceWindow() = default;
    TraceWindow(const TraceWindow &) = delete;
    TraceWindow &operator=(const TraceWindow &) = delete;
    ~TraceWindow() { DestroyWindow(handle); }
    std::string text() const
    {
        std::string text(16384, '\0');
        text.resize(GetWindowTextA(handle, &text[0], (int)text.size()));
        return text;
    }
};

} // namespace kx
