// kxbench's parts: the synthetic machine that the device questions are
// asked on (bench_machine.cpp) and the floors, the reads that a question
// cannot avoid (bench_floors.cpp). The rows that set one against the other
// are in bench.cpp.
#pragma once

#include <string>

constexpr char kPciBus[] = "Enum\\PCI";
constexpr char kScsiBus[] = "Enum\\SCSI";
constexpr char kLiveTable[] = "Config Manager\\Enum";

// The devices asked about, after every filler device key of their bus,
// and the descriptions that the card files are looked up by.
constexpr char kDisplayDevice[] = "VEN_FFF0&DEV_0001&SUBSYS_00011AF0&REV_02";
constexpr char kAudioDevice[] = "VEN_FFF1&DEV_0002&SUBSYS_00021AF1&REV_01";
constexpr char kDvdDevice[] = "ZZZZ_BENCH_DVD-ROM_0001";

constexpr char kDisplayDesc[] = "Bench Graphics 3D";
constexpr char kAudioDesc[] = "Bench Audio PCI";

// What the card files answer for the two devices.
enum { kAudioCard = 7, kGraphicsCard = 1234 };

// ---- the synthetic machine ----

// Writes the machine's device keys and every live node but the last into
// a registry whose hardware tree has been cleared; false when the registry
// refuses a key or a value.
bool build_machine();

// Adds, or replaces, the live node that comes after every other one.
bool set_last_live_node(const std::string &hardware_key);

// AudCards.def and VidCards.def in the current folder: of a usual length
// with the devices asked about near the end, or of many lines with them
// named every so often.
bool write_card_files();
bool write_long_card_files();

// ---- the floors ----

// Every instance's Class, and the DeviceDesc of those of the class; then
// the HardWareKey of every live node up to the one that names the device;
// then, with a file, that file line by line. 0 when the live device or
// the file's lines were not found.
int walk_floor(const char *bus, const char *class_name, const char *file);

// The Mfg of every PCI instance; 1 when one is BroadLogic.
int broadlogic_floor();

// Reads `file` line by line with the C runtime, as the card lookup does,
// and says how many lines it read.
int read_lines(const char *file);

// LoadLibraryA and FreeLibrary in this process; 1 when it loaded.
int load_and_free(const char *name);

// The first load and free of a library in a fresh process, in
// microseconds, as kxloadonce.exe times it; with `window`, after USER32.
int first_load_us(const char *name, bool window);

// The size of the file at `path`, -1 when it cannot be read.
int file_size(const std::string &path);
