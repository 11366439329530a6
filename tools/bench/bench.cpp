// kxbench: what each question of KXVozaDa.dll costs, set against the reads
// that the question cannot avoid, timed side by side in this one program.
// Each row runs its subject and its floor alternately and prints the
// medians and their ratio (or difference) with the goal for that row.
//
// The device questions are asked on a large synthetic machine: 2,000
// device keys of two instances each under HKLM\Enum\PCI and as many under
// HKLM\Enum\SCSI, and 2,000 live nodes under HKEY_DYN_DATA\Config
// Manager\Enum. Wine hands subkeys out in alphabetical order, so the names
// put the device asked about after every other device key and its live
// node last: a question reads the whole tree before it finds its answer.
#include "profile/profile.h"

#include "inventory/card_lookup.h"

#include <windows.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

namespace {

enum { kDeviceKeys = 2000, kInstances = 2, kLiveNodes = 2000, kCardFileLines = 100000, kRegistryText = 2048 };

const char kPciBus[] = "Enum\\PCI";
const char kScsiBus[] = "Enum\\SCSI";
const char kLiveTable[] = "Config Manager\\Enum";
const char kLastNode[] = "FFFFFFFF"; // after every filler node, "C0000000" on

// The devices asked about, after every filler device key of their bus.
const char kDisplayDevice[] = "VEN_FFF0&DEV_0001&SUBSYS_00011AF0&REV_02";
const char kAudioDevice[] = "VEN_FFF1&DEV_0002&SUBSYS_00021AF1&REV_01";
const char kBroadLogicDevice[] = "VEN_FFF2&DEV_0003&SUBSYS_00031AF2&REV_01";
const char kDvdDevice[] = "ZZZZ_BENCH_DVD-ROM_0001";
const int kPciTargets = 3;

const char kDisplayDesc[] = "Bench Graphics 3D";
const char kAudioDesc[] = "Bench Audio PCI";
const char kDvdDesc[] = "Bench DVD-ROM Drive";
const char kDvdAsked[] = "bench dvd";

const int kAudioCard = 7, kGraphicsCard = 1234;

using Ask0 = int(WINAPI *)(void);
using Ask1 = int(WINAPI *)(int);
using AskText = int(WINAPI *)(char *);

struct Bench {
    std::string bin;      // this program's folder, with a trailing backslash
    std::string temp;     // scratch folder of this run, likewise
    HMODULE dll = nullptr;
    FARPROC ask = nullptr; // the export that the current row asks
    bool machine = false;  // the synthetic machine is in the registry
    std::string skip;      // why the current row cannot be measured
};

double now_ms()
{
    static LARGE_INTEGER frequency;
    if (!frequency.QuadPart)
        QueryPerformanceFrequency(&frequency);
    LARGE_INTEGER count;
    QueryPerformanceCounter(&count);
    return count.QuadPart * 1000.0 / frequency.QuadPart;
}

std::string program_folder()
{
    char path[MAX_PATH];
    DWORD n = GetModuleFileNameA(nullptr, path, sizeof(path));
    std::string folder(path, n);
    return folder.substr(0, folder.find_last_of("\\/") + 1);
}

// ---- the synthetic machine ----

// The machine's keys are volatile: wineserver never writes them to the
// prefix's registry files. It writes a changed tree out some 30 seconds
// after the change, and a tree this large would hold up every registry
// call of whichever row is being timed then.
HKEY create_key(HKEY root, const std::string &path)
{
    HKEY key = nullptr;
    RegCreateKeyExA(root, path.c_str(), 0, nullptr, REG_OPTION_VOLATILE, KEY_SET_VALUE, nullptr, &key, nullptr);
    return key;
}

void set_text(HKEY key, const char *name, const std::string &text)
{
    RegSetValueExA(key, name, 0, REG_SZ, (const BYTE *)text.c_str(), (DWORD)text.size() + 1);
}

void set_number(HKEY key, const char *name, DWORD number)
{
    RegSetValueExA(key, name, 0, REG_DWORD, (const BYTE *)&number, sizeof(number));
}

struct Instance {
    const char *klass, *description, *maker;
};

void add_device(const char *bus, const std::string &device, const Instance &values)
{
    for (int i = 0; i < kInstances; ++i) {
        char instance[64];
        snprintf(instance, sizeof(instance), "BUS_0%d&DEV_00&FUNC_00", i);
        HKEY key = create_key(HKEY_LOCAL_MACHINE, std::string(bus) + "\\" + device + "\\" + instance);
        set_text(key, "Class", values.klass);
        set_text(key, "DeviceDesc", values.description);
        set_text(key, "Mfg", values.maker);
        set_text(key, "HardwareID", std::string(bus + 5) + "\\" + device);
        set_text(key, "Driver", std::string(values.klass) + "\\0000");
        set_number(key, "ConfigFlags", 0);
        RegCloseKey(key);
    }
}

std::string filler_pci_device(int i)
{
    char name[64];
    snprintf(name, sizeof(name), "VEN_%04X&DEV_%04X&SUBSYS_%08X&REV_01", 0x1000 + i, 0x7000 + i, 0x10000 + i);
    return name;
}

void add_live_node(const std::string &name, const std::string &hardware_key)
{
    HKEY key = create_key(HKEY_DYN_DATA, std::string(kLiveTable) + "\\" + name);
    set_text(key, "HardWareKey", hardware_key);
    set_number(key, "Problem", 0);
    set_number(key, "Status", 0x0600600a);
    RegCloseKey(key);
}

void build_machine()
{
    static const char *const filler_classes[] = {"System", "Net", "USB", "HDC", "Ports", "Multimedia"};
    char text[64];
    for (int i = 0; i < kDeviceKeys - kPciTargets; ++i) {
        snprintf(text, sizeof(text), "Filler Device %d", i);
        add_device(kPciBus, filler_pci_device(i), {filler_classes[i % 6], text, "Filler Maker"});
    }
    add_device(kPciBus, kDisplayDevice, {"DISPLAY", kDisplayDesc, "Bench Maker"});
    add_device(kPciBus, kAudioDevice, {"MEDIA", kAudioDesc, "Bench Maker"});
    add_device(kPciBus, kBroadLogicDevice, {"System", "Bench Tuner", "BroadLogic"});

    for (int i = 0; i < kDeviceKeys - 1; ++i) {
        snprintf(text, sizeof(text), "DISK_%04d_BENCH", i);
        add_device(kScsiBus, text, {"DiskDrive", "Bench Disk", "Filler Maker"});
    }
    add_device(kScsiBus, kDvdDevice, {"CDROM", kDvdDesc, "Bench Maker"});

    for (int i = 0; i < kLiveNodes - 1; ++i) {
        snprintf(text, sizeof(text), "C%07X", i * 0x40);
        add_live_node(text, i < kDeviceKeys - kPciTargets ? "PCI\\" + filler_pci_device(i) + "\\BUS_00&DEV_00&FUNC_00"
                                                          : std::string("ROOT\\*PNP0C01\\0000"));
    }
}

// The synthetic machine with `hardware_key` as its last live node.
bool prepare_machine(Bench &bench, const std::string &hardware_key)
{
    if (!bench.machine) {
        profile_clear();
        build_machine();
        bench.machine = true;
    }
    add_live_node(kLastNode, hardware_key);
    return true;
}

// ---- files ----

bool write_file(const std::string &path, const std::string &bytes)
{
    FILE *file = fopen(path.c_str(), "wb");
    if (!file)
        return false;
    bool written = fwrite(bytes.data(), 1, bytes.size(), file) == bytes.size();
    return fclose(file) == 0 && written;
}

// A folder of the scratch folder, made current.
bool enter(Bench &bench, const char *folder)
{
    std::string path = bench.temp + folder;
    CreateDirectoryA(path.c_str(), nullptr);
    if (SetCurrentDirectoryA(path.c_str()))
        return true;
    bench.skip = "cannot enter " + path;
    return false;
}

// Card files of a usual length; the device asked about is named near the end.
bool write_card_files(Bench &bench)
{
    std::string audio = "; audio cards\n", video = "; graphics cards\n";
    char line[128];
    for (int i = 0; i < 40; ++i) {
        snprintf(line, sizeof(line), "%d Sound Maker Model %02d\n", i % 10, i);
        audio += line;
        snprintf(line, sizeof(line), "0.%02d.%02d.VIDEO MAKER MODEL %02d\n", i / 10, i, i);
        video += line;
    }
    snprintf(line, sizeof(line), "%d %s\n", kAudioCard, "BENCH AUDIO");
    audio += line;
    snprintf(line, sizeof(line), "0.%02d.%02d.%s\n", kGraphicsCard / 100, kGraphicsCard % 100, "BENCH GRAPHICS");
    video += line;
    if (write_file("AudCards.def", audio) && write_file("VidCards.def", video))
        return true;
    bench.skip = "cannot write the card files";
    return false;
}

// Card files of 100,000 lines, the device asked about named every 10,000.
bool write_long_card_files(Bench &bench)
{
    std::string audio, video;
    char line[128];
    for (int i = 0; i < kCardFileLines; ++i) {
        if (i % 10000 == 9999) {
            snprintf(line, sizeof(line), "%d %s\n", kAudioCard, "BENCH AUDIO");
            audio += line;
            snprintf(line, sizeof(line), "0.%02d.%02d.%s\n", kGraphicsCard / 100, kGraphicsCard % 100,
                     "BENCH GRAPHICS");
            video += line;
            continue;
        }
        snprintf(line, sizeof(line), "%d Sound Maker Model %05d PCI\n", i % 10, i);
        audio += line;
        snprintf(line, sizeof(line), "0.%02d.%02d.VIDEO MAKER MODEL %05d\n", i / 100 % 100, i % 100, i);
        video += line;
    }
    if (write_file("AudCards.def", audio) && write_file("VidCards.def", video))
        return true;
    bench.skip = "cannot write the card files";
    return false;
}

// ---- floors: the reads that a question cannot avoid ----

bool enum_key(HKEY key, DWORD index, char *name)
{
    DWORD length = kRegistryText;
    return RegEnumKeyExA(key, index, name, &length, nullptr, nullptr, nullptr, nullptr) == ERROR_SUCCESS;
}

bool read_value(HKEY key, const char *name, char *value)
{
    DWORD size = kRegistryText;
    return RegQueryValueExA(key, name, nullptr, nullptr, (BYTE *)value, &size) == ERROR_SUCCESS;
}

// Says how many lines it read.
int read_lines(const char *file)
{
    char line[1024];
    FILE *stream = fopen(file, "rt");
    if (!stream)
        return 0;
    int lines = 0;
    while (fgets(line, sizeof(line), stream))
        ++lines;
    fclose(stream);
    return lines;
}

// Calls visit(instance key, device key name) for every instance key of
// the bus.
template <class Visit> void for_each_instance(const char *bus, Visit visit)
{
    char device_name[kRegistryText], instance_name[kRegistryText];
    HKEY bus_key, device, instance;
    if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, bus, 0, KEY_READ, &bus_key))
        return;
    for (DWORD i = 0; enum_key(bus_key, i, device_name); ++i) {
        if (RegOpenKeyExA(bus_key, device_name, 0, KEY_READ, &device))
            continue;
        for (DWORD j = 0; enum_key(device, j, instance_name); ++j) {
            if (RegOpenKeyExA(device, instance_name, 0, KEY_READ, &instance))
                continue;
            visit(instance, device_name);
            RegCloseKey(instance);
        }
        RegCloseKey(device);
    }
    RegCloseKey(bus_key);
}

// Every instance's Class, and the DeviceDesc of those of the class; then
// the HardWareKey of every live node up to the one that names the device;
// then, for a card question, its card file line by line. Says whether the
// live device was found.
int walk_floor(const char *bus, const char *class_name, const char *file)
{
    char value[kRegistryText], device[kRegistryText] = "";
    for_each_instance(bus, [&](HKEY instance, const char *device_name) {
        if (read_value(instance, "Class", value) && !_stricmp(value, class_name)) {
            read_value(instance, "DeviceDesc", value);
            snprintf(device, sizeof(device), "%s\\%s", bus + 5, device_name);
        }
    });
    HKEY table, node;
    if (!device[0] || RegOpenKeyExA(HKEY_DYN_DATA, kLiveTable, 0, KEY_READ, &table))
        return 0;
    bool found = false;
    char node_name[kRegistryText];
    for (DWORD k = 0; !found && enum_key(table, k, node_name); ++k) {
        if (RegOpenKeyExA(table, node_name, 0, KEY_READ, &node))
            break;
        found = read_value(node, "HardWareKey", value) && !strncmp(value, device, strlen(device));
        RegCloseKey(node);
    }
    RegCloseKey(table);
    return found && (!file || read_lines(file));
}

int broadlogic_floor()
{
    char value[kRegistryText];
    int found = 0;
    for_each_instance(kPciBus, [&](HKEY instance, const char *) {
        found |= read_value(instance, "Mfg", value) && !_stricmp(value, "BroadLogic");
    });
    return found;
}

// Starts a program hidden, as GetSystemID starts its helper, and waits for
// its exit code; -1 when it does not start.
int run_to_exit(const char *program, char *command)
{
    STARTUPINFOA startup = {};
    PROCESS_INFORMATION process;
    DWORD code = (DWORD)-1;
    startup.cb = sizeof(startup);
    startup.dwFlags = STARTF_USESHOWWINDOW;
    startup.wShowWindow = SW_HIDE;
    if (!CreateProcessA(program, command, nullptr, nullptr, FALSE, NORMAL_PRIORITY_CLASS, nullptr, nullptr,
                        &startup, &process))
        return -1;
    WaitForSingleObject(process.hProcess, INFINITE);
    GetExitCodeProcess(process.hProcess, &code);
    CloseHandle(process.hProcess);
    CloseHandle(process.hThread);
    return (int)code;
}

int load_and_free(const char *name)
{
    HMODULE module = LoadLibraryA(name);
    if (!module)
        return 0;
    FreeLibrary(module);
    return 1;
}

// The first load of a library in a process, timed by kxloadonce.exe.
int first_load_us(const char *name, bool window)
{
    std::string program = program_folder() + "kxloadonce.exe";
    std::string command = "kxloadonce " + std::string(name) + (window ? " window" : "");
    return run_to_exit(program.c_str(), &command[0]);
}

int look_up(CardFile file, const char *description)
{
    int result;
    return look_up_card(file, description, nullptr, result) ? result : -3;
}

int file_size(const std::string &path)
{
    WIN32_FILE_ATTRIBUTE_DATA data;
    return GetFileAttributesExA(path.c_str(), GetFileExInfoStandard, &data) ? (int)data.nFileSizeLow : -1;
}

// ---- preparing a row ----

bool prepare_nothing(Bench &)
{
    return true;
}

// Loads the DLL, once, and looks up the export that the row asks.
bool use_export(Bench &bench, const char *name)
{
    if (!bench.dll)
        bench.dll = LoadLibraryA("KXVozaDa.dll");
    bench.ask = bench.dll ? GetProcAddress(bench.dll, name) : nullptr;
    if (!bench.ask)
        bench.skip = std::string(name) + " is not in this build of the DLL";
    return bench.ask != nullptr;
}

bool prepare_live(Bench &bench, const char *name, const char *bus, const char *device)
{
    return use_export(bench, name) &&
           prepare_machine(bench, std::string(bus + 5) + "\\" + device + "\\BUS_01&DEV_00&FUNC_00");
}

bool prepare_card(Bench &bench, const char *name, const char *device)
{
    return prepare_live(bench, name, kPciBus, device) && enter(bench, "cards") && write_card_files(bench);
}

bool prepare_helper(Bench &bench)
{
    if (!use_export(bench, "GetSystemID") || !enter(bench, "helper"))
        return false;
    std::string helper = bench.bin + "sysid\\Kxdodaze.exe";
    if (!CopyFileA(helper.c_str(), "Kxdodaze.exe", FALSE)) {
        bench.skip = "cannot copy " + helper;
        return false;
    }
    SetEnvironmentVariableA("KX_DODAZE_EXIT", "12");
    SetEnvironmentVariableA("KX_DODAZE_RUN_MS", "0");
    return true;
}

// ---- the rows ----

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

// The load rows come first: the export rows keep the DLL loaded.
const Row kRows[] = {
    {"KXVozaDa.dll file size", "kxempty.dll: entry routine only, same compiler and linker flags", Measure::bytes,
     Goal::none, 0, prepare_nothing, [](Bench &b) { return file_size(b.bin + "KXVozaDa.dll"); }, 0,
     [](Bench &b) { return file_size(b.bin + "kxempty.dll"); }},
    {"load + free, first in a bare process", "kxempty.dll, first in a bare process", Measure::reported_us,
     Goal::none, 0, prepare_nothing, [](Bench &) { return first_load_us("KXVozaDa.dll", false); }, 0,
     [](Bench &) { return first_load_us("kxempty.dll", false); }},
    {"load + free, first in a process with USER32", "kxempty.dll, first in a process with USER32",
     Measure::reported_us, Goal::none, 0, prepare_nothing,
     [](Bench &) { return first_load_us("KXVozaDa.dll", true); }, 0,
     [](Bench &) { return first_load_us("kxempty.dll", true); }},
    {"load + free, again", "kxempty.dll, again", Measure::timed, Goal::none, 0, prepare_nothing,
     [](Bench &) { return load_and_free("KXVozaDa.dll"); }, 1, [](Bench &) { return load_and_free("kxempty.dll"); }},
    {"GetPCIInfo(0)", "Class of every PCI instance, DeviceDesc of the display, HardWareKey of every live node",
     Measure::timed, Goal::ratio, 1.2, [](Bench &b) { return prepare_live(b, "GetPCIInfo", kPciBus, kDisplayDevice); },
     [](Bench &b) { return ((Ask1)b.ask)(0); }, 0xFFF0,
     [](Bench &) { return walk_floor(kPciBus, "DISPLAY", nullptr); }},
    {"GetAudioCardID()", "as for GetPCIInfo, for the MEDIA device, then AudCards.def line by line",
     Measure::timed, Goal::ratio, 1.2, [](Bench &b) { return prepare_card(b, "GetAudioCardID", kAudioDevice); },
     [](Bench &b) { return ((Ask0)b.ask)(); }, kAudioCard,
     [](Bench &) { return walk_floor(kPciBus, "MEDIA", "AudCards.def"); }},
    {"GetGraphicsCardID()", "as for GetPCIInfo, then VidCards.def line by line", Measure::timed, Goal::ratio, 1.2,
     [](Bench &b) { return prepare_card(b, "GetGraphicsCardID", kDisplayDevice); },
     [](Bench &b) { return ((Ask0)b.ask)(); }, kGraphicsCard,
     [](Bench &) { return walk_floor(kPciBus, "DISPLAY", "VidCards.def"); }},
    {"IsDVDDrivePresent(\"bench dvd\")", "as for GetPCIInfo, over Enum\\SCSI for the CDROM device", Measure::timed,
     Goal::ratio, 1.2, [](Bench &b) { return prepare_live(b, "IsDVDDrivePresent", kScsiBus, kDvdDevice); },
     [](Bench &b) {
         char asked[sizeof(kDvdAsked)];
         memcpy(asked, kDvdAsked, sizeof(asked)); // the export upper-cases it in place
         return ((AskText)b.ask)(asked);
     },
     1, [](Bench &) { return walk_floor(kScsiBus, "CDROM", nullptr); }},
    {"IsBroadLogicPresent()", "Mfg of every PCI instance", Measure::timed, Goal::ratio, 1.2,
     [](Bench &b) { return use_export(b, "IsBroadLogicPresent") && prepare_machine(b, "ROOT\\*PNP0C02\\0000"); },
     [](Bench &b) { return ((Ask0)b.ask)(); }, 1, [](Bench &) { return broadlogic_floor(); }},
    {"card lookup, AudCards.def of 100,000 lines", "fopen, fgets to the end, fclose", Measure::timed, Goal::ratio,
     1.3, [](Bench &b) { return enter(b, "long") && write_long_card_files(b); },
     [](Bench &) { return look_up(CardFile::audio, kAudioDesc); }, kAudioCard,
     [](Bench &) { return read_lines("AudCards.def"); }},
    {"card lookup, VidCards.def of 100,000 lines", "fopen, fgets to the end, fclose", Measure::timed, Goal::ratio,
     1.3, [](Bench &b) { return enter(b, "long") && write_long_card_files(b); },
     [](Bench &) { return look_up(CardFile::video, kDisplayDesc); },
     kGraphicsCard, [](Bench &) { return read_lines("VidCards.def"); }},
    {"GetSystemID, helper exits at once", "start Kxdodaze.exe hidden, wait for its exit code", Measure::timed,
     Goal::added_ms, 20, prepare_helper, [](Bench &b) { return ((Ask0)b.ask)(); }, 12,
     [](Bench &) { return (int)(run_to_exit("Kxdodaze.exe", nullptr) == 12); }},
    {"GetSystemID, both helpers absent", nullptr, Measure::timed, Goal::total_ms, 20,
     [](Bench &b) { return use_export(b, "GetSystemID") && enter(b, "empty"); },
     [](Bench &b) { return ((Ask0)b.ask)(); }, 0, nullptr},
};

// ---- running and printing ----

double median(std::vector<double> values)
{
    std::sort(values.begin(), values.end());
    size_t n = values.size();
    return n % 2 ? values[n / 2] : (values[n / 2 - 1] + values[n / 2]) / 2;
}

// Medians over the runs. The result is taken run by run, each subject run
// against the floor run beside it, so that a burst of load from elsewhere
// on the machine weighs on one pair, which the median leaves out.
struct Outcome {
    double subject = 0, floor = 0; // in ms or bytes
    double ratio = 0, added = 0;   // subject / floor, subject - floor
    std::string fault;             // a wrong answer, or a floor that missed its reads
};

// One run of subject or floor: its time or what it reports, in ms or bytes.
double run_once(Bench &bench, const Row &row, int (*run)(Bench &), bool is_floor, std::string &fault)
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
Outcome measure(Bench &bench, const Row &row, int runs)
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

std::string format(const char *pattern, double value)
{
    char text[64];
    snprintf(text, sizeof(text), pattern, value);
    return text;
}

void print_row(int number, const Row &row, const Outcome &o)
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

// Deletes the scratch folder and what this program put in it.
void remove_scratch(const std::string &temp)
{
    static const char *const files[] = {"helper\\Kxdodaze.exe", "cards\\AudCards.def", "cards\\VidCards.def",
                                        "long\\AudCards.def", "long\\VidCards.def"};
    static const char *const folders[] = {"helper", "cards", "long", "empty", ""};
    for (const char *file : files)
        DeleteFileA((temp + file).c_str());
    for (const char *folder : folders)
        RemoveDirectoryA((temp + folder).c_str());
}

int run_rows(int runs)
{
    Bench bench;
    bench.bin = program_folder();
    char temp[MAX_PATH];
    GetTempPathA(sizeof(temp), temp);
    bench.temp = std::string(temp) + "kxbench." + std::to_string(GetCurrentProcessId()) + "\\";
    CreateDirectoryA(bench.temp.c_str(), nullptr);

    printf("KXVozaDa.dll against its floors: medians of %d runs, after one that is not counted;\n"
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

    SetCurrentDirectoryA(bench.bin.c_str());
    if (bench.machine)
        profile_clear();
    remove_scratch(bench.temp);
    return 0;
}

} // namespace

int main(int argc, char **argv)
{
    if (argc == 1)
        return run_rows(11);
    if (argc == 3 && !strcmp(argv[1], "--runs") && atoi(argv[2]) > 0)
        return run_rows(atoi(argv[2]));
    fprintf(stderr, "usage: kxbench [--runs N]   (N runs of each row, 11 by default)\n");
    return 2;
}
