// The synthetic machine: 2,000 device keys of two instances each under
// HKLM\Enum\PCI and as many under HKLM\Enum\SCSI, and 2,000 live nodes
// under HKEY_DYN_DATA\Config Manager\Enum. Wine hands subkeys out in
// alphabetical order, so the names put the device asked about after every
// other device key and its live node last: a question reads the whole tree
// before it finds its answer. Beside it, the card files that the card
// questions read.
#include "bench.h"

#include "base/unique.h"

#include <windows.h>

#include <cstdio>

enum { kDeviceKeys = 2000, kInstances = 2, kLiveNodes = 2000, kCardFileLines = 100000 };

static const char kBroadLogicDevice[] = "VEN_FFF2&DEV_0003&SUBSYS_00031AF2&REV_01";
static const char kDvdDesc[] = "Bench DVD-ROM Drive";
static const int kPciTargets = 3;           // display, audio and BroadLogic devices
static const char kLastNode[] = "FFFFFFFF"; // after every filler node, "C0000000" on

namespace {

// The machine's keys are volatile: wineserver never writes them to the
// prefix's registry files. It writes a changed tree out some 30 seconds
// after the change, and a tree this large would hold up every registry
// call of whichever row is being timed then.
struct VolatileKey {
    UniqueKey handle;
    VolatileKey(HKEY root, const std::string &path)
    {
        if (RegCreateKeyExA(root, path.c_str(), 0, nullptr, REG_OPTION_VOLATILE, KEY_SET_VALUE, nullptr, handle.put(),
                            nullptr) != ERROR_SUCCESS)
            handle.release();
    }
    bool set(const char *name, const std::string &text) const
    {
        return RegSetValueExA(handle.get(), name, 0, REG_SZ, (const BYTE *)text.c_str(), (DWORD)text.size() + 1) ==
               ERROR_SUCCESS;
    }
    bool set(const char *name, DWORD number) const
    {
        return RegSetValueExA(handle.get(), name, 0, REG_DWORD, (const BYTE *)&number, sizeof(number)) == ERROR_SUCCESS;
    }
};

struct Instance {
    const char *klass, *description, *maker;
};

} // namespace

static bool add_device(const char *bus, const std::string &device, const Instance &values)
{
    for (int i = 0; i < kInstances; ++i) {
        char instance[64];
        snprintf(instance, sizeof(instance), "BUS_0%d&DEV_00&FUNC_00", i);
        VolatileKey key(HKEY_LOCAL_MACHINE, std::string(bus) + "\\" + device + "\\" + instance);
        if (!key.handle || !key.set("Class", values.klass) || !key.set("DeviceDesc", values.description) ||
            !key.set("Mfg", values.maker) || !key.set("HardwareID", std::string(bus + 5) + "\\" + device) ||
            !key.set("Driver", std::string(values.klass) + "\\0000") || !key.set("ConfigFlags", 0))
            return false;
    }
    return true;
}

static std::string filler_pci_device(int i)
{
    char name[64];
    snprintf(name, sizeof(name), "VEN_%04X&DEV_%04X&SUBSYS_%08X&REV_01", 0x1000 + i, 0x7000 + i, 0x10000 + i);
    return name;
}

static bool add_live_node(const std::string &name, const std::string &hardware_key)
{
    VolatileKey key(HKEY_DYN_DATA, std::string(kLiveTable) + "\\" + name);
    return key.handle && key.set("HardWareKey", hardware_key) && key.set("Problem", 0) && key.set("Status", 0x0600600a);
}

bool build_machine()
{
    static const char *const filler_classes[] = {"System", "Net", "USB", "HDC", "Ports", "Multimedia"};
    char text[64];
    for (int i = 0; i < kDeviceKeys - kPciTargets; ++i) {
        snprintf(text, sizeof(text), "Filler Device %d", i);
        if (!add_device(kPciBus, filler_pci_device(i), {filler_classes[i % 6], text, "Filler Maker"}))
            return false;
    }
    if (!add_device(kPciBus, kDisplayDevice, {"DISPLAY", kDisplayDesc, "Bench Maker"}) ||
        !add_device(kPciBus, kAudioDevice, {"MEDIA", kAudioDesc, "Bench Maker"}) ||
        !add_device(kPciBus, kBroadLogicDevice, {"System", "Bench Tuner", "BroadLogic"}))
        return false;

    for (int i = 0; i < kDeviceKeys - 1; ++i) {
        snprintf(text, sizeof(text), "DISK_%04d_BENCH", i);
        if (!add_device(kScsiBus, text, {"DiskDrive", "Bench Disk", "Filler Maker"}))
            return false;
    }
    if (!add_device(kScsiBus, kDvdDevice, {"CDROM", kDvdDesc, "Bench Maker"}))
        return false;

    for (int i = 0; i < kLiveNodes - 1; ++i) {
        snprintf(text, sizeof(text), "C%07X", i * 0x40);
        if (!add_live_node(text, i < kDeviceKeys - kPciTargets
                                     ? "PCI\\" + filler_pci_device(i) + "\\BUS_00&DEV_00&FUNC_00"
                                     : std::string("ROOT\\*PNP0C01\\0000")))
            return false;
    }
    return true;
}

bool set_last_live_node(const std::string &hardware_key)
{
    return add_live_node(kLastNode, hardware_key);
}

// ---- card files ----

static bool write_file(const char *path, const std::string &bytes)
{
    UniqueStream file(fopen(path, "wb"));
    if (!file)
        return false;
    // A write fails for good only as the stream is closed and flushed, so
    // the close says whether the file was written.
    const bool written = fwrite(bytes.data(), 1, bytes.size(), file.get()) == bytes.size();
    return file.close() && written;
}

// The lines that name the devices asked about.
static void add_bench_lines(std::string &audio, std::string &video)
{
    char line[128];
    snprintf(line, sizeof(line), "%d %s\n", kAudioCard, "BENCH AUDIO");
    audio += line;
    snprintf(line, sizeof(line), "0.%02d.%02d.%s\n", kGraphicsCard / 100, kGraphicsCard % 100, "BENCH GRAPHICS");
    video += line;
}

bool write_card_files()
{
    std::string audio = "; audio cards\n", video = "; graphics cards\n";
    char line[128];
    for (int i = 0; i < 40; ++i) {
        snprintf(line, sizeof(line), "%d Sound Maker Model %02d\n", i % 10, i);
        audio += line;
        snprintf(line, sizeof(line), "0.%02d.%02d.VIDEO MAKER MODEL %02d\n", i / 10, i, i);
        video += line;
    }
    add_bench_lines(audio, video);
    return write_file("AudCards.def", audio) && write_file("VidCards.def", video);
}

// 100,000 lines, the devices asked about named every 10,000.
bool write_long_card_files()
{
    std::string audio, video;
    char line[128];
    for (int i = 0; i < kCardFileLines; ++i) {
        if (i % 10000 == 9999) {
            add_bench_lines(audio, video);
            continue;
        }
        snprintf(line, sizeof(line), "%d Sound Maker Model %05d PCI\n", i % 10, i);
        audio += line;
        snprintf(line, sizeof(line), "0.%02d.%02d.VIDEO MAKER MODEL %05d\n", i / 100 % 100, i % 100, i);
        video += line;
    }
    return write_file("AudCards.def", audio) && write_file("VidCards.def", video);
}
