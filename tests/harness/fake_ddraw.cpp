#include "harness/fake_ddraw.h"

#include <gtest/gtest.h>

#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <cstring>

namespace kx {

namespace {

// A COM object as the caller sees it: the vtable pointer comes first.
struct FakeObject {
    void *const *vtable;
    const char *name;
    LONG refs;
};

} // namespace

const HRESULT DD_OK = S_OK, kErrorCode = E_FAIL, kSuccessCode = S_FALSE;
const HMODULE kFakeDdraw = (HMODULE)0x7d5a0000;
const BYTE kIidDirectDraw2[16] = {0xe0, 0xf3, 0xa6, 0xb3, 0x43, 0x2b, 0xcf, 0x11,
                                  0xa2, 0xde, 0x00, 0xaa, 0x00, 0xb9, 0x33, 0x56};
const DWORD kCaps2Offset = 8;

namespace {

struct State {
    std::string calls;
    Ledger *ledger;
    DWORD caps2;
    FakeObject dd, dd2, surface;
    BYTE request[FakeDirectDraw::kSurfaceRequestSize];
    DWORD caps_size;
    std::string system_folder; // as GetSystemDirectoryA last answered it
};

} // namespace

static State g;

static void record(const char *format, ...)
{
    char text[160];
    va_list args;
    va_start(args, format);
    vsnprintf(text, sizeof(text), format, args);
    va_end(args);
    g.calls += text;
    g.calls += ' ';
}

static const char *pointer(const void *p, const char *present)
{
    return p ? present : "null";
}

static std::string method(const FakeObject *self, const char *name)
{
    return std::string(self->name) + "." + name;
}

// A call that hands out an object writes it to *out; only a success code
// makes the pointer a reference that the caller must give back.
static HRESULT hand_out(const std::string &call, FakeObject &object, void **out)
{
    HRESULT result = DD_OK;
    bool gives = true;
    switch (g.ledger->enter(call.c_str(), {"error", "error, pointer written", "DD_OK without object", "success code",
                                           "success code without object"})) {
    case 1:
        result = kErrorCode;
        gives = false;
        break;
    case 2:
        result = kErrorCode;
        break;
    case 3:
        gives = false;
        break;
    case 4:
        result = kSuccessCode;
        break;
    case 5:
        result = kSuccessCode;
        gives = false;
        break;
    }
    *out = gives ? &object : nullptr;
    if (gives && SUCCEEDED(result)) {
        EXPECT_EQ(0, object.refs) << object.name << " handed out while still held";
        object.refs = 1;
        g.ledger->acquire("com", &object);
    }
    return result;
}

static HRESULT answer(const std::string &call)
{
    switch (g.ledger->enter(call.c_str(), {"error", "success code"})) {
    case 1:
        return kErrorCode;
    case 2:
        return kSuccessCode;
    }
    return DD_OK;
}

static HRESULT WINAPI fake_QueryInterface(FakeObject *self, REFIID iid, void **out)
{
    bool dd2 = !memcmp(&iid, kIidDirectDraw2, sizeof(kIidDirectDraw2));
    record("%s.QueryInterface(%s,%s)", self->name, dd2 ? "IID_IDirectDraw2" : "other", pointer(out, "out"));
    return hand_out(method(self, "QueryInterface"), g.dd2, out);
}

static ULONG WINAPI fake_AddRef(FakeObject *self)
{
    record("%s.AddRef", self->name);
    g.ledger->acquire("com", self);
    return ++self->refs;
}

static ULONG WINAPI fake_Release(FakeObject *self)
{
    record("%s.Release", self->name);
    g.ledger->release("com", self);
    return --self->refs;
}

static HRESULT WINAPI fake_CreateSurface(FakeObject *self, const BYTE *request, void **out, IUnknown *outer)
{
    record("%s.CreateSurface(%s,%s,%s)", self->name, pointer(request, "request"), pointer(out, "out"),
           pointer(outer, "outer"));
    if (request)
        memcpy(g.request, request, sizeof(g.request));
    return hand_out(method(self, "CreateSurface"), g.surface, out);
}

// Fills every field the probe must not look at with set bits, whatever
// the call returns.
static HRESULT WINAPI fake_GetCaps(FakeObject *self, BYTE *driver, BYTE *emulation)
{
    record("%s.GetCaps(%s,%s)", self->name, pointer(driver, "caps"), pointer(emulation, "emulation"));
    if (driver) {
        memcpy(&g.caps_size, driver, sizeof(DWORD));
        memset(driver + sizeof(DWORD), 0xff, FakeDirectDraw::kCapsSize - sizeof(DWORD));
        memcpy(driver + kCaps2Offset, &g.caps2, sizeof(DWORD));
    }
    return answer(method(self, "GetCaps"));
}

static HRESULT WINAPI fake_SetCooperativeLevel(FakeObject *self, HWND window, DWORD flags)
{
    record("%s.SetCooperativeLevel(%s,%#lx)", self->name, pointer(window, "window"), flags);
    return answer(method(self, "SetCooperativeLevel"));
}

// Any other method: its argument count is unknown, so the stack cannot be
// cleaned up and the program stops here.
static HRESULT WINAPI fake_unexpected(FakeObject *self)
{
    ADD_FAILURE() << "unexpected method of " << self->name << " after: " << g.calls;
    fflush(stdout);
    abort();
}

// IDirectDraw and IDirectDraw2 share these slots; IDirectDrawSurface has
// only the IUnknown ones in common with them.
enum {
    kQueryInterfaceSlot,
    kAddRefSlot,
    kReleaseSlot,
    kCreateSurfaceSlot = 6,
    kGetCapsSlot = 11,
    kSetCooperativeLevelSlot = 20,
    kSlots = 40
};
static void *g_display_vtable[kSlots], *g_surface_vtable[kSlots];

static void build_vtables()
{
    for (int i = 0; i < kSlots; ++i)
        g_display_vtable[i] = g_surface_vtable[i] = (void *)fake_unexpected;
    for (void **vtable : {g_display_vtable, g_surface_vtable}) {
        vtable[kQueryInterfaceSlot] = (void *)fake_QueryInterface;
        vtable[kAddRefSlot] = (void *)fake_AddRef;
        vtable[kReleaseSlot] = (void *)fake_Release;
    }
    g_display_vtable[kCreateSurfaceSlot] = (void *)fake_CreateSurface;
    g_display_vtable[kGetCapsSlot] = (void *)fake_GetCaps;
    g_display_vtable[kSetCooperativeLevelSlot] = (void *)fake_SetCooperativeLevel;
}

static HRESULT WINAPI fake_DirectDrawCreate(GUID *driver, void **out, IUnknown *outer)
{
    record("DirectDrawCreate(%s,%s,%s)", pointer(driver, "guid"), pointer(out, "out"), pointer(outer, "outer"));
    return hand_out("DirectDrawCreate", g.dd, out);
}

// The real system folder, or one of exactly `length` characters; too long
// a folder for the caller's buffer is answered with the size it needs.
static UINT WINAPI fake_GetSystemDirectoryA(LPSTR buffer, UINT size)
{
    record("GetSystemDirectoryA(%s,%u)", pointer(buffer, "buffer"), size);
    char real[MAX_PATH];
    switch (
        g.ledger->enter("GetSystemDirectoryA", {"0", "longer than the buffer", "250 characters", "249 characters"})) {
    case 1:
        return 0;
    case 2:
        return size + 1;
    case 3:
        g.system_folder = "C:\\" + std::string(247, 'S');
        break;
    case 4:
        g.system_folder = "C:\\" + std::string(246, 'S');
        break;
    default:
        g.system_folder.assign(real, GetSystemDirectoryA(real, sizeof(real)));
    }
    if (g.system_folder.size() >= size)
        return (UINT)g.system_folder.size() + 1;
    memcpy(buffer, g.system_folder.c_str(), g.system_folder.size() + 1);
    return (UINT)g.system_folder.size();
}

// The system folder that GetSystemDirectoryA answered shows as <system>.
static HMODULE WINAPI fake_LoadLibraryA(LPCSTR name)
{
    std::string shown = name;
    if (!g.system_folder.empty() && !shown.compare(0, g.system_folder.size(), g.system_folder))
        shown.replace(0, g.system_folder.size(), "<system>");
    record("LoadLibraryA(%s)", shown.c_str());
    if (g.ledger->enter("LoadLibraryA", {"null"}))
        return nullptr;
    g.ledger->acquire("module", kFakeDdraw);
    return kFakeDdraw;
}

static FARPROC WINAPI fake_GetProcAddress(HMODULE module, LPCSTR name)
{
    record("GetProcAddress(%s,%s)", module == kFakeDdraw ? "ddraw" : "other",
           HIWORD((DWORD_PTR)name) ? name : "ordinal");
    if (g.ledger->enter("GetProcAddress", {"null"}))
        return nullptr;
    return (FARPROC)(void *)fake_DirectDrawCreate;
}

static BOOL WINAPI fake_FreeLibrary(HMODULE module)
{
    record("FreeLibrary(%s)", module == kFakeDdraw ? "ddraw" : "other");
    int failure = g.ledger->enter("FreeLibrary", {"FALSE after freeing"});
    g.ledger->release("module", module);
    return !failure;
}

FakeDirectDraw::FakeDirectDraw(const Dll &dll)
    : dll_(dll),
      folder_(dll.module(), "KERNEL32.dll", "GetSystemDirectoryA", (const void *)fake_GetSystemDirectoryA),
      load_(dll.module(), "KERNEL32.dll", "LoadLibraryA", (const void *)fake_LoadLibraryA),
      entry_(dll.module(), "KERNEL32.dll", "GetProcAddress", (const void *)fake_GetProcAddress),
      free_(dll.module(), "KERNEL32.dll", "FreeLibrary", (const void *)fake_FreeLibrary)
{
    EXPECT_TRUE(folder_.applied() && load_.applied() && entry_.applied() && free_.applied());
    build_vtables();
}

int32_t FakeDirectDraw::ask(const char *name, Ledger &ledger, DWORD caps2)
{
    g.calls.clear();
    g.ledger = &ledger;
    g.caps2 = caps2;
    g.dd = {g_display_vtable, "dd", 0};
    g.dd2 = {g_display_vtable, "dd2", 0};
    g.surface = {g_surface_vtable, "surface", 0};
    memset(g.request, 0xbd, sizeof(g.request));
    g.caps_size = 0xdeadbeef;
    g.system_folder.clear();
    int32_t answer = call_export(dll_, name);
    g.ledger = nullptr;
    return answer;
}

const std::string &FakeDirectDraw::calls() const
{
    return g.calls;
}

std::string FakeDirectDraw::held_references() const
{
    std::string text;
    for (const FakeObject *object : {&g.dd, &g.dd2, &g.surface})
        if (object->refs)
            text += std::string(object->name) + " left at " + std::to_string(object->refs) + "\n";
    return text;
}

const BYTE *FakeDirectDraw::surface_request() const
{
    return g.request;
}

DWORD FakeDirectDraw::caps_size() const
{
    return g.caps_size;
}

} // namespace kx
