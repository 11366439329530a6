#include "harness/ledger.h"

#include <cstdio>
#include <sstream>

namespace kx {

void Ledger::fail(const char *function, int occurrence)
{
    failing_[function] = occurrence;
}

int Ledger::count(const char *function) const
{
    auto it = seen_.find(function);
    return it == seen_.end() ? 0 : it->second;
}

bool Ledger::enter(const char *function)
{
    calls_.push_back(function);
    int index = seen_[function]++;
    auto it = failing_.find(function);
    return it != failing_.end() && it->second == index;
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
KX_REAL(WinExec);
KX_REAL(Sleep);
KX_REAL(DeleteFileA);
static FILE *(__cdecl *real_fopen)(const char *, const char *);
static int(__cdecl *real_fclose)(FILE *);
static char *(__cdecl *real_fgets)(char *, int, FILE *);

static LONG WINAPI hook_RegOpenKeyExA(HKEY parent, LPCSTR name, DWORD options, REGSAM access, PHKEY key)
{
    if (g_ledger->enter("RegOpenKeyExA"))
        return ERROR_FILE_NOT_FOUND;
    LONG status = real_RegOpenKeyExA(parent, name, options, access, key);
    if (status == ERROR_SUCCESS)
        g_ledger->acquire("key", *key);
    return status;
}

static LONG WINAPI hook_RegCloseKey(HKEY key)
{
    g_ledger->enter("RegCloseKey");
    g_ledger->release("key", key);
    return real_RegCloseKey(key);
}

static LONG WINAPI hook_RegEnumKeyExA(HKEY key, DWORD index, LPSTR name, LPDWORD length, LPDWORD reserved,
                                      LPSTR cls, LPDWORD cls_length, PFILETIME written)
{
    if (g_ledger->enter("RegEnumKeyExA"))
        return ERROR_ACCESS_DENIED;
    return real_RegEnumKeyExA(key, index, name, length, reserved, cls, cls_length, written);
}

static LONG WINAPI hook_RegQueryValueExA(HKEY key, LPCSTR name, LPDWORD reserved, LPDWORD type, LPBYTE data,
                                         LPDWORD size)
{
    if (g_ledger->enter("RegQueryValueExA"))
        return ERROR_FILE_NOT_FOUND;
    return real_RegQueryValueExA(key, name, reserved, type, data, size);
}

static HANDLE WINAPI hook_CreateFileA(LPCSTR name, DWORD access, DWORD share, LPSECURITY_ATTRIBUTES security,
                                      DWORD disposition, DWORD flags, HANDLE pattern)
{
    if (g_ledger->enter("CreateFileA"))
        return INVALID_HANDLE_VALUE;
    HANDLE file = real_CreateFileA(name, access, share, security, disposition, flags, pattern);
    if (file != INVALID_HANDLE_VALUE)
        g_ledger->acquire("handle", file);
    return file;
}

static BOOL WINAPI hook_ReadFile(HANDLE file, LPVOID buffer, DWORD size, LPDWORD read, LPOVERLAPPED overlapped)
{
    if (g_ledger->enter("ReadFile"))
        return FALSE;
    return real_ReadFile(file, buffer, size, read, overlapped);
}

static BOOL WINAPI hook_CloseHandle(HANDLE handle)
{
    g_ledger->enter("CloseHandle");
    g_ledger->release("handle", handle);
    return real_CloseHandle(handle);
}

// The process handle counts as taken after the thread handle, so that
// closing the process first is closing in reverse order.
static BOOL WINAPI hook_CreateProcessA(LPCSTR app, LPSTR command, LPSECURITY_ATTRIBUTES process_security,
                                       LPSECURITY_ATTRIBUTES thread_security, BOOL inherit, DWORD flags,
                                       LPVOID environment, LPCSTR dir, LPSTARTUPINFOA startup,
                                       LPPROCESS_INFORMATION info)
{
    if (g_ledger->enter("CreateProcessA"))
        return FALSE;
    BOOL ok = real_CreateProcessA(app, command, process_security, thread_security, inherit, flags, environment,
                                  dir, startup, info);
    if (ok) {
        g_ledger->acquire("handle", info->hThread);
        g_ledger->acquire("handle", info->hProcess);
    }
    return ok;
}

static HMODULE WINAPI hook_LoadLibraryA(LPCSTR name)
{
    if (g_ledger->enter("LoadLibraryA"))
        return nullptr;
    HMODULE module = real_LoadLibraryA(name);
    if (module)
        g_ledger->acquire("module", module);
    return module;
}

static FARPROC WINAPI hook_GetProcAddress(HMODULE module, LPCSTR name)
{
    if (g_ledger->enter("GetProcAddress"))
        return nullptr;
    return real_GetProcAddress(module, name);
}

static BOOL WINAPI hook_FreeLibrary(HMODULE module)
{
    g_ledger->enter("FreeLibrary");
    g_ledger->release("module", module);
    return real_FreeLibrary(module);
}

static LPVOID WINAPI hook_HeapAlloc(HANDLE heap, DWORD flags, SIZE_T size)
{
    if (g_ledger->enter("HeapAlloc"))
        return nullptr;
    LPVOID block = real_HeapAlloc(heap, flags, size);
    if (block)
        g_ledger->acquire("heap", block);
    return block;
}

static BOOL WINAPI hook_HeapFree(HANDLE heap, DWORD flags, LPVOID block)
{
    g_ledger->enter("HeapFree");
    g_ledger->release("heap", block);
    return real_HeapFree(heap, flags, block);
}

static BOOL WINAPI hook_GetVersionExA(LPOSVERSIONINFOA info)
{
    if (g_ledger->enter("GetVersionExA"))
        return FALSE;
    return real_GetVersionExA(info);
}

static DWORD WINAPI hook_WaitForSingleObject(HANDLE handle, DWORD timeout)
{
    if (g_ledger->enter("WaitForSingleObject"))
        return WAIT_FAILED;
    return real_WaitForSingleObject(handle, timeout);
}

static BOOL WINAPI hook_GetExitCodeProcess(HANDLE process, LPDWORD code)
{
    if (g_ledger->enter("GetExitCodeProcess"))
        return FALSE;
    return real_GetExitCodeProcess(process, code);
}

static UINT WINAPI hook_WinExec(LPCSTR command, UINT show)
{
    if (g_ledger->enter("WinExec"))
        return ERROR_FILE_NOT_FOUND;
    return real_WinExec(command, show);
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

static FILE *__cdecl hook_fopen(const char *name, const char *mode)
{
    if (g_ledger->enter("fopen"))
        return nullptr;
    FILE *stream = real_fopen(name, mode);
    if (stream)
        g_ledger->acquire("stream", stream);
    return stream;
}

static int __cdecl hook_fclose(FILE *stream)
{
    g_ledger->enter("fclose");
    g_ledger->release("stream", stream);
    return real_fclose(stream);
}

static char *__cdecl hook_fgets(char *line, int size, FILE *stream)
{
    if (g_ledger->enter("fgets"))
        return nullptr;
    return real_fgets(line, size, stream);
}

struct Hook {
    const char *dll, *function;
    const void *replacement;
    void **real;
};

#define KX_HOOK(dll, fn) {dll, #fn, (const void *)hook_##fn, (void **)&real_##fn}

static const Hook kHooks[] = {
    KX_HOOK("ADVAPI32.dll", RegOpenKeyExA), KX_HOOK("ADVAPI32.dll", RegCloseKey),
    KX_HOOK("ADVAPI32.dll", RegEnumKeyExA), KX_HOOK("ADVAPI32.dll", RegQueryValueExA),
    KX_HOOK("KERNEL32.dll", CreateFileA),   KX_HOOK("KERNEL32.dll", ReadFile),
    KX_HOOK("KERNEL32.dll", CloseHandle),   KX_HOOK("KERNEL32.dll", CreateProcessA),
    KX_HOOK("KERNEL32.dll", LoadLibraryA),  KX_HOOK("KERNEL32.dll", GetProcAddress),
    KX_HOOK("KERNEL32.dll", FreeLibrary),   KX_HOOK("KERNEL32.dll", HeapAlloc),
    KX_HOOK("KERNEL32.dll", HeapFree),      KX_HOOK("KERNEL32.dll", GetVersionExA),
    KX_HOOK("KERNEL32.dll", WaitForSingleObject), KX_HOOK("KERNEL32.dll", GetExitCodeProcess),
    KX_HOOK("KERNEL32.dll", WinExec),       KX_HOOK("KERNEL32.dll", Sleep),
    KX_HOOK("KERNEL32.dll", DeleteFileA),
    KX_HOOK("CRTDLL.dll", fopen),           KX_HOOK("CRTDLL.dll", fclose),
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

} // namespace kx
