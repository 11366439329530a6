#include "harness/harness.h"

#include "profile/profile.h"
#include "profile/replay_text.h"
#include "harness/regedit_string.h"

#include <gtest/gtest.h>

#include <clocale>
#include <cstring>
#include <sstream>
#include <vector>

extern "C" int32_t kx_call_stdcall(const void *fn, const uint32_t *args, int count, int32_t *delta);

namespace kx {

void harness_failure(const std::string &message)
{
    ADD_FAILURE() << message;
}

Dll::Dll() : module_(LoadLibraryA("KXVozaDa.dll"))
{
    if (!module_)
        ADD_FAILURE() << "LoadLibraryA(\"KXVozaDa.dll\") failed, error " << GetLastError();
}

Dll::~Dll()
{
    if (module_ && !FreeLibrary(module_))
        ADD_FAILURE() << "FreeLibrary of KXVozaDa.dll failed, error " << GetLastError();
}

FARPROC Dll::proc(const char *name) const
{
    return module_ ? GetProcAddress(module_, name) : nullptr;
}

std::set<std::string> Dll::exports() const
{
    std::set<std::string> exports;
    const BYTE *base = (const BYTE *)module_;
    if (!base)
        return exports;
    auto *nt = (const IMAGE_NT_HEADERS32 *)(base + ((const IMAGE_DOS_HEADER *)base)->e_lfanew);
    const IMAGE_DATA_DIRECTORY &table = nt->OptionalHeader.DataDirectory[IMAGE_DIRECTORY_ENTRY_EXPORT];
    auto *directory = (const IMAGE_EXPORT_DIRECTORY *)(base + table.VirtualAddress);
    auto *names = (const DWORD *)(base + directory->AddressOfNames);
    for (DWORD i = 0; i < directory->NumberOfNames; ++i)
        exports.insert((const char *)(base + names[i]));
    return exports;
}

int32_t call_export(const Dll &dll, const char *name, std::initializer_list<uint32_t> args)
{
    FARPROC fn = dll.proc(name);
    if (!fn) {
        ADD_FAILURE() << name << " is not exported";
        return (int32_t)0xdeadbeef;
    }
    std::vector<uint32_t> list(args);
    int32_t delta = 0x7eadbeef;
    SetLastError(0xdeadbeef);
    int32_t result = kx_call_stdcall((const void *)fn, list.data(), (int)list.size(), &delta);
    DWORD last_error = GetLastError();
    EXPECT_EQ(0, delta) << name << " left the stack unbalanced by " << delta << " bytes";
    EXPECT_EQ(0xdeadbeefu, last_error) << name << " changed the caller's last error";
    return result;
}

Machine &Machine::key(const std::string &path)
{
    text_ += "\n[" + path + "]\n";
    return *this;
}

Machine &Machine::installed(const std::string &path)
{
    return key("HKEY_LOCAL_MACHINE\\Enum\\" + path);
}

Machine &Machine::device(const std::string &path, const char *cls, const char *description)
{
    return installed(path).value("Class", cls).value("DeviceDesc", description);
}

Machine &Machine::live_table()
{
    return key("HKEY_DYN_DATA\\Config Manager\\Enum");
}

Machine &Machine::live(const std::string &node, const char *hardware_key)
{
    return key("HKEY_DYN_DATA\\Config Manager\\Enum\\" + node).value("HardWareKey", hardware_key);
}

static bool written_as_is(const std::string &data)
{
    for (const char *kind : {"hex:", "hex(", "dword:"})
        if (data.compare(0, strlen(kind), kind) == 0)
            return true;
    return false;
}

Machine &Machine::value(const char *name, const char *data)
{
    if (data)
        text_ += quoted(name) + "=" + (written_as_is(data) ? data : quoted(data)) + "\n";
    return *this;
}

void load_machine(const std::string &profile)
{
    std::string error;
    ASSERT_TRUE(load_profile(profile, error)) << error << "\n" << profile;
}

void load_machine_file(const std::string &path)
{
    std::string error;
    ASSERT_TRUE(load_profile_file(path, error)) << error;
}

std::string live_node_key(unsigned long number)
{
    char name[kReplayNodeNameSize];
    replay_node_name(number, name);
    return "Config Manager\\Enum\\" + std::string(name);
}

bool load_profile_file(const std::string &path, std::string &error, unsigned long *skipped)
{
    char message[kProfileErrorSize];
    memset(message, 0xbd, sizeof message);
    const bool ok = profile_load(path.c_str(), message, skipped);
    error = message;
    return ok;
}

bool load_profile(const std::string &profile, std::string &error, unsigned long *skipped)
{
    const std::string path = temp_path("kxprofile_load.reg");
    write_file(path, profile);
    const bool ok = load_profile_file(path, error, skipped);
    if (error.compare(0, path.size() + 2, path + ": ") == 0)
        error.erase(0, path.size() + 2);
    DeleteFileA(path.c_str());
    return ok;
}

std::vector<DefExport> def_exports()
{
    std::vector<DefExport> exports;
    for (const std::string &line : lines(read_file(source_path("exports/KXVozaDa.def")))) {
        std::istringstream fields(line);
        std::string name, equals, target, ordinal;
        if (fields >> name >> equals >> target >> ordinal && equals == "=" && ordinal[0] == '@')
            exports.push_back({name, target, atoi(ordinal.c_str() + 1)});
    }
    if (exports.empty())
        ADD_FAILURE() << "no exports read from exports/KXVozaDa.def";
    return exports;
}

std::string windows_error(DWORD code)
{
    char words[512] = "";
    DWORD length = FormatMessageA(FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS, nullptr, code, 0, words,
                                  sizeof words, nullptr);
    std::string text(words, length);
    text.erase(text.find_last_not_of("\r\n ") + 1);
    return text + (text.empty() ? "" : " ") + "(error " + std::to_string(code) + ")";
}

std::string capture_profile()
{
    const std::string path = temp_path("kxprofile_capture.reg");
    char error[kProfileErrorSize];
    memset(error, 0xbd, sizeof error);
    if (!profile_capture(path.c_str(), error)) {
        ADD_FAILURE() << error;
        return "";
    }
    EXPECT_STREQ(error, "");
    const std::string text = read_file(path);
    DeleteFileA(path.c_str());
    return text;
}

std::string quoted(const std::string &text)
{
    StringOutput out;
    regedit_put_quoted(out.out, text.data(), text.size());
    regedit_finish(out.out);
    return out.text;
}

::testing::AssertionResult contains(const std::string &text, const std::string &part)
{
    if (text.find(part) != std::string::npos)
        return ::testing::AssertionSuccess();
    return ::testing::AssertionFailure() << "no \"" << part << "\" in:\n" << text;
}

CrtdllLocale::CrtdllLocale(const char *locale)
    : crtdll_(LoadLibraryA("crtdll.dll")),
      setlocale_((decltype(setlocale_))(void *)GetProcAddress(crtdll_, "setlocale"))
{
    auto upper = (int(__cdecl *)(int))(void *)GetProcAddress(crtdll_, "toupper");
    if (locale && (!setlocale_ || !upper || !setlocale_(LC_ALL, locale) || upper(0xe9) != 0xc9))
        ADD_FAILURE() << "CRTDLL cannot be set to the locale " << locale << " with 0xE9 upper-cased to 0xC9";
}

CrtdllLocale::~CrtdllLocale()
{
    if (setlocale_)
        setlocale_(LC_ALL, "C");
    FreeLibrary(crtdll_);
}

} // namespace kx
