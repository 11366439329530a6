#include "harness/harness.h"

#include "profile/profile.h"
#include "profile/replay_text.h"
#include "harness/regedit_string.h"

#include "base/unique.h"

#include <tlhelp32.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <clocale>
#include <cstring>
#include <fstream>
#include <iterator>
#include <vector>

extern "C" int32_t kx_call_stdcall(const void *fn, const uint32_t *args, int count, int32_t *delta);

namespace kx {

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

std::string bin_dir()
{
    char path[MAX_PATH];
    DWORD n = GetModuleFileNameA(nullptr, path, sizeof(path));
    std::string dir(path, n);
    return dir.substr(0, dir.find_last_of("\\/") + 1);
}

bool key_exists(HKEY root, const std::string &path)
{
    UniqueKey key;
    return RegOpenKeyExA(root, path.c_str(), 0, KEY_READ, key.put()) == ERROR_SUCCESS;
}

StoredValue stored_value(HKEY root, const std::string &path, const std::string &name)
{
    StoredValue stored;
    UniqueKey key;
    DWORD size = 0;
    if (RegOpenKeyExA(root, path.c_str(), 0, KEY_READ, key.put()) != ERROR_SUCCESS ||
        RegQueryValueExA(key.get(), name.c_str(), nullptr, &stored.type, nullptr, &size) != ERROR_SUCCESS)
        return stored;
    stored.data.resize(size + 1);
    stored.found = RegQueryValueExA(key.get(), name.c_str(), nullptr, &stored.type, (BYTE *)&stored.data[0], &size) ==
                   ERROR_SUCCESS;
    stored.data.resize(size);
    return stored;
}

void set_value(HKEY root, const std::string &path, const char *name, DWORD type, const std::string &data, bool existing)
{
    UniqueKey key;
    ASSERT_EQ(ERROR_SUCCESS,
              existing ? RegOpenKeyExA(root, path.c_str(), 0, KEY_SET_VALUE, key.put())
                       : RegCreateKeyExA(root, path.c_str(), 0, nullptr, 0, KEY_SET_VALUE, nullptr, key.put(), nullptr))
        << path;
    EXPECT_EQ(ERROR_SUCCESS, RegSetValueExA(key.get(), name, 0, type, (const BYTE *)data.data(), (DWORD)data.size()))
        << path << " " << name;
}

AppDefault::AppDefault(const char *program, const char *key, const char *name, const char *data)
    : key_(std::string("Software\\Wine\\AppDefaults\\") + program),
      subkey_(key ? key_ + "\\" + key : key_),
      set_(data != nullptr)
{
    if (set_)
        set_value(HKEY_CURRENT_USER, subkey_, name, REG_SZ, std::string(data) + '\0');
}

AppDefault::~AppDefault()
{
    if (set_ && !RegDeleteKeyA(HKEY_CURRENT_USER, subkey_.c_str()))
        RegDeleteKeyA(HKEY_CURRENT_USER, key_.c_str());
}

Environment::~Environment()
{
    for (auto earlier = earlier_.rbegin(); earlier != earlier_.rend(); ++earlier)
        SetEnvironmentVariableA(earlier->name.c_str(), earlier->was_set ? earlier->value.c_str() : nullptr);
}

Environment &Environment::set(const char *name, const char *value)
{
    std::string earlier(32767, '\0');
    SetLastError(0);
    const DWORD length = GetEnvironmentVariableA(name, &earlier[0], (DWORD)earlier.size());
    const bool was_set = length || GetLastError() != ERROR_ENVVAR_NOT_FOUND;
    earlier.resize(length < earlier.size() ? length : 0);
    earlier_.push_back({name, earlier, was_set});
    SetEnvironmentVariableA(name, value);
    return *this;
}

StandIns::StandIns()
{
    static unsigned serial;
    const std::string name =
        "kx-stand-ins-ready-" + std::to_string(GetCurrentProcessId()) + "-" + std::to_string(++serial);
    ready_.reset(CreateEventA(nullptr, TRUE, FALSE, name.c_str()));
    environment_.set("KX_BIOSID_READY", name);
}

StandIns::~StandIns()
{
    std::vector<DWORD> ids;
    running(&ids);
    for (DWORD id : ids) {
        const UniqueHandle process(OpenProcess(PROCESS_TERMINATE | SYNCHRONIZE, FALSE, id));
        if (process && TerminateProcess(process.get(), 1))
            WaitForSingleObject(process.get(), 5000);
    }
}

void StandIns::kxdodaze(int code, int run_ms)
{
    install("sysid\\Kxdodaze.exe");
    environment_.set("KX_DODAZE_EXIT", std::to_string(code)).set("KX_DODAZE_RUN_MS", std::to_string(run_ms));
}

void StandIns::biosid(const std::string &bytes, int delay_ms, int hold_ms, const char *built)
{
    static const char digits[] = "0123456789abcdef";
    std::string hex = "hex:";
    for (unsigned char c : bytes)
        hex += {digits[c >> 4], digits[c & 15]};
    if (built)
        install(built);
    environment_.set("KX_BIOSID_BYTES", hex)
        .set("KX_BIOSID_DELAY_MS", std::to_string(delay_ms))
        .set("KX_BIOSID_HOLD_MS", std::to_string(hold_ms));
}

void StandIns::silent_biosid()
{
    install("sysid\\BIOSID.EXE");
    environment_.set("KX_BIOSID_BYTES", nullptr);
}

std::vector<std::string> StandIns::running(std::vector<DWORD> *ids)
{
    std::vector<std::string> names;
    const UniqueHandle snapshot(CreateToolhelp32Snapshot(TH32CS_SNAPPROCESS, 0));
    PROCESSENTRY32 entry = {};
    entry.dwSize = sizeof(entry);
    for (BOOL more = Process32First(snapshot.get(), &entry); more; more = Process32Next(snapshot.get(), &entry)) {
        if (entry.th32ParentProcessID != GetCurrentProcessId())
            continue;
        for (const char *stand_in : {"Kxdodaze.exe", "BIOSID.EXE"}) {
            if (lstrcmpiA(entry.szExeFile, stand_in))
                continue;
            names.push_back(stand_in);
            if (ids)
                ids->push_back(entry.th32ProcessID);
        }
    }
    return names;
}

DWORD run_as_version(const char *program, const char *version, const char *args)
{
    AppDefault as(program, nullptr, "Version", version);
    return Started("\"" + bin_dir() + program + "\" " + args).wait();
}

// Wine closes the handles of a program that has ended a moment after its
// end is signalled, so the file that the last program wrote to may still
// be held; it is waited for, up to ten seconds.
static HANDLE create_output(const char *output)
{
    SECURITY_ATTRIBUTES inherit = {sizeof(inherit), nullptr, TRUE};
    for (int tries = 0;; ++tries) {
        HANDLE out = CreateFileA(output, GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                                 &inherit, CREATE_ALWAYS, 0, nullptr);
        if (out != INVALID_HANDLE_VALUE || GetLastError() != ERROR_SHARING_VIOLATION || tries == 100)
            return out;
        Sleep(100);
    }
}

Started::Started(std::string command, const char *output)
{
    STARTUPINFOA startup = {};
    startup.cb = sizeof(startup);
    const UniqueFile out(output ? create_output(output) : INVALID_HANDLE_VALUE);
    if (output && !out) {
        ADD_FAILURE() << "cannot write " << output << ", error " << GetLastError();
        return;
    }
    if (output) {
        startup.dwFlags = STARTF_USESTDHANDLES;
        startup.hStdOutput = startup.hStdError = out.get();
    }
    PROCESS_INFORMATION started;
    if (!CreateProcessA(nullptr, &command[0], nullptr, nullptr, output != nullptr, 0, nullptr, nullptr, &startup,
                        &started))
        return;
    CloseHandle(started.hThread);
    process_.reset(started.hProcess);
}

Started::~Started()
{
    if (process_ && WaitForSingleObject(process_.get(), 0) == WAIT_TIMEOUT)
        TerminateProcess(process_.get(), 0xdeadbeef);
}

bool Started::running() const
{
    return process_ && WaitForSingleObject(process_.get(), 0) == WAIT_TIMEOUT;
}

DWORD Started::wait()
{
    DWORD code = 0xdeadbeef;
    if (process_ && WaitForSingleObject(process_.get(), 60000) == WAIT_OBJECT_0)
        GetExitCodeProcess(process_.get(), &code);
    return code;
}

DWORD run_with_output(const std::string &command, const char *output)
{
    return Started(command, output).wait();
}

Ran run(const std::string &command)
{
    // A program that opens a window starts Wine's desktop process, which
    // keeps the program's output open for some seconds after the program
    // ends. The output is shared for writing, so the next run can open it
    // again, and each run here writes a file of its own, which is deleted
    // while that copy is still open.
    static unsigned serial;
    const std::string name = "kxrun-" + std::to_string(GetCurrentProcessId()) + "-" + std::to_string(++serial) + ".txt";
    const std::string printed = temp_path(name.c_str());
    Ran ran;
    ran.status = run_with_output(command, printed.c_str());
    ran.text = read_file(printed);
    DeleteFileA(printed.c_str());
    for (size_t start = 0, end; start < ran.text.size(); start = end + 1) {
        end = std::min(ran.text.find('\n', start), ran.text.size());
        const size_t cut = end > start && ran.text[end - 1] == '\r' ? end - 1 : end;
        ran.lines.push_back(ran.text.substr(start, cut - start));
    }
    return ran;
}

Ran run_kxprobe(const std::string &args, const char *version)
{
    AppDefault as("kxprobe.exe", nullptr, "Version", version);
    return run("\"" + bin_dir() + "kxprobe.exe\" " + args);
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

std::string temp_path(const char *name)
{
    char directory[MAX_PATH];
    GetTempPathA(sizeof directory, directory);
    return directory + std::string(name);
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

void write_file(const std::string &path, const std::string &bytes)
{
    HANDLE file = CreateFileA(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
    ASSERT_NE(INVALID_HANDLE_VALUE, file) << path;
    DWORD written = 0;
    WriteFile(file, bytes.data(), (DWORD)bytes.size(), &written, nullptr);
    CloseHandle(file);
    EXPECT_EQ(bytes.size(), written) << path;
}

::testing::AssertionResult contains(const std::string &text, const std::string &part)
{
    if (text.find(part) != std::string::npos)
        return ::testing::AssertionSuccess();
    return ::testing::AssertionFailure() << "no \"" << part << "\" in:\n" << text;
}

std::string read_file(const std::string &path)
{
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

std::vector<std::string> files_matching(const std::string &pattern)
{
    std::vector<std::string> names;
    WIN32_FIND_DATAA found;
    const UniqueFind find(FindFirstFileA(pattern.c_str(), &found));
    for (bool more = (bool)find; more; more = FindNextFileA(find.get(), &found))
        if (strcmp(found.cFileName, ".") && strcmp(found.cFileName, ".."))
            names.push_back(found.cFileName);
    return names;
}

bool install(const std::string &built, std::string to)
{
    if (to.empty())
        to = built.substr(built.find_last_of('\\') + 1);
    const std::string from = bin_dir() + built;
    if (CopyFileA(from.c_str(), to.c_str(), FALSE))
        return true;
    ADD_FAILURE() << "cannot copy " << from << " to " << to << ", error " << GetLastError();
    return false;
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

static void remove_tree(const std::string &dir)
{
    for (const std::string &name : files_matching(dir + "\\*")) {
        const std::string path = dir + "\\" + name;
        if (GetFileAttributesA(path.c_str()) & FILE_ATTRIBUTE_DIRECTORY)
            remove_tree(path);
        else
            DeleteFileA(path.c_str());
    }
    RemoveDirectoryA(dir.c_str());
}

TempCwd::TempCwd()
{
    static unsigned serial;
    char temp[MAX_PATH], current[MAX_PATH];
    GetTempPathA(sizeof(temp), temp);
    GetCurrentDirectoryA(sizeof(current), current);
    previous_ = current;
    // A folder left by an earlier run of the same process number is
    // passed over; any other failure would repeat forever.
    for (;;) {
        path_ = std::string(temp) + "kxtest-" + std::to_string(GetCurrentProcessId()) + "-" + std::to_string(++serial);
        if (CreateDirectoryA(path_.c_str(), nullptr))
            break;
        if (GetLastError() != ERROR_ALREADY_EXISTS) {
            ADD_FAILURE() << "cannot make " << path_ << ", error " << GetLastError();
            return;
        }
    }
    SetCurrentDirectoryA(path_.c_str());
}

TempCwd::~TempCwd()
{
    SetCurrentDirectoryA(previous_.c_str());
    remove_tree(path_);
}

void TempCwd::write(const char *name, const std::string &bytes) const
{
    write_file(path_ + "\\" + name, bytes);
}

bool TempCwd::exists(const char *name) const
{
    return GetFileAttributesA((path_ + "\\" + name).c_str()) != INVALID_FILE_ATTRIBUTES;
}

} // namespace kx
