// Every export under every failure that its calls can report, and in
// repeated use. The sweep records the hooked calls of a run of each export
// on its setup, then reruns once per (call site, failure) with that one call
// failing: the export must come back with an answer it may give for such a
// failure and with everything it acquired released once, in reverse order.
// Repeated use loads the DLL, asks every question and frees it round after
// round in one process, which must not grow.
#include "harness/fake_ddraw.h"
#include "base/unique.h"
#include "harness/harness.h"
#include "harness/import_patch.h"
#include "harness/ledger.h"

#include <gtest/gtest.h>
#include <tlhelp32.h>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <optional>
#include <ostream>
#include <string>
#include <vector>

namespace {

// What an export runs on. Files and helper programs go to a fresh current
// folder: the card files of samples/, a file that begins with kSignature,
// and the two helper programs of GetSystemID, of which Kxdodaze.exe knows
// no system and BIOSID.EXE writes "Gateway".
enum Setup {
    kNothing = 0,
    kSampleMachine = 1,
    kDecoderMachine = 2,
    kStrayLiveMachine = 4,
    kCardFiles = 8,
    kSignedFile = 16,
    kHelpers = 32,
};

} // namespace

// A display adapter whose device key also holds a multimedia instance,
// and a live node of a device that is not installed before the adapter's.
static std::string stray_live_machine()
{
    return kx::Machine()
        .device("PCI\\VEN_1111\\BUS_01", "DISPLAY", "A")
        .device("PCI\\VEN_1111\\BUS_02", "MEDIA", "B")
        .device("PCI\\VEN_2222\\BUS_02", "DISPLAY", "B")
        .live("C00", "PCI\\VEN_3333\\0")
        .live("C01", "PCI\\VEN_2222\\0")
        .text();
}

static const char kSignature[] = "KXSIG";
static char g_dvd_text[] = "generic dvd";

// BIOSID.EXE sets this event once its file is in place. The DLL pauses a
// whole second before each look for the file; here a pause ends as soon as
// the file is there, which leaves the order of the DLL's calls as it was.
static HANDLE g_biosid_ready;

namespace {

class Fixture {
public:
    explicit Fixture(int setup)
    {
        std::string samples = kx::source_path("samples/");
        if (setup & (kSampleMachine | kDecoderMachine))
            kx::load_machine_file(samples +
                                  (setup & kSampleMachine ? "machines/win98-pc.reg" : "machines/win98-decoder-pc.reg"));
        if (setup & kStrayLiveMachine)
            kx::load_machine(stray_live_machine());
        for (const char *file : {"AudCards.def", "VidCards.def"})
            if (setup & kCardFiles)
                EXPECT_TRUE(CopyFileA((samples + file).c_str(), file, FALSE)) << file;
        if (setup & kSignedFile)
            cwd_.write("signed.bin", std::string(kSignature) + "and more");
        if (setup & kHelpers) {
            stand_ins_.emplace();
            stand_ins_->kxdodaze(0);
            stand_ins_->biosid("Gateway");
            g_biosid_ready = stand_ins_->ready();
        }
    }
    ~Fixture() { g_biosid_ready = nullptr; }

private:
    kx::TempCwd cwd_;
    std::optional<kx::StandIns> stand_ins_;
};

// How the export's calls are watched: through the resource hooks on the
// DLL's imports, or through the scripted DirectDraw.
enum class Via { hooks, fake_display };

// One export with its arguments, what it runs on and the answers it may
// give when a call fails; the first is its answer when nothing fails. The
// row's name is the export's, or the export's and "_" and what sets the row
// apart. With nothing failing, the export opens `key_opens` keys when that
// is above 0: each key of its walk once.
struct Row {
    const char *name;
    std::vector<uint32_t> args;
    int setup;
    Via via;
    std::vector<int32_t> allowed;
    int key_opens;
};

static void PrintTo(const Row &row, std::ostream *out)
{
    *out << row.name;
}

} // namespace

static std::string export_of(const Row &row)
{
    return std::string(row.name, strcspn(row.name, "_"));
}

static const DWORD kBobInterleaved = 0x10;

static const Row kRows[] = {
    {"GetAudioCardID", {}, kSampleMachine | kCardFiles, Via::hooks, {1, 0, -1, -2}, 0},
    {"GetGraphicsCardID", {}, kSampleMachine | kCardFiles, Via::hooks, {1002, -1, -2}, 0},
    {"GetPCIInfo", {1}, kSampleMachine, Via::hooks, {0x0412, -1}, 0},
    // the bus, two device keys, three instances, the live table, two nodes
    {"GetPCIInfo_StrayLiveNodeFirst", {0}, kStrayLiveMachine, Via::hooks, {0x2222, -1}, 9},
    {"GetSystemID", {}, kHelpers, Via::hooks, {70, 0}, 0},
    {"IsATIMotionComp", {}, kNothing, Via::fake_display, {1, 0}, 0},
    {"IsBroadLogicPresent", {}, kDecoderMachine, Via::hooks, {1, 0}, 0},
    {"IsDVDDrivePresent", {kx::arg(g_dvd_text)}, kSampleMachine, Via::hooks, {1, 0}, 0},
    {"IsFileAvailable", {kx::arg("signed.bin"), kx::arg(kSignature), 5}, kSignedFile, Via::hooks, {1, 0}, 0},
    {"IsInterleavedBob", {}, kNothing, Via::fake_display, {1, 0}, 0},
    {"IsWin95", {}, kNothing, Via::hooks, {0}, 0},
};

static int32_t call(const kx::Dll &dll, const Row &row)
{
    const std::string name = export_of(row);
    const std::vector<uint32_t> &a = row.args;
    switch (a.size()) {
    case 0:
        return kx::call_export(dll, name.c_str());
    case 1:
        return kx::call_export(dll, name.c_str(), {a[0]});
    case 2:
        return kx::call_export(dll, name.c_str(), {a[0], a[1]});
    default:
        return kx::call_export(dll, name.c_str(), {a[0], a[1], a[2]});
    }
}

// Runs the export once with `ledger` watching; returns its answer and
// leaves in `problems` whatever was not released once in reverse order.
static int32_t run(const kx::Dll &dll, const Row &row, kx::Ledger &ledger, std::string &problems)
{
    int32_t answer;
    if (row.via == Via::fake_display) {
        kx::FakeDirectDraw fake(dll);
        answer = fake.ask(export_of(row).c_str(), ledger, kBobInterleaved);
        problems = ledger.problems() + fake.held_references();
    } else {
        // Hooked before the ledger, so that the ledger still records each
        // pause and passes it on to this one.
        std::optional<kx::Hook<decltype(&Sleep)>> pause;
        if (HANDLE ready = g_biosid_ready) {
            ResetEvent(ready);
            pause.emplace(dll.module(), "KERNEL32.dll", "Sleep", [ready](DWORD ms) { WaitForSingleObject(ready, ms); });
        }
        kx::ResourceHooks hooks(dll.module(), ledger);
        answer = call(dll, row);
        problems = ledger.problems();
    }
    return answer;
}

static bool allowed(const Row &row, int32_t answer)
{
    return std::find(row.allowed.begin(), row.allowed.end(), answer) != row.allowed.end();
}

namespace {

class Sweep : public ::testing::TestWithParam<Row> { };

} // namespace

TEST_P(Sweep, EveryFailureOfEveryCallSite)
{
    const Row &row = GetParam();
    kx::Dll dll;
    Fixture fixture(row.setup);
    kx::Ledger recorded;
    std::string problems;
    ASSERT_EQ(row.allowed[0], run(dll, row, recorded, problems)) << "with nothing failing";
    ASSERT_EQ("", problems) << "with nothing failing";
    if (row.key_opens)
        EXPECT_EQ(row.key_opens, recorded.count("RegOpenKeyExA"));

    int combinations = 0;
    for (size_t site = 0; site < recorded.calls().size(); ++site) {
        const std::string &function = recorded.calls()[site];
        int occurrence = (int)std::count(recorded.calls().begin(), recorded.calls().begin() + site, function);
        for (const std::string &mode : recorded.failure_modes(function)) {
            SCOPED_TRACE(function + " #" + std::to_string(occurrence) + " (call " + std::to_string(site) + ") " + mode);
            kx::Ledger ledger;
            ledger.fail(function.c_str(), occurrence, mode.c_str());
            int32_t answer = run(dll, row, ledger, problems);
            EXPECT_TRUE(allowed(row, answer)) << "answered " << answer;
            EXPECT_EQ("", problems);
            EXPECT_GT(ledger.count(function.c_str()), occurrence) << "the call was not reached";
            ++combinations;
        }
    }
    printf("%s: %d call sites, %d failures\n", row.name, (int)recorded.calls().size(), combinations);
}

INSTANTIATE_TEST_SUITE_P(Reliability, Sweep, ::testing::ValuesIn(kRows),
                         [](const ::testing::TestParamInfo<Row> &info) { return std::string(info.param.name); });

namespace {

struct Usage {
    int handles, modules, heap_blocks;
    SIZE_T private_bytes;
};

} // namespace

// Wine 8 answers GetProcessHandleCount with 0 and PrivateUsage with 0, so
// both are counted here: every handle value that names an open handle (a
// registry key is one too), and the committed private pages of the address
// space. Heap blocks in use are counted over every heap of the process,
// the C runtime's among them.
static Usage usage()
{
    Usage now = {0, 0, 0, 0};
    for (ULONG_PTR value = 4; value < 0x10000; value += 4) {
        DWORD flags;
        now.handles += GetHandleInformation((HANDLE)value, &flags) ? 1 : 0;
    }
    MEMORY_BASIC_INFORMATION region;
    for (ULONG_PTR at = 0; VirtualQuery((void *)at, &region, sizeof(region));) {
        if (region.State == MEM_COMMIT && region.Type == MEM_PRIVATE)
            now.private_bytes += region.RegionSize;
        ULONG_PTR next = (ULONG_PTR)region.BaseAddress + region.RegionSize;
        if (next <= at)
            break;
        at = next;
    }
    HANDLE heaps[64];
    DWORD count = std::min<DWORD>(GetProcessHeaps(64, heaps), 64);
    for (DWORD i = 0; i < count; ++i) {
        PROCESS_HEAP_ENTRY entry = {};
        while (HeapWalk(heaps[i], &entry))
            now.heap_blocks += (entry.wFlags & PROCESS_HEAP_ENTRY_BUSY) ? 1 : 0;
    }
    const UniqueFile snapshot(CreateToolhelp32Snapshot(TH32CS_SNAPMODULE, 0));
    MODULEENTRY32 module = {};
    module.dwSize = sizeof(module);
    for (BOOL more = Module32First(snapshot.get(), &module); more; more = Module32Next(snapshot.get(), &module))
        ++now.modules;
    return now;
}

// Each round also checks the ledger, and that the DLL is gone once freed.
// The display questions ask the scripted DirectDraw, which counts
// references: Wine's own takes 10 to 30 ms a question and grows by itself.
// Usage is measured from after a few rounds, once the C runtime and the
// test's own containers have settled. Growth is held against the rounds: a
// key, handle, module or heap block kept per round adds one per round, a
// page kept per round a page per round.
TEST(Reliability, RoundsOfLoadAskFreeDoNotGrow)
{
    const int kSettle = 10, kRounds = 40;
    // GetSystemID finds neither helper here and answers at once.
    Fixture fixture(kSampleMachine | kCardFiles | kSignedFile);
    std::vector<int32_t> first;
    auto round = [&](int number) {
        {
            kx::Dll dll;
            size_t asked = 0;
            for (const Row &row : kRows) {
                if (export_of(row) != row.name)
                    continue;
                SCOPED_TRACE(std::string(row.name) + " in round " + std::to_string(number));
                kx::Ledger ledger;
                std::string problems;
                int32_t answer = run(dll, row, ledger, problems);
                if (first.size() == asked)
                    first.push_back(answer);
                EXPECT_EQ(first[asked++], answer);
                EXPECT_EQ("", problems);
            }
        }
        EXPECT_EQ(nullptr, GetModuleHandleA("KXVozaDa.dll")) << "still loaded after round " << number;
    };
    for (int number = 0; number < kSettle; ++number)
        round(number);
    Usage before = usage();
    for (int number = 0; number < kRounds; ++number)
        round(kSettle + number);
    Usage after = usage();
    printf("over %d rounds: handles %d -> %d, modules %d -> %d, heap blocks %d -> %d, private bytes %lu -> %lu\n",
           kRounds, before.handles, after.handles, before.modules, after.modules, before.heap_blocks, after.heap_blocks,
           (unsigned long)before.private_bytes, (unsigned long)after.private_bytes);
    EXPECT_LE(after.handles, before.handles);
    EXPECT_LE(after.modules, before.modules);
    EXPECT_LT(after.heap_blocks, before.heap_blocks + kRounds / 2);
    EXPECT_LT(after.private_bytes, before.private_bytes + kRounds * 1024);
}
