// Every export under every failure that its calls can report, and in
// repeated use. The sweep records the hooked calls of a run of each export
// on its setup, then reruns once per (call site, failure) with that one call
// failing: the export must come back with an answer it may give for such a
// failure and with everything it acquired released once, in reverse order.
// Repeated use loads the DLL, asks every question and frees it a thousand
// times in one process, which must not grow.
#include "harness/fake_ddraw.h"
#include "harness/harness.h"
#include "harness/ledger.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
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
    kCardFiles = 4,
    kSignedFile = 8,
    kHelpers = 16,
};

const char kSignature[] = "KXSIG";
char g_dvd_text[] = "generic dvd";

class Fixture {
public:
    explicit Fixture(int setup)
    {
        std::string error, samples = std::string("Z:") + KX_SOURCE_DIR + "/samples/";
        if (setup & (kSampleMachine | kDecoderMachine)) {
            const char *machine = setup & kSampleMachine ? "machines/win98-pc.reg" : "machines/win98-decoder-pc.reg";
            EXPECT_TRUE(kx::load_profile_file(samples + machine, error)) << error;
        }
        for (const char *file : {"AudCards.def", "VidCards.def"})
            if (setup & kCardFiles)
                EXPECT_TRUE(CopyFileA((samples + file).c_str(), file, FALSE)) << file;
        if (setup & kSignedFile)
            cwd_.write("signed.bin", std::string(kSignature) + "and more");
        for (const char *helper : {"Kxdodaze.exe", "BIOSID.EXE"})
            if (setup & kHelpers)
                EXPECT_TRUE(CopyFileA((kx::bin_dir() + "sysid\\" + helper).c_str(), helper, FALSE)) << helper;
        SetEnvironmentVariableA("KX_BIOSID_BYTES", setup & kHelpers ? "hex:47617465776179" : nullptr);
    }
    ~Fixture() { SetEnvironmentVariableA("KX_BIOSID_BYTES", nullptr); }

private:
    kx::TempCwd cwd_;
};

// How the export's calls are watched: through the resource hooks on the
// DLL's imports, or through the scripted DirectDraw.
enum class Via { hooks, fake_display };

// One export with its arguments, what it runs on and the answers it may
// give when a call fails; the first is its answer when nothing fails.
struct Export {
    const char *name;
    std::vector<uint32_t> args;
    int setup;
    Via via;
    std::vector<int32_t> allowed;
};

const DWORD kBobInterleaved = 0x10;

const Export kExports[] = {
    {"GetAudioCardID", {}, kSampleMachine | kCardFiles, Via::hooks, {1, 0, -1, -2}},
    {"GetGraphicsCardID", {}, kSampleMachine | kCardFiles, Via::hooks, {1002, -1, -2}},
    {"GetPCIInfo", {1}, kSampleMachine, Via::hooks, {0x0412, -1}},
    {"GetSystemID", {}, kHelpers, Via::hooks, {70, 0}},
    {"IsATIMotionComp", {}, kNothing, Via::fake_display, {1, 0}},
    {"IsBroadLogicPresent", {}, kDecoderMachine, Via::hooks, {1, 0}},
    {"IsDVDDrivePresent", {kx::arg(g_dvd_text)}, kSampleMachine, Via::hooks, {1, 0}},
    {"IsFileAvailable", {kx::arg("signed.bin"), kx::arg(kSignature), 5}, kSignedFile, Via::hooks, {1, 0}},
    {"IsInterleavedBob", {}, kNothing, Via::fake_display, {1, 0}},
    {"IsWin95", {}, kNothing, Via::hooks, {0}},
};

int32_t call(const kx::Dll &dll, const Export &e)
{
    const std::vector<uint32_t> &a = e.args;
    switch (a.size()) {
    case 0: return kx::call_export(dll, e.name);
    case 1: return kx::call_export(dll, e.name, {a[0]});
    case 2: return kx::call_export(dll, e.name, {a[0], a[1]});
    default: return kx::call_export(dll, e.name, {a[0], a[1], a[2]});
    }
}

// Runs the export once with `ledger` watching; returns its answer and
// leaves in `problems` whatever was not released once in reverse order.
int32_t run(const kx::Dll &dll, const Export &e, kx::Ledger &ledger, std::string &problems)
{
    int32_t answer;
    if (e.via == Via::fake_display) {
        kx::FakeDirectDraw fake(dll);
        answer = fake.ask(e.name, ledger, kBobInterleaved);
        problems = ledger.problems() + fake.held_references();
    } else {
        kx::ResourceHooks hooks(dll.module(), ledger);
        answer = call(dll, e);
        problems = ledger.problems();
    }
    return answer;
}

bool allowed(const Export &e, int32_t answer)
{
    return std::find(e.allowed.begin(), e.allowed.end(), answer) != e.allowed.end();
}

TEST(Reliability, EveryFailureOfEveryCallSite)
{
    kx::Dll dll;
    int combinations = 0;
    for (const Export &e : kExports) {
        int before = combinations;
        Fixture fixture(e.setup);
        kx::Ledger recorded;
        std::string problems;
        ASSERT_EQ(e.allowed[0], run(dll, e, recorded, problems)) << e.name << " with nothing failing";
        ASSERT_EQ("", problems) << e.name << " with nothing failing";

        for (size_t site = 0; site < recorded.calls().size(); ++site) {
            const std::string &function = recorded.calls()[site];
            int occurrence = (int)std::count(recorded.calls().begin(), recorded.calls().begin() + site, function);
            for (const std::string &mode : recorded.failure_modes(function)) {
                std::string tag = std::string(e.name) + ": " + function + " #" + std::to_string(occurrence) +
                                  " (call " + std::to_string(site) + ") " + mode;
                kx::Ledger ledger;
                ledger.fail(function.c_str(), occurrence, mode.c_str());
                int32_t answer = run(dll, e, ledger, problems);
                EXPECT_TRUE(allowed(e, answer)) << tag << ": answered " << answer;
                EXPECT_EQ("", problems) << tag;
                EXPECT_GT(ledger.count(function.c_str()), occurrence) << tag << ": the call was not reached";
                ++combinations;
            }
        }
        printf("%s: %d call sites, %d failures\n", e.name, (int)recorded.calls().size(), combinations - before);
    }
    printf("%d (export, call site, failure) combinations\n", combinations);
}

struct Usage {
    int handles;
    SIZE_T private_bytes;
};

// Wine 8 answers GetProcessHandleCount with 0 and PrivateUsage with 0, so
// both are counted here: every handle value that names an open handle, and
// the committed private pages of the address space.
Usage usage()
{
    Usage now = {0, 0};
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
    return now;
}

// Each round also checks the ledger. The display questions ask the scripted
// DirectDraw, which counts references: Wine's own takes 10 to 30 ms a
// question and grows by itself by up to 200 KB over the thousand rounds.
// Usage is measured from after a few rounds, once the C runtime and the
// test's own containers have settled. A key, handle or module kept per
// round would add a thousand handles, a hundred bytes kept per round 100 KB.
TEST(Reliability, ThousandRoundsOfLoadAskFree)
{
    // GetSystemID finds neither helper here and answers at once.
    Fixture fixture(kSampleMachine | kCardFiles | kSignedFile);
    std::vector<int32_t> first;
    auto round = [&](int number) {
        kx::Dll dll;
        for (size_t i = 0; i < sizeof(kExports) / sizeof(kExports[0]); ++i) {
            kx::Ledger ledger;
            std::string problems;
            int32_t answer = run(dll, kExports[i], ledger, problems);
            if (first.size() == i)
                first.push_back(answer);
            EXPECT_EQ(first[i], answer) << kExports[i].name << " in round " << number;
            EXPECT_EQ("", problems) << kExports[i].name << " in round " << number;
        }
    };
    for (int number = 0; number < 20; ++number)
        round(number);
    Usage before = usage();
    for (int number = 0; number < 1000; ++number)
        round(number);
    Usage after = usage();
    printf("handles %d -> %d, private bytes %lu -> %lu\n", before.handles, after.handles,
           (unsigned long)before.private_bytes, (unsigned long)after.private_bytes);
    EXPECT_LE(after.handles, before.handles);
    EXPECT_LT(after.private_bytes, before.private_bytes + 100 * 1024);
}

} // namespace
