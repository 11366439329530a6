// The DirectDraw probes IsATIMotionComp and IsInterleavedBob: against a
// scripted fake DirectDraw reached through the DLL's imports, and against
// Wine's own DirectDraw without a display.
#include "harness/harness.h"
#include "harness/ledger.h"

#include <gtest/gtest.h>

#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

namespace {

// The step of the probe at which the fake misbehaves; every other step
// succeeds with DD_OK and hands out its object.
enum Step { kNone, kLoad, kEntry, kCreate, kCooperate, kQuery, kSurface, kCaps };

struct Script {
    Step step;
    HRESULT result;
    bool gives;   // the call writes an object pointer (a reference only with a success code)
    DWORD caps2;  // dwCaps2 that GetCaps writes, whatever it returns
};

// A COM object as the caller sees it: the vtable pointer comes first.
struct FakeObject {
    void *const *vtable;
    const char *name;
    LONG refs;
};

const HRESULT DD_OK = S_OK;
const HMODULE kFakeDdraw = (HMODULE)0x7d5a0000;
const BYTE kIidDirectDraw2[16] = {0xe0, 0xf3, 0xa6, 0xb3, 0x43, 0x2b, 0xcf, 0x11,
                                  0xa2, 0xde, 0x00, 0xaa, 0x00, 0xb9, 0x33, 0x56};
const DWORD kSurfaceRequestSize = 108, kCapsSize = 364, kCaps2Offset = 8;

struct Fake {
    Script script;
    std::string calls;
    kx::Ledger *ledger;
    FakeObject dd, dd2, surface;
    BYTE request[kSurfaceRequestSize]; // 0xbd until CreateSurface is called
    DWORD caps_size;
} g;

void record(const char *format, ...)
{
    char text[160];
    va_list args;
    va_start(args, format);
    vsnprintf(text, sizeof(text), format, args);
    va_end(args);
    g.calls += text;
    g.calls += ' ';
}

const char *pointer(const void *p, const char *present)
{
    return p ? present : "null";
}

HRESULT scripted(Step step)
{
    return g.script.step == step ? g.script.result : DD_OK;
}

// Writes the object to *out as the script says; only a success code makes
// the pointer a reference that the caller must give back.
HRESULT hand_out(FakeObject &object, void **out, Step step)
{
    HRESULT result = scripted(step);
    bool gives = g.script.step != step || g.script.gives;
    *out = gives ? &object : nullptr;
    if (gives && SUCCEEDED(result)) {
        EXPECT_EQ(0, object.refs) << object.name << " handed out while still held";
        object.refs = 1;
        g.ledger->acquire("com", &object);
    }
    return result;
}

HRESULT WINAPI fake_QueryInterface(FakeObject *self, REFIID iid, void **out)
{
    bool dd2 = !memcmp(&iid, kIidDirectDraw2, sizeof(kIidDirectDraw2));
    record("%s.QueryInterface(%s,%s)", self->name, dd2 ? "IID_IDirectDraw2" : "other", pointer(out, "out"));
    return hand_out(g.dd2, out, kQuery);
}

ULONG WINAPI fake_AddRef(FakeObject *self)
{
    record("%s.AddRef", self->name);
    g.ledger->acquire("com", self);
    return ++self->refs;
}

ULONG WINAPI fake_Release(FakeObject *self)
{
    record("%s.Release", self->name);
    g.ledger->release("com", self);
    return --self->refs;
}

HRESULT WINAPI fake_CreateSurface(FakeObject *self, const BYTE *request, void **out, IUnknown *outer)
{
    record("%s.CreateSurface(%s,%s,%s)", self->name, pointer(request, "request"), pointer(out, "out"),
           pointer(outer, "outer"));
    if (request)
        memcpy(g.request, request, kSurfaceRequestSize);
    return hand_out(g.surface, out, kSurface);
}

// Fills every field the probe must not look at with set bits.
HRESULT WINAPI fake_GetCaps(FakeObject *self, BYTE *driver, BYTE *emulation)
{
    record("%s.GetCaps(%s,%s)", self->name, pointer(driver, "caps"), pointer(emulation, "emulation"));
    if (driver) {
        memcpy(&g.caps_size, driver, sizeof(DWORD));
        memset(driver + sizeof(DWORD), 0xff, kCapsSize - sizeof(DWORD));
        memcpy(driver + kCaps2Offset, &g.script.caps2, sizeof(DWORD));
    }
    return scripted(kCaps);
}

HRESULT WINAPI fake_SetCooperativeLevel(FakeObject *self, HWND window, DWORD flags)
{
    record("%s.SetCooperativeLevel(%s,%#lx)", self->name, pointer(window, "window"), flags);
    return scripted(kCooperate);
}

// Any other method: its argument count is unknown, so the stack cannot be
// cleaned up and the program stops here.
HRESULT WINAPI fake_unexpected(FakeObject *self)
{
    ADD_FAILURE() << "unexpected method of " << self->name << " after: " << g.calls;
    fflush(stdout);
    abort();
}

// IDirectDraw and IDirectDraw2 share these slots; IDirectDrawSurface has
// only the IUnknown ones in common with them.
enum { kQueryInterfaceSlot, kAddRefSlot, kReleaseSlot, kCreateSurfaceSlot = 6, kGetCapsSlot = 11,
       kSetCooperativeLevelSlot = 20, kSlots = 40 };
void *g_display_vtable[kSlots], *g_surface_vtable[kSlots];

void build_vtables()
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

HRESULT WINAPI fake_DirectDrawCreate(GUID *driver, void **out, IUnknown *outer)
{
    record("DirectDrawCreate(%s,%s,%s)", pointer(driver, "guid"), pointer(out, "out"), pointer(outer, "outer"));
    return hand_out(g.dd, out, kCreate);
}

HMODULE WINAPI fake_LoadLibraryA(LPCSTR name)
{
    record("LoadLibraryA(%s)", name);
    if (g.script.step == kLoad)
        return nullptr;
    g.ledger->acquire("module", kFakeDdraw);
    return kFakeDdraw;
}

FARPROC WINAPI fake_GetProcAddress(HMODULE module, LPCSTR name)
{
    record("GetProcAddress(%s,%s)", module == kFakeDdraw ? "ddraw" : "other",
           HIWORD((DWORD_PTR)name) ? name : "ordinal");
    return g.script.step == kEntry ? nullptr : (FARPROC)(void *)fake_DirectDrawCreate;
}

BOOL WINAPI fake_FreeLibrary(HMODULE module)
{
    record("FreeLibrary(%s)", module == kFakeDdraw ? "ddraw" : "other");
    g.ledger->release("module", module);
    return TRUE;
}

// The DLL with its LoadLibraryA, GetProcAddress and FreeLibrary pointed at
// the fake for the lifetime of the object.
class FakeDirectDraw {
public:
    FakeDirectDraw()
        : load_(dll_.module(), "KERNEL32.dll", "LoadLibraryA", (const void *)fake_LoadLibraryA),
          entry_(dll_.module(), "KERNEL32.dll", "GetProcAddress", (const void *)fake_GetProcAddress),
          free_(dll_.module(), "KERNEL32.dll", "FreeLibrary", (const void *)fake_FreeLibrary)
    {
        EXPECT_TRUE(load_.applied() && entry_.applied() && free_.applied());
        build_vtables();
    }

    // Runs the export once under `script`; afterwards g.calls, g.request,
    // g.caps_size and leaks() tell what it did.
    int32_t ask(const char *name, const Script &script)
    {
        kx::Ledger ledger;
        g.script = script;
        g.calls.clear();
        g.ledger = &ledger;
        g.dd = {g_display_vtable, "dd", 0};
        g.dd2 = {g_display_vtable, "dd2", 0};
        g.surface = {g_surface_vtable, "surface", 0};
        memset(g.request, 0xbd, sizeof(g.request));
        g.caps_size = 0xdeadbeef;
        int32_t answer = kx::call_export(dll_, name);
        problems_ = ledger.problems();
        g.ledger = nullptr;
        return answer;
    }

    // The ledger's complaints and every reference count not back at zero.
    std::string leaks() const
    {
        std::string text = problems_;
        for (const FakeObject *object : {&g.dd, &g.dd2, &g.surface})
            if (object->refs)
                text += std::string(object->name) + " left at " + std::to_string(object->refs) + "\n";
        return text;
    }

private:
    kx::Dll dll_;
    kx::ImportPatch load_, entry_, free_;
    std::string problems_;
};

#define LOAD "LoadLibraryA(ddraw.dll) "
#define ENTRY LOAD "GetProcAddress(ddraw,DirectDrawCreate) "
#define CREATE ENTRY "DirectDrawCreate(null,out,null) "
#define COOPERATE CREATE "dd.SetCooperativeLevel(null,0x8) "
#define QUERY COOPERATE "dd.QueryInterface(IID_IDirectDraw2,out) "
#define SURFACE QUERY "dd2.CreateSurface(request,out,null) "
#define CAPS QUERY "dd2.GetCaps(caps,null) "
#define FREE "FreeLibrary(ddraw) "

const HRESULT kSuccessCode = 1; // S_FALSE: a success, but not DD_OK

struct Row {
    const char *tag;
    Script script;
    int32_t expected;
    const char *calls;
};

void run(const char *name, const Row *rows, size_t count)
{
    FakeDirectDraw fake;
    for (size_t i = 0; i < count; ++i) {
        const Row &row = rows[i];
        EXPECT_EQ(row.expected, fake.ask(name, row.script)) << name << ": " << row.tag;
        EXPECT_EQ(row.calls, g.calls) << name << ": " << row.tag;
        EXPECT_EQ("", fake.leaks()) << name << ": " << row.tag;
    }
}

// Up to the question itself both probes run the same steps.
const Row kSharedRows[] = {
    {"no ddraw.dll", {kLoad, 0, false, 0x10}, 0, LOAD},
    {"no DirectDrawCreate", {kEntry, 0, false, 0x10}, 0, ENTRY FREE},
    {"DirectDrawCreate fails", {kCreate, E_FAIL, false, 0x10}, 0, CREATE FREE},
    {"DirectDrawCreate fails, pointer written", {kCreate, (HRESULT)0x88760233, true, 0x10}, 0, CREATE FREE},
    {"DirectDrawCreate DD_OK without object", {kCreate, DD_OK, false, 0x10}, 0, CREATE FREE},
    {"DirectDrawCreate success code", {kCreate, kSuccessCode, true, 0x10}, 0, CREATE "dd.Release " FREE},
    {"DirectDrawCreate success code without object", {kCreate, kSuccessCode, false, 0x10}, 0, CREATE FREE},
    {"SetCooperativeLevel fails", {kCooperate, E_INVALIDARG, false, 0x10}, 0, COOPERATE "dd.Release " FREE},
    {"SetCooperativeLevel success code", {kCooperate, kSuccessCode, false, 0x10}, 0,
     COOPERATE "dd.Release " FREE},
    {"QueryInterface fails", {kQuery, E_NOINTERFACE, false, 0x10}, 0, QUERY "dd.Release " FREE},
    {"QueryInterface fails, pointer written", {kQuery, E_NOINTERFACE, true, 0x10}, 0, QUERY "dd.Release " FREE},
    {"QueryInterface DD_OK without interface", {kQuery, DD_OK, false, 0x10}, 0, QUERY "dd.Release " FREE},
    {"QueryInterface success code", {kQuery, kSuccessCode, true, 0x10}, 0,
     QUERY "dd2.Release dd.Release " FREE},
};

TEST(DisplayProbes, FailuresBeforeTheQuestionReleaseWhatWasObtained)
{
    run("IsATIMotionComp", kSharedRows, sizeof(kSharedRows) / sizeof(kSharedRows[0]));
    run("IsInterleavedBob", kSharedRows, sizeof(kSharedRows) / sizeof(kSharedRows[0]));
}

TEST(IsATIMotionComp, AnswersFromCreateSurface)
{
    static const Row rows[] = {
        {"overlay created", {kNone, DD_OK, true, 0}, 1, SURFACE "surface.Release dd2.Release dd.Release " FREE},
        {"out of video memory", {kSurface, (HRESULT)0x8876017c, false, 0}, 0, SURFACE "dd2.Release dd.Release " FREE},
        {"no overlay hardware, pointer written", {kSurface, (HRESULT)0x88760104, true, 0}, 0,
         SURFACE "dd2.Release dd.Release " FREE},
        {"DD_OK without surface", {kSurface, DD_OK, false, 0}, 0, SURFACE "dd2.Release dd.Release " FREE},
        {"success code", {kSurface, kSuccessCode, true, 0}, 0,
         SURFACE "surface.Release dd2.Release dd.Release " FREE},
        {"success code without surface", {kSurface, kSuccessCode, false, 0}, 0,
         SURFACE "dd2.Release dd.Release " FREE},
    };
    run("IsATIMotionComp", rows, sizeof(rows) / sizeof(rows[0]));
}

void put(BYTE *record, DWORD offset, DWORD value)
{
    memcpy(record + offset, &value, sizeof(value));
}

TEST(IsATIMotionComp, RequestsAnMC12OverlayInVideoMemory)
{
    BYTE expected[kSurfaceRequestSize] = {};
    put(expected, 0, kSurfaceRequestSize); // dwSize
    put(expected, 4, 0x1007);              // DDSD_CAPS | DDSD_HEIGHT | DDSD_WIDTH | DDSD_PIXELFORMAT
    put(expected, 8, 100);                 // dwHeight
    put(expected, 12, 100);                // dwWidth
    put(expected, 72, 32);                 // ddpfPixelFormat.dwSize
    put(expected, 76, 0x204);              // DDPF_FOURCC | DDPF_YUV
    memcpy(expected + 80, "MC12", 4);      // ddpfPixelFormat.dwFourCC
    put(expected, 84, 8);                  // ddpfPixelFormat.dwYUVBitCount
    put(expected, 104, 0x4080);            // ddsCaps: DDSCAPS_OVERLAY | DDSCAPS_VIDEOMEMORY

    FakeDirectDraw fake;
    for (const Script &script : {Script{kNone, DD_OK, true, 0}, Script{kSurface, E_FAIL, false, 0}}) {
        fake.ask("IsATIMotionComp", script);
        for (size_t i = 0; i < sizeof(expected); ++i)
            EXPECT_EQ(expected[i], g.request[i]) << "byte " << i << ", CreateSurface result " << script.result;
    }
}

TEST(IsInterleavedBob, AnswersFromTheInterleavedBobBitOnly)
{
    static const Row rows[] = {
        {"bob interleaved only", {kNone, DD_OK, true, 0x10}, 1, CAPS "dd2.Release dd.Release " FREE},
        {"bob interleaved among every bit", {kNone, DD_OK, true, 0xffffffff}, 1, CAPS "dd2.Release dd.Release " FREE},
        {"both bob kinds", {kNone, DD_OK, true, 0x30}, 1, CAPS "dd2.Release dd.Release " FREE},
        {"bob non-interleaved only", {kNone, DD_OK, true, 0x20}, 0, CAPS "dd2.Release dd.Release " FREE},
        {"every bit but bob interleaved", {kNone, DD_OK, true, 0xffffffef}, 0, CAPS "dd2.Release dd.Release " FREE},
        {"no bits", {kNone, DD_OK, true, 0}, 0, CAPS "dd2.Release dd.Release " FREE},
        {"GetCaps fails", {kCaps, E_INVALIDARG, false, 0x10}, 0, CAPS "dd2.Release dd.Release " FREE},
        {"GetCaps success code", {kCaps, kSuccessCode, false, 0x10}, 0, CAPS "dd2.Release dd.Release " FREE},
    };
    run("IsInterleavedBob", rows, sizeof(rows) / sizeof(rows[0]));
}

TEST(IsInterleavedBob, SizesTheCapabilityRecordForDirectX5)
{
    FakeDirectDraw fake;
    fake.ask("IsInterleavedBob", {kNone, DD_OK, true, 0x10});
    EXPECT_EQ(kCapsSize, g.caps_size);
}

std::string module_event(char sign, HMODULE module)
{
    char text[32];
    snprintf(text, sizeof(text), "%cmodule %p", sign, (void *)module);
    return text;
}

// Wine's DirectDraw with no display: whatever it answers, the answer is a
// truth value and the same twice. Wine's ddraw.dll pins itself in memory
// when it is first loaded, so whether it is still mapped afterwards says
// nothing; instead every load must be paired with one FreeLibrary of the
// same module before the call returns.
TEST(DisplayProbes, WineDirectDrawWithoutDisplay)
{
    ASSERT_EQ(nullptr, GetModuleHandleA("ddraw.dll")) << "the test program itself must not hold ddraw.dll";
    kx::Dll dll;
    kx::Ledger ledger;
    kx::ResourceHooks hooks(dll.module(), ledger);
    for (const char *name : {"IsATIMotionComp", "IsInterleavedBob"}) {
        int32_t first = kx::call_export(dll, name);
        EXPECT_TRUE(first == 0 || first == 1) << name << " answered " << first;
        EXPECT_EQ(first, kx::call_export(dll, name)) << name;
        printf("%s = %d under Wine without a display\n", name, first);
    }
    HMODULE ddraw = GetModuleHandleA("ddraw.dll");
    ASSERT_NE(nullptr, ddraw) << "ddraw.dll was never loaded";
    std::vector<std::string> pairs;
    for (int i = 0; i < 4; ++i) {
        pairs.push_back(module_event('+', ddraw));
        pairs.push_back(module_event('-', ddraw));
    }
    EXPECT_EQ(pairs, ledger.events());
    EXPECT_EQ("", ledger.problems());
}

} // namespace
