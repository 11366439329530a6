// Loading and calling the real KXVozaDa.dll the way an installer does.
#pragma once

#include "harness/programs.h"
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

// An export as exports/KXVozaDa.def lists it: "    IsWin95 = IsWin95@0 @10".
struct DefExport {
    std::string name;   // IsWin95
    std::string target; // IsWin95@0
    int ordinal;        // 10
};

// The exports of exports/KXVozaDa.def, in the order of its lines; a test
// failure when it lists none.
std::vector<DefExport> def_exports();

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

// A file of the source tree, by its path from the tree's root, as Wine's
// drive Z: reaches it.
inline std::string source_path(const std::string &relative)
{
    return "Z:" KX_SOURCE_DIR "/" + relative;
}

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
