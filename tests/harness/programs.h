// Running the project's programs and their stand-ins from a test or from
// kxbench: files, folders, registry values, environment and child processes.
// Nothing here needs GoogleTest, so kxbench links this half alone.
#pragma once

#include "base/unique.h"

#include <windows.h>

#include <string>
#include <vector>

namespace kx {

// Where a routine here reports what went wrong. Each program defines it
// once: the tests as a GoogleTest failure (harness.cpp), kxbench as a line
// on its standard error.
void harness_failure(const std::string &message);

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
// key is created unless `existing`, when it must already be there. A failure
// (harness_failure) when the registry refuses.
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

    // Kxdodaze.exe, exiting with `code` after `run_ms`; false when it
    // could not be copied.
    bool kxdodaze(int code, int run_ms = 0);
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
    // lines(text).
    std::vector<std::string> lines;
};

// `text` cut at each LF, without that LF or a CR before it; a last line
// without an LF counts.
std::vector<std::string> lines(const std::string &text);

// Runs the command line `command` in the current folder.
Ran run(const std::string &command);

// Runs bin/kxprobe.exe with the command-line tail `args` in the current
// folder, as the Windows version `version` when one is given.
Ran run_kxprobe(const std::string &args, const char *version = nullptr);

// The whole contents of a file; empty when it does not open.
std::string read_file(const std::string &path);

// The names of the files and folders that `pattern` ("dir\\*.reg")
// matches, "." and ".." left out, in the order that Windows finds them.
std::vector<std::string> files_matching(const std::string &pattern);

// Writes `bytes` to the file `path`; a failure when it cannot.
void write_file(const std::string &path, const std::string &bytes);

// The file `name` in the temporary folder, not the current one, which
// tests often fill with files of their own.
std::string temp_path(const char *name);

// Copies `built`, a program or library of the build by its path below
// bin/ ("sysid\\BIOSID.EXE"), to `to`, by default into the current folder
// under its own name. False, and a failure, when it cannot.
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

// A fresh empty folder made current for the lifetime of the object; the
// previous current folder comes back and the folder is removed afterwards.
// A failure, and an empty path(), when the folder cannot be made or made
// current; then nothing is removed and the current folder stays.
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

} // namespace kx
