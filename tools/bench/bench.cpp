// kxbench: what each question of KXVozaDa.dll costs, set against the reads
// that the question cannot avoid, timed side by side in this one program.
// Each row runs its subject and its floor alternately and prints the
// medians and their ratio (or difference) with the goal for that row. The
// device questions are asked on the synthetic machine of bench_machine.cpp.
#include "bench.h"

#include "harness/programs.h"
#include "inventory/card_lookup.h"
#include "profile/profile.h"
#include "tools/exports/export_table.h"

#include <windows.h>

#include <algorithm>
#include <optional>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

static const char kDvdAsked[] = "bench dvd";

namespace {

struct Bench {
    UniqueModule dll;
    // The export that the current row asks, by its pointer type.
    KXVOZADA_ASK_FN ask = nullptr;
    KXVOZADA_GETPCIINFO_FN pci_info = nullptr;
    KXVOZADA_ISDVDDRIVEPRESENT_FN dvd = nullptr;
    bool machine = false; // the hardware tree has been replaced
    bool built = false;   // and holds the synthetic machine
    std::string skip;     // why the current row cannot be measured
    // The current row's own folder, made current, and the stand-ins it
    // starts from there.
    std::optional<kx::TempCwd> folder;
    std::optional<kx::StandIns> stand_ins;
};

} // namespace

namespace kx {
void harness_failure(const std::string &message)
{
    fprintf(stderr, "kxbench: %s\n", message.c_str());
}
} // namespace kx

static double now_ms()
{
    static LARGE_INTEGER frequency;
    if (!frequency.QuadPart)
        QueryPerformanceFrequency(&frequency);
    LARGE_INTEGER count;
    QueryPerformanceCounter(&count);
    return count.QuadPart * 1000.0 / frequency.QuadPart;
}

static int look_up(CardFile file, const char *description)
{
    int result;
    return look_up_card(file, description, nullptr, result) ? result : -3;
}

// ---- preparing a row ----

// The synthetic machine with `hardware_key` as its last live node; it is
// built once, for the first row that asks on it.
static bool prepare_machine(Bench &bench, const std::string &hardware_key)
{
    if (!bench.machine) {
        bench.machine = true;
        profile_clear();
        bench.built = build_machine();
    }
    if (bench.built && set_last_live_node(hardware_key))
        return true;
    bench.skip = "the registry refused the synthetic machine";
    return false;
}

// A fresh folder for the row, made current; the last row's, and the
// stand-ins it started, are gone.
static bool enter(Bench &bench)
{
    bench.stand_ins.reset();
    bench.folder.reset();
    if (!bench.folder.emplace().path().empty())
        return true;
    bench.skip = "cannot make a folder for the row";
    return false;
}

static bool prepare_card_files(Bench &bench, bool (*write)())
{
    if (!enter(bench))
        return false;
    if (write())
        return true;
    bench.skip = "cannot write the card files";
    return false;
}

static bool prepare_nothing(Bench &)
{
    return true;
}

// Loads the DLL, once, and looks up the export that the row asks as `ask`.
template <class Fn> static bool use_export(Bench &bench, Export which, Fn &ask)
{
    DWORD error;
    if (!bench.dll)
        bench.dll.reset(load_kxvozada(error));
    ask = find_export<Fn>(bench.dll.get(), which);
    if (!ask)
        bench.skip = std::string(export_row(which).name) + " is not in this build of the DLL";
    return ask != nullptr;
}

template <class Fn> static bool prepare_live(Bench &bench, Export which, Fn &ask, const char *bus, const char *device)
{
    return use_export(bench, which, ask) &&
           prepare_machine(bench, std::string(bus + 5) + "\\" + device + "\\BUS_01&DEV_00&FUNC_00");
}

static bool prepare_card(Bench &bench, Export which, const char *device)
{
    return prepare_live(bench, which, bench.ask, kPciBus, device) && prepare_card_files(bench, write_card_files);
}

static bool prepare_helper(Bench &bench)
{
    if (!use_export(bench, Export::GetSystemID, bench.ask) || !enter(bench))
        return false;
    if (bench.stand_ins.emplace().kxdodaze(12))
        return true;
    bench.skip = "cannot copy Kxdodaze.exe";
    return false;
}

// ---- the rows ----

namespace {

enum class Measure {
    timed,       // this program times subject and floor, which answer
    reported_us, // subject and floor report microseconds, -1 when they fail
    bytes        // subject and floor report sizes, -1 when they fail
};

enum class Goal {
    ratio,    // subject / floor at most the limit
    added_ms, // subject - floor at most the limit
    total_ms, // subject alone at most the limit
    none      // the ratio is shown, nothing is promised
};

struct Row {
    const char *name;
    const char *floor_name; // what the subject is set against, or null
    Measure measure;
    Goal goal;
    double limit;
    bool (*prepare)(Bench &); // false: not measurable here, Bench::skip says why
    int (*subject)(Bench &);  // one run; returns its answer
    int answer;               // what a timed subject must answer
    int (*floor)(Bench &);    // one run; a timed floor returns 0 when it missed its reads
};

} // namespace

// The load rows come first: the export rows keep the DLL loaded.
static const Row kRows[] = {
    {"KXVozaDa.dll file size", "kxempty.dll: entry routine only, same compiler and linker flags", Measure::bytes,
     Goal::none, 0, prepare_nothing, [](Bench &) { return file_size(kx::bin_dir() + "KXVozaDa.dll"); }, 0,
     [](Bench &) { return file_size(kx::bin_dir() + "kxempty.dll"); }},
    {"load + free, first in a bare process", "kxempty.dll, first in a bare process", Measure::reported_us, Goal::none,
     0, prepare_nothing, [](Bench &) { return first_load_us("KXVozaDa.dll", false); }, 0,
     [](Bench &) { return first_load_us("kxempty.dll", false); }},
    {"load + free, first in a process with USER32", "kxempty.dll, first in a process with USER32", Measure::reported_us,
     Goal::none, 0, prepare_nothing, [](Bench &) { return first_load_us("KXVozaDa.dll", true); }, 0,
     [](Bench &) { return first_load_us("kxempty.dll", true); }},
    {"load + free, again", "kxempty.dll, again", Measure::timed, Goal::none, 0, prepare_nothing,
     [](Bench &) { return load_and_free("KXVozaDa.dll"); }, 1, [](Bench &) { return load_and_free("kxempty.dll"); }},
    {"GetPCIInfo(0)", "Class of every PCI instance, DeviceDesc of the display, HardWareKey of every live node",
     Measure::timed, Goal::ratio, 1.2,
     [](Bench &b) { return prepare_live(b, Export::GetPCIInfo, b.pci_info, kPciBus, kDisplayDevice); },
     [](Bench &b) { return b.pci_info(0); }, 0xFFF0, [](Bench &) { return walk_floor(kPciBus, "DISPLAY", nullptr); }},
    {"GetAudioCardID()", "as for GetPCIInfo, for the MEDIA device, then AudCards.def line by line", Measure::timed,
     Goal::ratio, 1.2, [](Bench &b) { return prepare_card(b, Export::GetAudioCardID, kAudioDevice); },
     [](Bench &b) { return b.ask(); }, kAudioCard,
     [](Bench &) { return walk_floor(kPciBus, "MEDIA", "AudCards.def"); }},
    {"GetGraphicsCardID()", "as for GetPCIInfo, then VidCards.def line by line", Measure::timed, Goal::ratio, 1.2,
     [](Bench &b) { return prepare_card(b, Export::GetGraphicsCardID, kDisplayDevice); },
     [](Bench &b) { return b.ask(); }, kGraphicsCard,
     [](Bench &) { return walk_floor(kPciBus, "DISPLAY", "VidCards.def"); }},
    {"IsDVDDrivePresent(\"bench dvd\")", "as for GetPCIInfo, over Enum\\SCSI for the CDROM device", Measure::timed,
     Goal::ratio, 1.2, [](Bench &b) { return prepare_live(b, Export::IsDVDDrivePresent, b.dvd, kScsiBus, kDvdDevice); },
     [](Bench &b) {
         char asked[sizeof(kDvdAsked)];
         memcpy(asked, kDvdAsked, sizeof(asked)); // the export upper-cases it in place
         return b.dvd(asked);
     },
     1, [](Bench &) { return walk_floor(kScsiBus, "CDROM", nullptr); }},
    {"IsBroadLogicPresent()", "Mfg of every PCI instance", Measure::timed, Goal::ratio, 1.2,
     [](Bench &b) {
         return use_export(b, Export::IsBroadLogicPresent, b.ask) && prepare_machine(b, "ROOT\\*PNP0C02\\0000");
     },
     [](Bench &b) { return b.ask(); }, 1, [](Bench &) { return broadlogic_floor(); }},
    {"card lookup, AudCards.def of 100,000 lines", "fopen, fgets to the end, fclose", Measure::timed, Goal::ratio, 1.3,
     [](Bench &b) { return prepare_card_files(b, write_long_card_files); },
     [](Bench &) { return look_up(CardFile::audio, kAudioDesc); }, kAudioCard,
     [](Bench &) { return read_lines("AudCards.def"); }},
    {"card lookup, VidCards.def of 100,000 lines", "fopen, fgets to the end, fclose", Measure::timed, Goal::ratio, 1.3,
     [](Bench &b) { return prepare_card_files(b, write_long_card_files); },
     [](Bench &) { return look_up(CardFile::video, kDisplayDesc); }, kGraphicsCard,
     [](Bench &) { return read_lines("VidCards.def"); }},
    {"GetSystemID, helper exits at once", "start Kxdodaze.exe, wait for its exit code", Measure::timed, Goal::added_ms,
     20, prepare_helper, [](Bench &b) { return b.ask(); }, 12,
     [](Bench &) { return (int)(kx::run_as_version("sysid\\Kxdodaze.exe", nullptr, "") == 12); }},
    {"GetSystemID, both helpers absent", nullptr, Measure::timed, Goal::total_ms, 20,
     [](Bench &b) { return use_export(b, Export::GetSystemID, b.ask) && enter(b); }, [](Bench &b) { return b.ask(); },
     0, nullptr},
};

// ---- running and printing ----

static double median(std::vector<double> values)
{
    std::sort(values.begin(), values.end());
    size_t n = values.size();
    return n % 2 ? values[n / 2] : (values[n / 2 - 1] + values[n / 2]) / 2;
}

namespace {

// Medians over the runs. The result is taken run by run, each subject run
// against the floor run beside it, so that a burst of load from elsewhere
// on the machine weighs on one pair, which the median leaves out.
struct Outcome {
    double subject = 0, floor = 0; // in ms or bytes
    double ratio = 0, added = 0;   // subject / floor, subject - floor
    std::string fault;             // a wrong answer, or a floor that missed its reads
};

} // namespace

// One run of subject or floor: its time or what it reports, in ms or bytes.
static double run_once(Bench &bench, const Row &row, int (*run)(Bench &), bool is_floor, std::string &fault)
{
    double start = now_ms();
    int answer = run(bench);
    double took = now_ms() - start;
    bool failed = row.measure == Measure::timed ? (is_floor ? !answer : answer != row.answer) : answer < 0;
    if (failed && fault.empty())
        fault = std::string(is_floor ? "the floor" : "the subject") + " failed: " + std::to_string(answer);
    switch (row.measure) {
    case Measure::timed:
        return took;
    case Measure::reported_us:
        return answer / 1000.0;
    case Measure::bytes:
        return answer;
    }
    return 0;
}

// Runs subject and floor in pairs, which goes first changing from pair to
// pair, after one pair that is not counted.
static Outcome measure(Bench &bench, const Row &row, int runs)
{
    Outcome outcome;
    std::vector<double> subject, floor, ratio, added;
    for (int run = -1; run < runs; ++run) {
        double floor_took = 0;
        if (row.floor && run % 2)
            floor_took = run_once(bench, row, row.floor, true, outcome.fault);
        double took = run_once(bench, row, row.subject, false, outcome.fault);
        if (row.floor && !(run % 2))
            floor_took = run_once(bench, row, row.floor, true, outcome.fault);
        if (run < 0)
            continue;
        subject.push_back(took);
        floor.push_back(floor_took);
        ratio.push_back(took / floor_took);
        added.push_back(took - floor_took);
    }
    outcome.subject = median(subject);
    outcome.floor = median(floor);
    outcome.ratio = median(ratio);
    outcome.added = median(added);
    return outcome;
}

static std::string format(const char *pattern, double value)
{
    char text[64];
    snprintf(text, sizeof(text), pattern, value);
    return text;
}

static void print_row(int number, const Row &row, const Outcome &o)
{
    const char *unit = row.measure == Measure::bytes ? "%.0f B" : "%.2f ms";
    std::string subject = format(unit, o.subject), floor = row.floor ? format(unit, o.floor) : "-";
    std::string result = format("%.2fx", o.ratio), goal = "-";
    bool met = true;
    switch (row.goal) {
    case Goal::ratio:
        goal = format("<= %.1fx", row.limit);
        met = o.ratio <= row.limit;
        break;
    case Goal::added_ms:
        result = format("%+.2f ms", o.added);
        goal = format("<= +%.0f ms", row.limit);
        met = o.added <= row.limit;
        break;
    case Goal::total_ms:
        result = subject;
        goal = format("<= %.0f ms", row.limit);
        met = o.subject <= row.limit;
        break;
    case Goal::none:
        break;
    }
    std::string verdict = !o.fault.empty() ? "FAULT: " + o.fault : row.goal == Goal::none ? "" : met ? "met" : "MISSED";
    printf("%2d  %-44s %11s %11s %10s %11s  %s\n", number, row.name, subject.c_str(), floor.c_str(), result.c_str(),
           goal.c_str(), verdict.c_str());
    fflush(stdout);
}

static int run_rows(int runs)
{
    kx::TempCwd scratch;
    Bench bench;

    printf(
        "KXVozaDa.dll against its floors: medians of %d runs, after one that is not counted;\n"
        "each result is the median of the runs' own ratios or differences\n\n",
        runs);
    printf("%2s  %-44s %11s %11s %10s %11s\n", "#", "row", "subject", "floor", "result", "goal");
    int number = 0;
    for (const Row &row : kRows) {
        ++number;
        bench.skip.clear();
        if (row.prepare(bench))
            print_row(number, row, measure(bench, row, runs));
        else
            printf("%2d  %-44s  not measured: %s\n", number, row.name, bench.skip.c_str());
    }
    printf("\nfloors:\n");
    number = 0;
    for (const Row &row : kRows) {
        ++number;
        if (row.floor_name)
            printf("%2d  %s\n", number, row.floor_name);
    }

    if (bench.machine)
        profile_clear();
    return 0;
}

int main(int argc, char **argv)
{
    if (argc == 1)
        return run_rows(11);
    if (argc == 3 && !strcmp(argv[1], "--runs") && atoi(argv[2]) > 0)
        return run_rows(atoi(argv[2]));
    fprintf(stderr, "usage: kxbench [--runs N]   (N runs of each row, 11 by default)\n");
    return 2;
}
