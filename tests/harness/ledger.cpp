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

// The hooks reach the ledger of the one live ResourceHooks through this.
static Ledger *g_ledger;

#define KX_REAL(fn) static decltype(&fn) real_##fn

KX_REAL(RegOpenKeyExA);
KX_REAL(RegCloseKey);
KX_REAL(RegEnumKeyExA);
KX_REAL(RegQueryValueExA);
KX_REAL(CreateFileA);
KX_REAL(ReadFile);
KX_REAL(CloseHandle);
KX_REAL(CreateProcessA);
KX_REAL(LoadLibraryA);
KX_REAL(GetProcAddress);
KX_REAL(FreeLibrary);
KX_REAL(HeapAlloc);
KX_REAL(HeapFree);
KX_REAL(GetVersionExA);
KX_REAL(WaitForSingleObject);
KX_REAL(GetExitCodeProcess);
KX_REAL(Sleep);
KX_REAL(DeleteFileA);
KX_REAL(GetFileType);
KX_REAL(GetShortPathNameA);
KX_REAL(WinExec);
static FILE *(__cdecl *real_fopen)(const char *, const char *);
static int(__cdecl *real_fclose)(FILE *);
static char *(__cdecl *real_fgets)(char *, int, FILE *);

// Each hook names the ways its function can fail, in the order that
// Ledger::enter numbers them. A release function that fails has still
// released: Windows reports a close of a stale handle after the fact.

static LONG WINAPI hook_RegOpenKeyExA(HKEY parent, LPCSTR name, DWORD options, REGSAM access, PHKEY key)
{
    switch (g_ledger->enter("RegOpenKeyExA", {"ERROR_FILE_NOT_FOUND", "ERROR_ACCESS_DENIED"})) {
    case 1:
        return ERROR_FILE_NOT_FOUND;
    case 2:
        return ERROR_ACCESS_DENIED;
    }
    LONG status = real_RegOpenKeyExA(parent, name, options, access, key);
    if (status == ERROR_SUCCESS)
        g_ledger->acquire("key", *key);
    return status;
}

static LONG WINAPI hook_RegCloseKey(HKEY key)
{
    int failure = g_ledger->enter("RegCloseKey", {"error after closing"});
    g_ledger->release("key", key);
    LONG status = real_RegCloseKey(key);
    return failure ? ERROR_INVALID_HANDLE : status;
}

// Fills what a failing call may leave in a caller's buffer: no terminator.
static void scribble(void *buffer, LPDWORD size)
{
    if (buffer && size)
        memset(buffer, 0xbd, *size);
}

static LONG WINAPI hook_RegEnumKeyExA(HKEY key, DWORD index, LPSTR name, LPDWORD length, LPDWORD reserved, LPSTR cls,
                                      LPDWORD cls_length, PFILETIME written)
{
    switch (g_ledger->enter("RegEnumKeyExA", {"ERROR_ACCESS_DENIED", "ERROR_MORE_DATA", "ERROR_NO_MORE_ITEMS"})) {
    case 1:
        return ERROR_ACCESS_DENIED;
    case 2:
        scribble(name, length);
        return ERROR_MORE_DATA;
    case 3:
        return ERROR_NO_MORE_ITEMS;
    }
    return real_RegEnumKeyExA(key, index, name, length, reserved, cls, cls_length, written);
}

static LONG WINAPI hook_RegQueryValueExA(HKEY key, LPCSTR name, LPDWORD reserved, LPDWORD type, LPBYTE data,
                                         LPDWORD size)
{
    switch (g_ledger->enter("RegQueryValueExA", {"ERROR_FILE_NOT_FOUND", "ERROR_MORE_DATA"})) {
    case 1:
        return ERROR_FILE_NOT_FOUND;
    case 2:
        scribble(data, size);
        if (size)
            *size = *size * 2 + 1;
        return ERROR_MORE_DATA;
    }
    return real_RegQueryValueExA(key, name, reserved, type, data, size);
}

static HANDLE WINAPI hook_CreateFileA(LPCSTR name, DWORD access, DWORD share, LPSECURITY_ATTRIBUTES security,
                                      DWORD disposition, DWORD flags, HANDLE pattern)
{
    if (g_ledger->enter("CreateFileA", {"INVALID_HANDLE_VALUE"})) {
        SetLastError(ERROR_FILE_NOT_FOUND);
        return INVALID_HANDLE_VALUE;
    }
    HANDLE file = real_CreateFileA(name, access, share, security, disposition, flags, pattern);
    if (file != INVALID_HANDLE_VALUE)
        g_ledger->acquire("handle", file);
    return file;
}

static BOOL WINAPI hook_ReadFile(HANDLE file, LPVOID buffer, DWORD size, LPDWORD read, LPOVERLAPPED overlapped)
{
    switch (g_ledger->enter("ReadFile", {"FALSE", "short read", "nothing read"})) {
    case 1:
        SetLastError(ERROR_READ_FAULT);
        return FALSE;
    case 2:
        return real_ReadFile(file, buffer, size / 2, read, overlapped);
    case 3:
        *read = 0;
        return TRUE;
    }
    return real_ReadFile(file, buffer, size, read, overlapped);
}

static BOOL WINAPI hook_CloseHandle(HANDLE handle)
{
    int failure = g_ledger->enter("CloseHandle", {"FALSE after closing"});
    g_ledger->release("handle", handle);
    BOOL ok = real_CloseHandle(handle);
    return failure ? FALSE : ok;
}

// The process handle counts as taken after the thread handle, so that
// closing the process first is closing in reverse order.
static BOOL WINAPI hook_CreateProcessA(LPCSTR app, LPSTR command, LPSECURITY_ATTRIBUTES process_security,
                                       LPSECURITY_ATTRIBUTES thread_security, BOOL inherit, DWORD flags,
                                       LPVOID environment, LPCSTR dir, LPSTARTUPINFOA startup,
                                       LPPROCESS_INFORMATION info)
{
    if (g_ledger->enter("CreateProcessA", {"FALSE"})) {
        SetLastError(ERROR_FILE_NOT_FOUND);
        return FALSE;
    }
    BOOL ok = real_CreateProcessA(app, command, process_security, thread_security, inherit, flags, environment, dir,
                                  startup, info);
    if (ok) {
        g_ledger->acquire("handle", info->hThread);
        g_ledger->acquire("handle", info->hProcess);
    }
    return ok;
}

static HMODULE WINAPI hook_LoadLibraryA(LPCSTR name)
{
    if (g_ledger->enter("LoadLibraryA", {"null"})) {
        SetLastError(ERROR_MOD_NOT_FOUND);
        return nullptr;
    }
    HMODULE module = real_LoadLibraryA(name);
    if (module)
        g_ledger->acquire("module", module);
    return module;
}

static FARPROC WINAPI hook_GetProcAddress(HMODULE module, LPCSTR name)
{
    if (g_ledger->enter("GetProcAddress", {"null"})) {
        SetLastError(ERROR_PROC_NOT_FOUND);
        return nullptr;
    }
    return real_GetProcAddress(module, name);
}

static BOOL WINAPI hook_FreeLibrary(HMODULE module)
{
    int failure = g_ledger->enter("FreeLibrary", {"FALSE after freeing"});
    g_ledger->release("module", module);
    BOOL ok = real_FreeLibrary(module);
    return failure ? FALSE : ok;
}

static LPVOID WINAPI hook_HeapAlloc(HANDLE heap, DWORD flags, SIZE_T size)
{
    if (g_ledger->enter("HeapAlloc", {"null"}))
        return nullptr;
    LPVOID block = real_HeapAlloc(heap, flags, size);
    if (block)
        g_ledger->acquire("heap", block);
    return block;
}

static BOOL WINAPI hook_HeapFree(HANDLE heap, DWORD flags, LPVOID block)
{
    int failure = g_ledger->enter("HeapFree", {"FALSE after freeing"});
    g_ledger->release("heap", block);
    BOOL ok = real_HeapFree(heap, flags, block);
    return failure ? FALSE : ok;
}

static BOOL WINAPI hook_GetVersionExA(LPOSVERSIONINFOA info)
{
    if (g_ledger->enter("GetVersionExA", {"FALSE"}))
        return FALSE;
    return real_GetVersionExA(info);
}

static DWORD WINAPI hook_WaitForSingleObject(HANDLE handle, DWORD timeout)
{
    switch (g_ledger->enter("WaitForSingleObject", {"WAIT_FAILED", "WAIT_TIMEOUT"})) {
    case 1:
        return WAIT_FAILED;
    case 2:
        return WAIT_TIMEOUT;
    }
    return real_WaitForSingleObject(handle, timeout);
}

static BOOL WINAPI hook_GetExitCodeProcess(HANDLE process, LPDWORD code)
{
    switch (g_ledger->enter("GetExitCodeProcess", {"FALSE", "STILL_ACTIVE"})) {
    case 1:
        return FALSE;
    case 2:
        *code = STILL_ACTIVE;
        return TRUE;
    }
    return real_GetExitCodeProcess(process, code);
}

static void WINAPI hook_Sleep(DWORD ms)
{
    g_ledger->enter("Sleep");
    real_Sleep(ms);
}

static BOOL WINAPI hook_DeleteFileA(LPCSTR name)
{
    if (g_ledger->enter("DeleteFileA"))
        return FALSE;
    return real_DeleteFileA(name);
}

static DWORD WINAPI hook_GetFileType(HANDLE file)
{
    static const DWORD kTypes[] = {0, FILE_TYPE_UNKNOWN, FILE_TYPE_CHAR, FILE_TYPE_PIPE};
    int failure = g_ledger->enter("GetFileType", {"FILE_TYPE_UNKNOWN", "FILE_TYPE_CHAR", "FILE_TYPE_PIPE"});
    return failure ? kTypes[failure] : real_GetFileType(file);
}

// A path that does not fit is answered with the size it needs.
static DWORD WINAPI hook_GetShortPathNameA(LPCSTR path, LPSTR short_path, DWORD size)
{
    int failure = g_ledger->enter("GetShortPathNameA", {"0", "longer than the buffer"});
    return failure == 2 ? size + 1 : failure ? 0 : real_GetShortPathNameA(path, short_path, size);
}

// 31 and below: not started.
static UINT WINAPI hook_WinExec(LPCSTR command, UINT show)
{
    static const UINT kFailures[] = {0, 0, ERROR_FILE_NOT_FOUND, 31};
    int failure = g_ledger->enter("WinExec", {"0", "ERROR_FILE_NOT_FOUND", "31"});
    return failure ? kFailures[failure] : real_WinExec(command, show);
}

static FILE *__cdecl hook_fopen(const char *name, const char *mode)
{
    if (g_ledger->enter("fopen", {"null"}))
        return nullptr;
    FILE *stream = real_fopen(name, mode);
    if (stream)
        g_ledger->acquire("stream", stream);
    return stream;
}

static int __cdecl hook_fclose(FILE *stream)
{
    int failure = g_ledger->enter("fclose", {"EOF after closing"});
    g_ledger->release("stream", stream);
    int status = real_fclose(stream);
    return failure ? EOF : status;
}

// A line cut short, its first eight characters, is what a line longer
// than the caller's buffer gives: the rest of it comes with the next call.
static char *__cdecl hook_fgets(char *line, int size, FILE *stream)
{
    switch (g_ledger->enter("fgets", {"null", "line cut short"})) {
    case 1:
        return nullptr;
    case 2:
        return real_fgets(line, size > 9 ? 9 : size, stream);
    }
    return real_fgets(line, size, stream);
}

struct Hook {
    const char *dll, *function;
    const void *replacement;
    void **real;
};

#define KX_HOOK(dll, fn)                                       \
    {                                                          \
        dll, #fn, (const void *)hook_##fn, (void **)&real_##fn \
    }

static const Hook kHooks[] = {
    KX_HOOK("ADVAPI32.dll", RegOpenKeyExA),
    KX_HOOK("ADVAPI32.dll", RegCloseKey),
    KX_HOOK("ADVAPI32.dll", RegEnumKeyExA),
    KX_HOOK("ADVAPI32.dll", RegQueryValueExA),
    KX_HOOK("KERNEL32.dll", CreateFileA),
    KX_HOOK("KERNEL32.dll", ReadFile),
    KX_HOOK("KERNEL32.dll", CloseHandle),
    KX_HOOK("KERNEL32.dll", CreateProcessA),
    KX_HOOK("KERNEL32.dll", LoadLibraryA),
    KX_HOOK("KERNEL32.dll", GetProcAddress),
    KX_HOOK("KERNEL32.dll", FreeLibrary),
    KX_HOOK("KERNEL32.dll", HeapAlloc),
    KX_HOOK("KERNEL32.dll", HeapFree),
    KX_HOOK("KERNEL32.dll", GetVersionExA),
    KX_HOOK("KERNEL32.dll", WaitForSingleObject),
    KX_HOOK("KERNEL32.dll", GetExitCodeProcess),
    KX_HOOK("KERNEL32.dll", Sleep),
    KX_HOOK("KERNEL32.dll", DeleteFileA),
    KX_HOOK("KERNEL32.dll", GetFileType),
    KX_HOOK("KERNEL32.dll", GetShortPathNameA),
    KX_HOOK("KERNEL32.dll", WinExec),
    KX_HOOK("CRTDLL.dll", fopen),
    KX_HOOK("CRTDLL.dll", fclose),
    KX_HOOK("CRTDLL.dll", fgets),
};

ResourceHooks::ResourceHooks(HMODULE dll, Ledger &ledger)
{
    g_ledger = &ledger;
    for (const Hook &hook : kHooks) {
        auto patch = std::make_unique<ImportPatch>(dll, hook.dll, hook.function, hook.replacement);
        if (!patch->applied())
            continue;
        *hook.real = patch->original<void *>();
        patches_.push_back(std::move(patch));
    }
}

ResourceHooks::~ResourceHooks()
{
    patches_.clear();
    g_ledger = nullptr;
}

Watched::~Watched()
{
    EXPECT_EQ("", ledger.problems());
}

} // namespace kx
