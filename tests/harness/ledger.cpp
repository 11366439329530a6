#include "harness/ledger.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <cstring>
#include <sstream>

namespace kx {

void Ledger::fail(const char *function, int occurrence, const char *mode)
{
    failing_[function] = {occurrence, mode};
}

const std::vector<std::string> &Ledger::failure_modes(const std::string &function) const
{
    static const std::vector<std::string> none;
    auto it = modes_.find(function);
    return it == modes_.end() ? none : it->second;
}

int Ledger::count(const char *function) const
{
    auto it = seen_.find(function);
    return it == seen_.end() ? 0 : it->second;
}

int Ledger::enter(const char *function, std::initializer_list<const char *> modes)
{
    // Windows' calls may change the last error, also when they succeed.
    SetLastError(ERROR_INVALID_FUNCTION);
    calls_.push_back(function);
    modes_[function].assign(modes.begin(), modes.end());
    int index = seen_[function]++;
    auto it = failing_.find(function);
    if (it == failing_.end() || it->second.occurrence != index)
        return 0;
    if (it->second.mode.empty())
        return 1;
    for (size_t m = 0; m < modes.size(); ++m)
        if (it->second.mode == modes.begin()[m])
            return (int)m + 1;
    faults_.push_back(std::string(function) + " cannot fail as \"" + it->second.mode + "\"");
    return 0;
}

static std::string describe(char sign, const std::string &kind, const void *handle)
{
    char text[64];
    snprintf(text, sizeof(text), "%c%s %p", sign, kind.c_str(), handle);
    return text;
}

void Ledger::acquire(const char *kind, const void *handle)
{
    held_.push_back({kind, handle});
    events_.push_back(describe('+', kind, handle));
}

void Ledger::release(const char *kind, const void *handle)
{
    std::string event = describe('-', kind, handle);
    events_.push_back(event);
    for (size_t i = held_.size(); i-- > 0;) {
        if (held_[i].kind != kind || held_[i].handle != handle)
            continue;
        if (i + 1 != held_.size())
            faults_.push_back(event + " released before " + describe('+', held_.back().kind, held_.back().handle));
        held_.erase(held_.begin() + i);
        return;
    }
    faults_.push_back(event + " was not held (released twice, or never acquired)");
}

std::string Ledger::problems() const
{
    std::ostringstream out;
    for (const auto &fault : faults_)
        out << fault << "\n";
    for (const auto &held : held_)
        out << describe('+', held.kind, held.handle) << " never released\n";
    return out.str();
}

// Each hook names the ways its function can fail, in the order that
// Ledger::enter numbers them. A release function that fails has still
// released: Windows reports a close of a stale handle after the fact.

static LONG hook_RegOpenKeyExA(Ledger &ledger, decltype(&RegOpenKeyExA) real, HKEY parent, LPCSTR name, DWORD options,
                               REGSAM access, PHKEY key)
{
    switch (ledger.enter("RegOpenKeyExA", {"ERROR_FILE_NOT_FOUND", "ERROR_ACCESS_DENIED"})) {
    case 1:
        return ERROR_FILE_NOT_FOUND;
    case 2:
        return ERROR_ACCESS_DENIED;
    }
    LONG status = real(parent, name, options, access, key);
    if (status == ERROR_SUCCESS)
        ledger.acquire("key", *key);
    return status;
}

static LONG hook_RegCloseKey(Ledger &ledger, decltype(&RegCloseKey) real, HKEY key)
{
    int failure = ledger.enter("RegCloseKey", {"error after closing"});
    ledger.release("key", key);
    LONG status = real(key);
    return failure ? ERROR_INVALID_HANDLE : status;
}

// Fills what a failing call may leave in a caller's buffer: no terminator.
static void scribble(void *buffer, LPDWORD size)
{
    if (buffer && size)
        memset(buffer, 0xbd, *size);
}

static LONG hook_RegEnumKeyExA(Ledger &ledger, decltype(&RegEnumKeyExA) real, HKEY key, DWORD index, LPSTR name,
                               LPDWORD length, LPDWORD reserved, LPSTR cls, LPDWORD cls_length, PFILETIME written)
{
    switch (ledger.enter("RegEnumKeyExA", {"ERROR_ACCESS_DENIED", "ERROR_MORE_DATA", "ERROR_NO_MORE_ITEMS"})) {
    case 1:
        return ERROR_ACCESS_DENIED;
    case 2:
        scribble(name, length);
        return ERROR_MORE_DATA;
    case 3:
        return ERROR_NO_MORE_ITEMS;
    }
    return real(key, index, name, length, reserved, cls, cls_length, written);
}

static LONG hook_RegQueryValueExA(Ledger &ledger, decltype(&RegQueryValueExA) real, HKEY key, LPCSTR name,
                                  LPDWORD reserved, LPDWORD type, LPBYTE data, LPDWORD size)
{
    switch (ledger.enter("RegQueryValueExA", {"ERROR_FILE_NOT_FOUND", "ERROR_MORE_DATA"})) {
    case 1:
        return ERROR_FILE_NOT_FOUND;
    case 2:
        scribble(data, size);
        if (size)
            *size = *size * 2 + 1;
        return ERROR_MORE_DATA;
    }
    return real(key, name, reserved, type, data, size);
}

static HANDLE hook_CreateFileA(Ledger &ledger, decltype(&CreateFileA) real, LPCSTR name, DWORD access, DWORD share,
                               LPSECURITY_ATTRIBUTES security, DWORD disposition, DWORD flags, HANDLE pattern)
{
    if (ledger.enter("CreateFileA", {"INVALID_HANDLE_VALUE"})) {
        SetLastError(ERROR_FILE_NOT_FOUND);
        return INVALID_HANDLE_VALUE;
    }
    HANDLE file = real(name, access, share, security, disposition, flags, pattern);
    if (file != INVALID_HANDLE_VALUE)
        ledger.acquire("handle", file);
    return file;
}

static BOOL hook_ReadFile(Ledger &ledger, decltype(&ReadFile) real, HANDLE file, LPVOID buffer, DWORD size,
                          LPDWORD read, LPOVERLAPPED overlapped)
{
    switch (ledger.enter("ReadFile", {"FALSE", "short read", "nothing read"})) {
    case 1:
        SetLastError(ERROR_READ_FAULT);
        return FALSE;
    case 2:
        return real(file, buffer, size / 2, read, overlapped);
    case 3:
        *read = 0;
        return TRUE;
    }
    return real(file, buffer, size, read, overlapped);
}

static BOOL hook_CloseHandle(Ledger &ledger, decltype(&CloseHandle) real, HANDLE handle)
{
    int failure = ledger.enter("CloseHandle", {"FALSE after closing"});
    ledger.release("handle", handle);
    BOOL ok = real(handle);
    return failure ? FALSE : ok;
}

// The process handle counts as taken after the thread handle, so that
// closing the process first is closing in reverse order.
static BOOL hook_CreateProcessA(Ledger &ledger, decltype(&CreateProcessA) real, LPCSTR app, LPSTR command,
                                LPSECURITY_ATTRIBUTES process_security, LPSECURITY_ATTRIBUTES thread_security,
                                BOOL inherit, DWORD flags, LPVOID environment, LPCSTR dir, LPSTARTUPINFOA startup,
                                LPPROCESS_INFORMATION info)
{
    if (ledger.enter("CreateProcessA", {"FALSE"})) {
        SetLastError(ERROR_FILE_NOT_FOUND);
        return FALSE;
    }
    BOOL ok = real(app, command, process_security, thread_security, inherit, flags, environment, dir, startup, info);
    if (ok) {
        ledger.acquire("handle", info->hThread);
        ledger.acquire("handle", info->hProcess);
    }
    return ok;
}

static HMODULE hook_LoadLibraryA(Ledger &ledger, decltype(&LoadLibraryA) real, LPCSTR name)
{
    if (ledger.enter("LoadLibraryA", {"null"})) {
        SetLastError(ERROR_MOD_NOT_FOUND);
        return nullptr;
    }
    HMODULE module = real(name);
    if (module)
        ledger.acquire("module", module);
    return module;
}

static FARPROC hook_GetProcAddress(Ledger &ledger, decltype(&GetProcAddress) real, HMODULE module, LPCSTR name)
{
    if (ledger.enter("GetProcAddress", {"null"})) {
        SetLastError(ERROR_PROC_NOT_FOUND);
        return nullptr;
    }
    return real(module, name);
}

static BOOL hook_FreeLibrary(Ledger &ledger, decltype(&FreeLibrary) real, HMODULE module)
{
    int failure = ledger.enter("FreeLibrary", {"FALSE after freeing"});
    ledger.release("module", module);
    BOOL ok = real(module);
    return failure ? FALSE : ok;
}

static LPVOID hook_HeapAlloc(Ledger &ledger, decltype(&HeapAlloc) real, HANDLE heap, DWORD flags, SIZE_T size)
{
    if (ledger.enter("HeapAlloc", {"null"}))
        return nullptr;
    LPVOID block = real(heap, flags, size);
    if (block)
        ledger.acquire("heap", block);
    return block;
}

static BOOL hook_HeapFree(Ledger &ledger, decltype(&HeapFree) real, HANDLE heap, DWORD flags, LPVOID block)
{
    int failure = ledger.enter("HeapFree", {"FALSE after freeing"});
    ledger.release("heap", block);
    BOOL ok = real(heap, flags, block);
    return failure ? FALSE : ok;
}

static BOOL hook_GetVersionExA(Ledger &ledger, decltype(&GetVersionExA) real, LPOSVERSIONINFOA info)
{
    if (ledger.enter("GetVersionExA", {"FALSE"}))
        return FALSE;
    return real(info);
}

static DWORD hook_WaitForSingleObject(Ledger &ledger, decltype(&WaitForSingleObject) real, HANDLE handle, DWORD timeout)
{
    switch (ledger.enter("WaitForSingleObject", {"WAIT_FAILED", "WAIT_TIMEOUT"})) {
    case 1:
        return WAIT_FAILED;
    case 2:
        return WAIT_TIMEOUT;
    }
    return real(handle, timeout);
}

static BOOL hook_GetExitCodeProcess(Ledger &ledger, decltype(&GetExitCodeProcess) real, HANDLE process, LPDWORD code)
{
    switch (ledger.enter("GetExitCodeProcess", {"FALSE", "STILL_ACTIVE"})) {
    case 1:
        return FALSE;
    case 2:
        *code = STILL_ACTIVE;
        return TRUE;
    }
    return real(process, code);
}

static void hook_Sleep(Ledger &ledger, decltype(&Sleep) real, DWORD ms)
{
    ledger.enter("Sleep");
    real(ms);
}

static BOOL hook_DeleteFileA(Ledger &ledger, decltype(&DeleteFileA) real, LPCSTR name)
{
    if (ledger.enter("DeleteFileA"))
        return FALSE;
    return real(name);
}

static DWORD hook_GetFileType(Ledger &ledger, decltype(&GetFileType) real, HANDLE file)
{
    static const DWORD kTypes[] = {0, FILE_TYPE_UNKNOWN, FILE_TYPE_CHAR, FILE_TYPE_PIPE};
    int failure = ledger.enter("GetFileType", {"FILE_TYPE_UNKNOWN", "FILE_TYPE_CHAR", "FILE_TYPE_PIPE"});
    return failure ? kTypes[failure] : real(file);
}

// A path that does not fit is answered with the size it needs.
static DWORD hook_GetShortPathNameA(Ledger &ledger, decltype(&GetShortPathNameA) real, LPCSTR path, LPSTR short_path,
                                    DWORD size)
{
    int failure = ledger.enter("GetShortPathNameA", {"0", "longer than the buffer"});
    return failure == 2 ? size + 1 : failure ? 0 : real(path, short_path, size);
}

// 31 and below: not started.
static UINT hook_WinExec(Ledger &ledger, decltype(&WinExec) real, LPCSTR command, UINT show)
{
    static const UINT kFailures[] = {0, 0, ERROR_FILE_NOT_FOUND, 31};
    int failure = ledger.enter("WinExec", {"0", "ERROR_FILE_NOT_FOUND", "31"});
    return failure ? kFailures[failure] : real(command, show);
}

static FILE *hook_fopen(Ledger &ledger, decltype(&fopen) real, const char *name, const char *mode)
{
    if (ledger.enter("fopen", {"null"}))
        return nullptr;
    FILE *stream = real(name, mode);
    if (stream)
        ledger.acquire("stream", stream);
    return stream;
}

static int hook_fclose(Ledger &ledger, decltype(&fclose) real, FILE *stream)
{
    int failure = ledger.enter("fclose", {"EOF after closing"});
    ledger.release("stream", stream);
    int status = real(stream);
    return failure ? EOF : status;
}

// A line cut short, its first eight characters, is what a line longer
// than the caller's buffer gives: the rest of it comes with the next call.
static char *hook_fgets(Ledger &ledger, decltype(&fgets) real, char *line, int size, FILE *stream)
{
    switch (ledger.enter("fgets", {"null", "line cut short"})) {
    case 1:
        return nullptr;
    case 2:
        return real(line, size > 9 ? 9 : size, stream);
    }
    return real(line, size, stream);
}

// Points dll!function at `hook` for the life of `hooks`; `hook` is given
// the ledger and the function it replaces before the import's arguments.
template <class R, class Fn, class... A>
static void add(std::vector<std::shared_ptr<void>> &hooks, HMODULE module, const char *dll, const char *function,
                Ledger &ledger, R (*hook)(Ledger &, Fn, A...))
{
    auto real = std::make_shared<Fn>();
    auto patch = std::make_shared<Hook<Fn>>(module, dll, function,
                                            [&ledger, real, hook](A... args) { return hook(ledger, *real, args...); });
    if (!patch->applied())
        return;
    *real = patch->original();
    hooks.push_back(std::move(patch));
}

#define KX_HOOK(dll, fn) add(hooks_, module, dll, #fn, ledger, hook_##fn)

ResourceHooks::ResourceHooks(HMODULE module, Ledger &ledger)
{
    KX_HOOK("ADVAPI32.dll", RegOpenKeyExA);
    KX_HOOK("ADVAPI32.dll", RegCloseKey);
    KX_HOOK("ADVAPI32.dll", RegEnumKeyExA);
    KX_HOOK("ADVAPI32.dll", RegQueryValueExA);
    KX_HOOK("KERNEL32.dll", CreateFileA);
    KX_HOOK("KERNEL32.dll", ReadFile);
    KX_HOOK("KERNEL32.dll", CloseHandle);
    KX_HOOK("KERNEL32.dll", CreateProcessA);
    KX_HOOK("KERNEL32.dll", LoadLibraryA);
    KX_HOOK("KERNEL32.dll", GetProcAddress);
    KX_HOOK("KERNEL32.dll", FreeLibrary);
    KX_HOOK("KERNEL32.dll", HeapAlloc);
    KX_HOOK("KERNEL32.dll", HeapFree);
    KX_HOOK("KERNEL32.dll", GetVersionExA);
    KX_HOOK("KERNEL32.dll", WaitForSingleObject);
    KX_HOOK("KERNEL32.dll", GetExitCodeProcess);
    KX_HOOK("KERNEL32.dll", Sleep);
    KX_HOOK("KERNEL32.dll", DeleteFileA);
    KX_HOOK("KERNEL32.dll", GetFileType);
    KX_HOOK("KERNEL32.dll", GetShortPathNameA);
    KX_HOOK("KERNEL32.dll", WinExec);
    KX_HOOK("CRTDLL.dll", fopen);
    KX_HOOK("CRTDLL.dll", fclose);
    KX_HOOK("CRTDLL.dll", fgets);
}

Watched::~Watched()
{
    EXPECT_EQ("", ledger.problems());
}

} // namespace kx
