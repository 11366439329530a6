// BroadLogic device detection: a short walk of its own over every instance
// key of the PCI bus, reading only the manufacturer.
#include "inventory/broadlogic.h"

#include "inventory/walk.h"

#include <cstring>

static const char kBroadLogic[] = "BROADLOGIC"; // upper-cased manufacturer

typedef bool (*SubkeyVisit)(HKEY parent, const char *name);

// An index that fails to enumerate is skipped: the next one may still
// succeed. A key deleted while it is read fails at every index and never
// reports ERROR_NO_MORE_ITEMS, so a run of failures ends the enumeration.
enum { kMaxEnumFailures = 16 };

static bool any_subkey(HKEY parent, SubkeyVisit visit)
{
    char name[kRegistryTextSize];
    FILETIME written;
    bool found = false;
    int failures = 0;

    for (DWORD i = 0; failures < kMaxEnumFailures; ++i) {
        DWORD length = sizeof(name);
        LONG status = RegEnumKeyExA(parent, i, name, &length, nullptr, nullptr, nullptr, &written);
        if (status == ERROR_NO_MORE_ITEMS)
            break;
        if (status != ERROR_SUCCESS) {
            ++failures;
            continue;
        }
        failures = 0;
        found |= visit(parent, name);
    }
    return found;
}

// Opens parent\path and visits all of its subkeys, also after a match.
static bool any_subkey_below(HKEY parent, const char *path, SubkeyVisit visit)
{
    HKEY key;
    bool found;

    if (RegOpenKeyExA(parent, path, 0, KEY_READ, &key) != ERROR_SUCCESS)
        return false;
    found = any_subkey(key, visit);
    RegCloseKey(key);
    return found;
}

// The value is read as bytes whatever its registry type, so it need not end
// in a NUL of its own; it is cut at the size the registry reports.
static bool instance_made_by_broadlogic(HKEY device, const char *instance_name)
{
    HKEY instance;
    char mfg[kRegistryTextSize + 1];
    DWORD size = kRegistryTextSize;
    bool found;

    if (RegOpenKeyExA(device, instance_name, 0, KEY_READ, &instance) != ERROR_SUCCESS)
        return false;
    found = RegQueryValueExA(instance, "MFG", nullptr, nullptr, (BYTE *)mfg, &size) == ERROR_SUCCESS;
    if (found) {
        mfg[size] = '\0';
        found = !strcmp(_strupr(mfg), kBroadLogic);
    }
    RegCloseKey(instance);
    return found;
}

static bool device_made_by_broadlogic(HKEY bus, const char *device_name)
{
    return any_subkey_below(bus, device_name, instance_made_by_broadlogic);
}

bool detect_broadlogic_device()
{
    return any_subkey_below(HKEY_LOCAL_MACHINE, "Enum\\PCI", device_made_by_broadlogic);
}
