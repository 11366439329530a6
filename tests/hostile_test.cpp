// What a machine nobody here has seen may hold, through the real registry
// and real files under Wine: values at and past the readers' buffers,
// binary values without a terminator, a thousand devices and live nodes,
// huge and malformed definition files, and BIOSID.TMP files of every size.
// Each must give the answer that the readers' rules give, without a crash,
// an overrun or a hang.
#include "harness/harness.h"
#include "harness/import_patch.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <string>

static const char kDisplayDevice[] = "VEN_1D5A&DEV_0412&SUBSYS_3F011D5A&REV_02";
static const char kDisplayInstance[] = "Enum\\PCI\\VEN_1D5A&DEV_0412&SUBSYS_3F011D5A&REV_02\\BUS_01&DEV_00&FUNC_00";
// The sample's fourth live node, C1068110, by the name its replay gives it.
static const std::string kDisplayNode = kx::live_node_key(4);
static const char kDisplayHardwareKey[] = "PCI\\VEN_1D5A&DEV_0412&SUBSYS_3F011D5A&REV_02\\BUS_01&DEV_00&FUNC_00";
static const char kDvdInstance[] =
    "Enum\\SCSI\\GENERIC_DVD-ROM_DX-5___\\MF&CHILD0000&PCI&VEN_1D17&DEV_7111&SUBSYS_00000000&"
    "REV_01&BUS_00&DEV_07&FUNC_0100";
static char g_dvd_text[16];

static void load_sample(const char *name)
{
    kx::load_machine_file(kx::source_path("samples/machines/") + name);
}

// `text` padded with 'x' to `size` bytes; a text value's size counts its
// terminator.
static std::string padded(const char *text, size_t size, bool terminated)
{
    std::string bytes(text);
    bytes.resize(size - (terminated ? 1 : 0), 'x');
    if (terminated)
        bytes += '\0';
    return bytes;
}

// Asks an export the way the rows below name it: GetPCIInfo for the device
// ID, IsDVDDrivePresent for "generic dvd", the others without arguments.
static int32_t ask(const kx::Dll &dll, const char *name)
{
    if (!strcmp(name, "GetPCIInfo"))
        return kx::call_export(dll, name, {kx::arg(1)});
    if (!strcmp(name, "IsDVDDrivePresent")) {
        strcpy(g_dvd_text, "generic dvd");
        return kx::call_export(dll, name, {kx::arg(g_dvd_text)});
    }
    return kx::call_export(dll, name);
}

// One value of the sample machine replaced; HKEY_DYN_DATA for the live
// node, HKEY_LOCAL_MACHINE otherwise.
TEST(HostileInputs, RegistryValuesAtAndPastTheBuffers)
{
    static const struct {
        const char *key, *value;
        DWORD type;
        const char *text;
        size_t size;
        const char *question;
        int32_t expected;
    } rows[] = {
        {kDisplayNode.c_str(), "HardWareKey", REG_SZ, kDisplayHardwareKey, 2047, "GetPCIInfo", 0x0412},
        {kDisplayNode.c_str(), "HardWareKey", REG_SZ, kDisplayHardwareKey, 2048, "GetPCIInfo", 0x0412},
        {kDisplayNode.c_str(), "HardWareKey", REG_SZ, kDisplayHardwareKey, 2049, "GetPCIInfo", -1},
        {kDisplayNode.c_str(), "HardWareKey", REG_BINARY, kDisplayHardwareKey, sizeof(kDisplayHardwareKey) - 1,
         "GetPCIInfo", 0x0412},
        {kDisplayNode.c_str(), "HardWareKey", REG_BINARY, kDisplayHardwareKey, 2048, "GetPCIInfo", 0x0412},
        {kDisplayNode.c_str(), "HardWareKey", REG_BINARY, kDisplayHardwareKey, 2049, "GetPCIInfo", -1},
        {kDisplayInstance, "Class", REG_BINARY, "display", 7, "GetPCIInfo", 0x0412},
        {kDisplayInstance, "Class", REG_SZ, "DISPLAY", 2048, "GetPCIInfo", -1},
        {kDisplayInstance, "Class", REG_SZ, "DISPLAY", 2049, "GetPCIInfo", -1},
        {kDisplayInstance, "DeviceDesc", REG_SZ, "Generic Graphics Accelerator 3D AGP", 2048, "GetGraphicsCardID",
         1002},
        {kDisplayInstance, "DeviceDesc", REG_BINARY, "Generic Graphics Accelerator 3D AGP", 2048, "GetGraphicsCardID",
         1002},
        {kDisplayInstance, "DeviceDesc", REG_SZ, "Generic Graphics Accelerator 3D AGP", 2049, "GetGraphicsCardID", -1},
        {kDisplayInstance, "DeviceDesc", REG_SZ, "Generic Graphics Accelerator 3D AGP", 5000, "GetGraphicsCardID", -1},
        {kDisplayInstance, "DeviceDesc", REG_SZ, "Generic Graphics Accelerator 3D AGP", 5000, "GetPCIInfo", 0x0412},
        {kDvdInstance, "DeviceDesc", REG_SZ, "GENERIC DVD-ROM DX-5", 2048, "IsDVDDrivePresent", 1},
        {kDvdInstance, "DeviceDesc", REG_BINARY, "GENERIC DVD-ROM DX-5", 20, "IsDVDDrivePresent", 1},
        {kDvdInstance, "DeviceDesc", REG_SZ, "GENERIC DVD-ROM DX-5", 5000, "IsDVDDrivePresent", 0},
    };
    kx::Dll dll;
    kx::TempCwd cwd;
    cwd.write("VidCards.def", kx::read_file(kx::source_path("samples/VidCards.def")));
    for (const auto &row : rows) {
        SCOPED_TRACE(std::string(row.key) + " " + row.value + ": " + std::to_string(row.size) + " bytes, type " +
                     std::to_string(row.type) + ", " + row.question);
        load_sample("win98-pc.reg");
        kx::set_value(row.key == kDisplayNode ? HKEY_DYN_DATA : HKEY_LOCAL_MACHINE, row.key, row.value, row.type,
                      padded(row.text, row.size, row.type == REG_SZ), true);
        EXPECT_EQ(row.expected, ask(dll, row.question));
    }
}

// A machine with `devices` display adapters VEN_0000, VEN_0001, ... and
// `nodes` live nodes, of which the last one is the device VEN_<live>.
static std::string crowded_machine(int devices, int nodes, int live)
{
    kx::Machine machine;
    machine.installed("PCI");
    char text[64];
    for (int d = 0; d < devices; ++d) {
        snprintf(text, sizeof(text), "PCI\\VEN_%04X&DEV_0412\\0", d);
        machine.installed(text).value("Class", "DISPLAY");
    }
    machine.live_table();
    for (int n = 0; n < nodes; ++n) {
        char node[8];
        snprintf(node, sizeof(node), "N%04d", n);
        if (n + 1 < nodes)
            snprintf(text, sizeof(text), "ROOT\\*PNP%04X\\0000", n);
        else
            snprintf(text, sizeof(text), "PCI\\VEN_%04X&DEV_0412\\0", live);
        machine.live(node, text);
    }
    return machine.text();
}

// Only the first 20 display adapters in enumeration order are candidates.
TEST(HostileInputs, AThousandDevicesAndLiveNodes)
{
    static const struct {
        int devices, nodes, live;
        int32_t expected;
    } rows[] = {
        {1000, 1, 5, 0x0412}, {1000, 1, 19, 0x0412}, {1000, 1, 20, -1},       {1000, 1, 999, -1},
        {1, 1000, 0, 0x0412}, {1, 1000, 1, -1},      {1000, 1000, 7, 0x0412},
    };
    kx::Dll dll;
    for (const auto &row : rows) {
        SCOPED_TRACE(std::to_string(row.devices) + " devices, " + std::to_string(row.nodes) + " nodes, live VEN_" +
                     std::to_string(row.live));
        kx::load_machine(crowded_machine(row.devices, row.nodes, row.live));
        EXPECT_EQ(row.expected, ask(dll, "GetPCIInfo"));
    }
}

TEST(HostileInputs, DeviceKeyNamesAtAndPastTheBuffer)
{
    static const struct {
        size_t length;
        int32_t expected;
    } rows[] = {{1023, 0x0412}, {2047, 0x0412}, {2048, -1}, {2049, -1}};
    kx::Dll dll;
    // Key names are at most 255 characters in the registry of Windows and
    // of Wine, so longer device key names are handed to the DLL by its own
    // RegEnumKeyExA: the display adapter's name padded with 'x' to `length`
    // characters, cut and unterminated with ERROR_MORE_DATA when it does not
    // fit, as the registry reports a name too long for the buffer. Its
    // RegOpenKeyExA opens the real key under the long name.
    size_t length = 0;
    kx::Hook<decltype(&RegEnumKeyExA)> enumerate(
        dll.module(), "ADVAPI32.dll", "RegEnumKeyExA",
        [&](HKEY key, DWORD index, LPSTR name, LPDWORD size, LPDWORD reserved, LPSTR cls, LPDWORD cls_length,
            PFILETIME written) {
            DWORD room = *size;
            LONG status = enumerate.original()(key, index, name, size, reserved, cls, cls_length, written);
            if (status != ERROR_SUCCESS || strcmp(name, kDisplayDevice))
                return status;
            std::string long_name = padded(kDisplayDevice, length + 1, true);
            memcpy(name, long_name.data(), std::min<size_t>(room, long_name.size()));
            *size = (DWORD)length;
            return length < room ? ERROR_SUCCESS : ERROR_MORE_DATA;
        });
    kx::Hook<decltype(&RegOpenKeyExA)> open(
        dll.module(), "ADVAPI32.dll", "RegOpenKeyExA",
        [&](HKEY parent, LPCSTR name, DWORD options, REGSAM access, PHKEY key) {
            size_t device = strlen(kDisplayDevice);
            bool long_name = strlen(name) > device && !strncmp(name, kDisplayDevice, device) && name[device] == 'x';
            return open.original()(parent, long_name ? kDisplayDevice : name, options, access, key);
        });
    for (const auto &row : rows) {
        SCOPED_TRACE("device key name of " + std::to_string(row.length) + " characters");
        length = row.length;
        load_sample("win98-pc.reg");
        // The live node names the long key, as far as a readable value holds it.
        std::string hardware_key =
            padded(("PCI\\" + padded(kDisplayDevice, row.length + 1, false)).c_str(), 2048, true);
        kx::set_value(HKEY_DYN_DATA, kDisplayNode, "HardWareKey", REG_SZ, hardware_key, true);
        EXPECT_EQ(row.expected, ask(dll, "GetPCIInfo"));
    }
}

static std::string repeated(const std::string &line, int times)
{
    std::string text;
    for (int i = 0; i < times; ++i)
        text += line;
    return text;
}

// VidCards.def for the sample machine, whose live display adapter is the
// "Generic Graphics Accelerator 3D AGP".
TEST(HostileInputs, DefinitionFiles)
{
    const std::string match = "0.10.02.Generic Graphics Accelerator 3D\n";
    const std::string other = "0.20.01.Example Graphics Co. Vista 4\n";
    const struct {
        const char *tag;
        std::string text;
        int32_t expected;
    } rows[] = {
        {"100,000 lines, the match last", repeated(other, 99999) + match, 1002},
        {"100,000 lines, the match first", match + repeated(other, 99999), 1002},
        {"one line of 100,000 bytes", padded(match.substr(0, match.size() - 1).c_str(), 100000, false), -1},
        {"a match after 1023 bytes of one line", std::string(1023, 'x') + match, 1002},
        {"a match after 1024 bytes of one line", std::string(1024, 'x') + match, -1},
        {"NUL bytes only", std::string(100000, '\0'), -1},
        {"a NUL inside the match", std::string("0.10.02.Gen\0eric Graphics\n", 26), 1002},
        {"Ctrl-Z only", std::string(1000, '\x1a'), -1},
        {"Ctrl-Z before the match", "\x1a" + match, -1},
        {"Ctrl-Z after the match", match + "\x1a" + other, 1002},
        {"empty", "", -1},
    };
    load_sample("win98-pc.reg");
    kx::Dll dll;
    kx::TempCwd cwd;
    for (const auto &row : rows) {
        SCOPED_TRACE(row.tag);
        cwd.write("VidCards.def", row.text);
        EXPECT_EQ(row.expected, ask(dll, "GetGraphicsCardID"));
    }
}

// BIOSID.EXE's stand-in writes nothing here: the file is in place before
// it starts, and Kxdodaze.exe is absent. Only the first 511 bytes, up to
// the first NUL, are searched; the file is deleted once read.
TEST(HostileInputs, ResultFiles)
{
    const std::string gateway = "Gateway";
    const struct {
        const char *tag;
        std::string bytes;
        int32_t expected;
    } rows[] = {
        {"10 MB beginning with Gateway", padded(gateway.c_str(), 10 << 20, false), 70},
        {"10 MB with Gateway at 5 MB", std::string(5 << 20, 'x') + padded(gateway.c_str(), 5 << 20, false), 0},
        {"511 bytes without NUL ending in Gateway", std::string(504, 'x') + gateway, 70},
        {"512 bytes without NUL ending in Gateway", std::string(505, 'x') + gateway, 0},
        {"511 bytes, Gateway after a NUL", std::string(1, '\0') + padded(gateway.c_str(), 510, false), 0},
    };
    kx::Dll dll;
    kx::TempCwd cwd;
    ASSERT_TRUE(kx::install("sysid\\BIOSID.EXE"));
    for (const auto &row : rows) {
        SCOPED_TRACE(row.tag);
        cwd.write("BIOSID.TMP", row.bytes);
        EXPECT_EQ(row.expected, ask(dll, "GetSystemID"));
        EXPECT_FALSE(cwd.exists("BIOSID.TMP"));
    }
}
