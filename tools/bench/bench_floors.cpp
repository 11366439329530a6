// The floors: what a question reads at the least, done as plainly as the
// Win32 and C runtime calls allow, with no trace, candidate table or
// acceptance test. A question is measured against its floor.
#include "bench.h"

#include "base/unique.h"
#include "harness/programs.h"

#include <windows.h>

#include <cstdio>
#include <cstring>

enum { kRegistryText = 2048 };

static bool enum_key(HKEY key, DWORD index, char *name)
{
    DWORD length = kRegistryText;
    return RegEnumKeyExA(key, index, name, &length, nullptr, nullptr, nullptr, nullptr) == ERROR_SUCCESS;
}

static bool read_value(HKEY key, const char *name, char *value)
{
    DWORD size = kRegistryText;
    return RegQueryValueExA(key, name, nullptr, nullptr, (BYTE *)value, &size) == ERROR_SUCCESS;
}

int read_lines(const char *file)
{
    char line[1024];
    UniqueStream stream(fopen(file, "rt"));
    if (!stream)
        return 0;
    int lines = 0;
    while (fgets(line, sizeof(line), stream.get()))
        ++lines;
    return lines;
}

// Calls visit(instance key, device key name) for every instance key of
// the bus.
template <class Visit> static void for_each_instance(const char *bus, Visit visit)
{
    char device_name[kRegistryText], instance_name[kRegistryText];
    UniqueKey bus_key;
    if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, bus, 0, KEY_READ, bus_key.put()))
        return;
    for (DWORD i = 0; enum_key(bus_key.get(), i, device_name); ++i) {
        UniqueKey device;
        if (RegOpenKeyExA(bus_key.get(), device_name, 0, KEY_READ, device.put()))
            continue;
        for (DWORD j = 0; enum_key(device.get(), j, instance_name); ++j) {
            UniqueKey instance;
            if (RegOpenKeyExA(device.get(), instance_name, 0, KEY_READ, instance.put()) == ERROR_SUCCESS)
                visit(instance.get(), device_name);
        }
    }
}

int walk_floor(const char *bus, const char *class_name, const char *file)
{
    char value[kRegistryText], device[kRegistryText] = "";
    for_each_instance(bus, [&](HKEY instance, const char *device_name) {
        if (read_value(instance, "Class", value) && !_stricmp(value, class_name)) {
            read_value(instance, "DeviceDesc", value);
            snprintf(device, sizeof(device), "%s\\%s", bus + 5, device_name);
        }
    });
    UniqueKey table;
    if (!device[0] || RegOpenKeyExA(HKEY_DYN_DATA, kLiveTable, 0, KEY_READ, table.put()))
        return 0;
    bool found = false;
    char node_name[kRegistryText];
    for (DWORD k = 0; !found && enum_key(table.get(), k, node_name); ++k) {
        UniqueKey node;
        if (RegOpenKeyExA(table.get(), node_name, 0, KEY_READ, node.put()))
            break;
        found = read_value(node.get(), "HardWareKey", value) && !strncmp(value, device, strlen(device));
    }
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

int load_and_free(const char *name)
{
    UniqueModule module(LoadLibraryA(name));
    return module ? 1 : 0;
}

int first_load_us(const char *name, bool window)
{
    return (int)kx::run_as_version("kxloadonce.exe", nullptr, (std::string(name) + (window ? " window" : "")).c_str());
}

int file_size(const std::string &path)
{
    WIN32_FILE_ATTRIBUTE_DATA data;
    return GetFileAttributesExA(path.c_str(), GetFileExInfoStandard, &data) ? (int)data.nFileSizeLow : -1;
}
