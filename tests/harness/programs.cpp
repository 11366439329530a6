#include "harness/programs.h"

#include <tlhelp32.h>

#include <algorithm>
#include <cstring>
#include <fstream>
#include <iterator>

namespace kx {

// ", error N" of the calling thread's last error.
static std::string last_error()
{
    return ", error " + std::to_string(GetLastError());
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
    LONG status = existing
                      ? RegOpenKeyExA(root, path.c_str(), 0, KEY_SET_VALUE, key.put())
                      : RegCreateKeyExA(root, path.c_str(), 0, nullptr, 0, KEY_SET_VALUE, nullptr, key.put(), nullptr);
    if (status == ERROR_SUCCESS)
        status = RegSetValueExA(key.get(), name, 0, type, (const BYTE *)data.data(), (DWORD)data.size());
    if (status != ERROR_SUCCESS)
        harness_failure("cannot set " + path + " " + (name ? name : "(default)") + ", error " + std::to_string(status));
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

bool StandIns::kxdodaze(int code, int run_ms)
{
    environment_.set("KX_DODAZE_EXIT", std::to_string(code)).set("KX_DODAZE_RUN_MS", std::to_string(run_ms));
    return install("sysid\\Kxdodaze.exe");
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
        harness_failure(std::string("cannot write ") + output + last_error());
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
    ran.lines = lines(ran.text);
    return ran;
}

std::vector<std::string> lines(const std::string &text)
{
    std::vector<std::string> lines;
    for (size_t start = 0, end; start < text.size(); start = end + 1) {
        end = std::min(text.find('\n', start), text.size());
        const size_t cut = end > start && text[end - 1] == '\r' ? end - 1 : end;
        lines.push_back(text.substr(start, cut - start));
    }
    return lines;
}

Ran run_kxprobe(const std::string &args, const char *version)
{
    AppDefault as("kxprobe.exe", nullptr, "Version", version);
    return run("\"" + bin_dir() + "kxprobe.exe\" " + args);
}

std::string temp_path(const char *name)
{
    char directory[MAX_PATH];
    GetTempPathA(sizeof directory, directory);
    return directory + std::string(name);
}

void write_file(const std::string &path, const std::string &bytes)
{
    UniqueFile file(
        CreateFileA(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr));
    DWORD written = 0;
    if (!file || !WriteFile(file.get(), bytes.data(), (DWORD)bytes.size(), &written, nullptr) ||
        written != bytes.size() || !file.close())
        harness_failure("cannot write " + path + last_error());
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
    harness_failure("cannot copy " + from + " to " + to + last_error());
    return false;
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
    std::string path;
    bool made;
    do {
        path = std::string(temp) + "kxtest-" + std::to_string(GetCurrentProcessId()) + "-" + std::to_string(++serial);
        made = CreateDirectoryA(path.c_str(), nullptr);
    } while (!made && GetLastError() == ERROR_ALREADY_EXISTS);
    if (!made) {
        harness_failure("cannot make " + path + last_error());
        return;
    }
    if (!SetCurrentDirectoryA(path.c_str())) {
        harness_failure("cannot make " + path + " the current folder" + last_error());
        RemoveDirectoryA(path.c_str());
        return;
    }
    path_ = path;
}

TempCwd::~TempCwd()
{
    if (path_.empty())
        return;
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
