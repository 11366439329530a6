// The DirectDraw probes IsATIMotionComp and IsInterleavedBob: against a
// scripted fake DirectDraw reached through the DLL's imports, and against
// Wine's own DirectDraw without a display.
#include "harness/fake_ddraw.h"
#include "base/unique.h"
#include "harness/harness.h"
#include "harness/ledger.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

// DirectDraw is loaded from the system folder by its whole path.
#define FOLDER "GetSystemDirectoryA(buffer,260) "
#define LOAD FOLDER "LoadLibraryA(<system>\\ddraw.dll) "
#define ENTRY LOAD "GetProcAddress(ddraw,DirectDrawCreate) "
#define CREATE ENTRY "DirectDrawCreate(null,out,null) "
#define COOPERATE CREATE "dd.SetCooperativeLevel(null,0x8) "
#define QUERY COOPERATE "dd.QueryInterface(IID_IDirectDraw2,out) "
#define SURFACE QUERY "dd2.CreateSurface(request,out,null) "
#define CAPS QUERY "dd2.GetCaps(caps,null) "
#define FREE "FreeLibrary(ddraw) "

namespace {

// A row makes the first call of `failing` fail as `mode` says (none when
// null); GetCaps writes `caps2`.
struct Row {
    const char *tag, *failing, *mode;
    DWORD caps2;
    int32_t expected;
    const char *calls;
};

} // namespace

static void run(const char *name, const Row *rows, size_t count)
{
    kx::Dll dll;
    kx::FakeDirectDraw fake(dll);
    for (size_t i = 0; i < count; ++i) {
        const Row &row = rows[i];
        SCOPED_TRACE(std::string(name) + ": " + row.tag);
        kx::Ledger ledger;
        if (row.failing)
            ledger.fail(row.failing, 0, row.mode);
        EXPECT_EQ(row.expected, fake.ask(name, ledger, row.caps2));
        EXPECT_EQ(row.calls, fake.calls());
        EXPECT_EQ("", ledger.problems() + fake.held_references());
    }
}

// Up to the question itself both probes run the same steps.
const Row kSharedRows[] = {
    {"no system folder", "GetSystemDirectoryA", "0", 0x10, 0, FOLDER},
    {"system folder longer than the buffer", "GetSystemDirectoryA", "longer than the buffer", 0x10, 0, FOLDER},
    {"no room for \\ddraw.dll after 250 characters", "GetSystemDirectoryA", "250 characters", 0x10, 0, FOLDER},
    {"no ddraw.dll", "LoadLibraryA", "null", 0x10, 0, LOAD},
    {"no DirectDrawCreate", "GetProcAddress", "null", 0x10, 0, ENTRY FREE},
    {"DirectDrawCreate fails", "DirectDrawCreate", "error", 0x10, 0, CREATE FREE},
    {"DirectDrawCreate fails, pointer written", "DirectDrawCreate", "error, pointer written", 0x10, 0, CREATE FREE},
    {"DirectDrawCreate DD_OK without object", "DirectDrawCreate", "DD_OK without object", 0x10, 0, CREATE FREE},
    {"DirectDrawCreate success code", "DirectDrawCreate", "success code", 0x10, 0, CREATE "dd.Release " FREE},
    {"DirectDrawCreate success code without object", "DirectDrawCreate", "success code without object", 0x10, 0,
     CREATE FREE},
    {"SetCooperativeLevel fails", "dd.SetCooperativeLevel", "error", 0x10, 0, COOPERATE "dd.Release " FREE},
    {"SetCooperativeLevel success code", "dd.SetCooperativeLevel", "success code", 0x10, 0,
     COOPERATE "dd.Release " FREE},
    {"QueryInterface fails", "dd.QueryInterface", "error", 0x10, 0, QUERY "dd.Release " FREE},
    {"QueryInterface fails, pointer written", "dd.QueryInterface", "error, pointer written", 0x10, 0,
     QUERY "dd.Release " FREE},
    {"QueryInterface DD_OK without interface", "dd.QueryInterface", "DD_OK without object", 0x10, 0,
     QUERY "dd.Release " FREE},
    {"QueryInterface success code", "dd.QueryInterface", "success code", 0x10, 0, QUERY "dd2.Release dd.Release " FREE},
};

TEST(DisplayProbes, FailuresBeforeTheQuestionReleaseWhatWasObtained)
{
    run("IsATIMotionComp", kSharedRows, sizeof(kSharedRows) / sizeof(kSharedRows[0]));
    run("IsInterleavedBob", kSharedRows, sizeof(kSharedRows) / sizeof(kSharedRows[0]));
}

TEST(IsATIMotionComp, AnswersFromCreateSurface)
{
    static const Row rows[] = {
        {"overlay created", nullptr, nullptr, 0, 1, SURFACE "surface.Release dd2.Release dd.Release " FREE},
        {"out of video memory", "dd2.CreateSurface", "error", 0, 0, SURFACE "dd2.Release dd.Release " FREE},
        {"no overlay hardware, pointer written", "dd2.CreateSurface", "error, pointer written", 0, 0,
         SURFACE "dd2.Release dd.Release " FREE},
        {"DD_OK without surface", "dd2.CreateSurface", "DD_OK without object", 0, 0,
         SURFACE "dd2.Release dd.Release " FREE},
        {"success code", "dd2.CreateSurface", "success code", 0, 0,
         SURFACE "surface.Release dd2.Release dd.Release " FREE},
        {"success code without surface", "dd2.CreateSurface", "success code without object", 0, 0,
         SURFACE "dd2.Release dd.Release " FREE},
    };
    run("IsATIMotionComp", rows, sizeof(rows) / sizeof(rows[0]));
}

static void put(BYTE *record, DWORD offset, DWORD value)
{
    memcpy(record + offset, &value, sizeof(value));
}

TEST(IsATIMotionComp, RequestsAnMC12OverlayInVideoMemory)
{
    const DWORD size = kx::FakeDirectDraw::kSurfaceRequestSize;
    BYTE expected[size] = {};
    put(expected, 0, size);           // dwSize
    put(expected, 4, 0x1007);         // DDSD_CAPS | DDSD_HEIGHT | DDSD_WIDTH | DDSD_PIXELFORMAT
    put(expected, 8, 100);            // dwHeight
    put(expected, 12, 100);           // dwWidth
    put(expected, 72, 32);            // ddpfPixelFormat.dwSize
    put(expected, 76, 0x204);         // DDPF_FOURCC | DDPF_YUV
    memcpy(expected + 80, "MC12", 4); // ddpfPixelFormat.dwFourCC
    put(expected, 84, 8);             // ddpfPixelFormat.dwYUVBitCount
    put(expected, 104, 0x4080);       // ddsCaps: DDSCAPS_OVERLAY | DDSCAPS_VIDEOMEMORY

    kx::Dll dll;
    kx::FakeDirectDraw fake(dll);
    for (bool fails : {false, true}) {
        kx::Ledger ledger;
        if (fails)
            ledger.fail("dd2.CreateSurface", 0, "error");
        fake.ask("IsATIMotionComp", ledger);
        for (size_t i = 0; i < size; ++i)
            EXPECT_EQ(expected[i], fake.surface_request()[i]) << "byte " << i << ", CreateSurface fails: " << fails;
    }
}

TEST(IsInterleavedBob, AnswersFromTheInterleavedBobBitOnly)
{
    static const Row rows[] = {
        {"bob interleaved only", nullptr, nullptr, 0x10, 1, CAPS "dd2.Release dd.Release " FREE},
        {"system folder of 249 characters", "GetSystemDirectoryA", "249 characters", 0x10, 1,
         CAPS "dd2.Release dd.Release " FREE},
        {"bob interleaved among every bit", nullptr, nullptr, 0xffffffff, 1, CAPS "dd2.Release dd.Release " FREE},
        {"both bob kinds", nullptr, nullptr, 0x30, 1, CAPS "dd2.Release dd.Release " FREE},
        {"bob non-interleaved only", nullptr, nullptr, 0x20, 0, CAPS "dd2.Release dd.Release " FREE},
        {"every bit but bob interleaved", nullptr, nullptr, 0xffffffef, 0, CAPS "dd2.Release dd.Release " FREE},
        {"no bits", nullptr, nullptr, 0, 0, CAPS "dd2.Release dd.Release " FREE},
        {"GetCaps fails", "dd2.GetCaps", "error", 0x10, 0, CAPS "dd2.Release dd.Release " FREE},
        {"GetCaps success code", "dd2.GetCaps", "success code", 0x10, 0, CAPS "dd2.Release dd.Release " FREE},
    };
    run("IsInterleavedBob", rows, sizeof(rows) / sizeof(rows[0]));
}

TEST(IsInterleavedBob, SizesTheCapabilityRecordForDirectX5)
{
    kx::Dll dll;
    kx::FakeDirectDraw fake(dll);
    kx::Ledger ledger;
    fake.ask("IsInterleavedBob", ledger, 0x10);
    EXPECT_EQ((DWORD)kx::FakeDirectDraw::kCapsSize, fake.caps_size());
}

static std::string module_event(char sign, HMODULE module)
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
    kx::Watched watched(dll.module());
    for (const char *name : {"IsATIMotionComp", "IsInterleavedBob"}) {
        SCOPED_TRACE(name);
        int32_t first = kx::call_export(dll, name);
        EXPECT_TRUE(first == 0 || first == 1) << first;
        EXPECT_EQ(first, kx::call_export(dll, name));
        printf("%s = %d under Wine without a display\n", name, first);
    }
    HMODULE ddraw = GetModuleHandleA("ddraw.dll");
    ASSERT_NE(nullptr, ddraw) << "ddraw.dll was never loaded";
    std::vector<std::string> pairs;
    for (int i = 0; i < 4; ++i) {
        pairs.push_back(module_event('+', ddraw));
        pairs.push_back(module_event('-', ddraw));
    }
    EXPECT_EQ(pairs, watched.ledger.events());
}

static std::string module_file(HMODULE module)
{
    char path[MAX_PATH];
    return std::string(path, GetModuleFileNameA(module, path, sizeof(path)));
}

// The path of the planted ddraw.dll that this process loaded, if any.
static std::string planted_ddraw_loaded()
{
    char path[MAX_PATH];
    return std::string(path, GetEnvironmentVariableA("KX_PLANTED_DDRAW", path, sizeof(path)));
}

// Run by PlantedDdrawIsNeverLoaded, in a process that Wine tells to prefer
// native DLLs, with the test's ddraw.dll in the current folder and beside
// this program.
TEST(DisplayProbes, DISABLED_AskedWithDdrawPlanted)
{
    // A load by the bare name takes the copy beside the program.
    {
        const UniqueModule bare(LoadLibraryA("ddraw.dll"));
        ASSERT_TRUE(bare);
        ASSERT_EQ(kx::bin_dir() + "ddraw.dll", planted_ddraw_loaded()) << "Wine does not prefer the native ddraw.dll";
    }
    SetEnvironmentVariableA("KX_PLANTED_DDRAW", nullptr);

    kx::Dll dll;
    // The file of each module that the DLL loaded, while it was loaded.
    std::vector<std::string> loaded;
    kx::Hook<decltype(&LoadLibraryA)> load(dll.module(), "KERNEL32.dll", "LoadLibraryA", [&](LPCSTR name) {
        HMODULE module = load.original()(name);
        loaded.push_back(module ? module_file(module) : "null");
        return module;
    });
    for (const char *name : {"IsATIMotionComp", "IsInterleavedBob"})
        kx::call_export(dll, name);
    char system[MAX_PATH];
    GetSystemDirectoryA(system, sizeof(system));
    EXPECT_EQ(std::vector<std::string>(2, std::string(system) + "\\ddraw.dll"), loaded);
    EXPECT_EQ("", planted_ddraw_loaded());
}

// A real ddraw.dll in the current folder and beside the calling program is
// never loaded, also where Windows would take it, as Wine does when told to
// prefer native DLLs: the system folder's is. The test above runs in a
// child that Wine tells so, since it reads the setting as a program starts.
TEST(DisplayProbes, PlantedDdrawIsNeverLoaded)
{
    kx::TempCwd cwd;
    kx::Installed here("planted\\ddraw.dll", cwd.path() + "\\ddraw.dll");
    kx::Installed beside("planted\\ddraw.dll", kx::bin_dir() + "ddraw.dll");
    kx::AppDefault native("display_test.exe", "DllOverrides", "ddraw", "native,builtin");
    const std::string child = "\"" + kx::bin_dir() +
                              "display_test.exe\" --gtest_also_run_disabled_tests "
                              "--gtest_filter=DisplayProbes.DISABLED_AskedWithDdrawPlanted";
    const kx::Ran ran = kx::run(child);
    EXPECT_EQ(0u, ran.status) << ran.text;
    EXPECT_TRUE(kx::contains(ran.text, "[       OK ] DisplayProbes.DISABLED_AskedWithDdrawPlanted"));
}
