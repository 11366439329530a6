// Reading the registry hardware tree: keys opened into guards, value reads
// into fixed buffers, and the enumerations that the device inventory
// walk and the BroadLogic detection run.
#pragma once

#include "base/unique.h"

#include <windows.h>

// Registry names and values as read: room for any key name and for the
// texts of the hardware tree; a longer value counts as unreadable.
enum { kRegistryTextSize = 2048 };

// Enumerating a key can fail at one index and succeed at the next (a
// subkey deleted or renamed under us); a key that keeps failing is
// abandoned after this many failures in a row.
enum { kMaxEnumFailures = 16 };

// Opens `name` below `parent`, for a UniqueKey to hold and close when it
// goes out of scope, so that keys nested in scopes are closed in the
// reverse order of opening. Null when the key does not open, whatever
// RegOpenKeyExA left behind then.
HKEY open_key(HKEY parent, const char *name, REGSAM access);

// Reads a value of any type as text into a kRegistryTextSize buffer. A
// value that fills the buffer, or binary data, need not end in a zero, so
// what was read is terminated inside the buffer; a value that does not fit
// counts as unreadable and leaves the buffer empty.
inline bool read_value(HKEY key, const char *name, char *value)
{
    DWORD size = kRegistryTextSize;
    if (RegQueryValueExA(key, name, nullptr, nullptr, (BYTE *)value, &size) != ERROR_SUCCESS) {
        value[0] = 0;
        return false;
    }
    value[size < kRegistryTextSize ? size : kRegistryTextSize - 1] = 0;
    return true;
}

// Calls visit() with each subkey name of `key` in `name` until it returns
// true or the subkeys are exhausted. An index that fails to enumerate is
// skipped.
template <class Visit> void for_each_subkey(HKEY key, char *name, Visit visit)
{
    int failures = 0;
    for (DWORD index = 0; failures < kMaxEnumFailures; ++index) {
        DWORD length = kRegistryTextSize;
        FILETIME written;
        LONG status = RegEnumKeyExA(key, index, name, &length, nullptr, nullptr, nullptr, &written);
        if (status == ERROR_NO_MORE_ITEMS)
            return;
        if (status != ERROR_SUCCESS) {
            ++failures;
            continue;
        }
        failures = 0;
        if (visit())
            return;
    }
}

// Calls visit(device key name, instance key) for every instance key of
// every device key below HKLM\<bus_key>, with the bus, device and instance
// keys open. Keys that do not open are skipped.
template <class Visit> void for_each_instance_key(const char *bus_key, Visit visit)
{
    UniqueKey bus(open_key(HKEY_LOCAL_MACHINE, bus_key, KEY_READ));
    if (!bus)
        return;
    char device_name[kRegistryTextSize], instance_name[kRegistryTextSize];
    for_each_subkey(bus.get(), device_name, [&] {
        UniqueKey device(open_key(bus.get(), device_name, KEY_READ));
        if (!device)
            return false;
        for_each_subkey(device.get(), instance_name, [&] {
            UniqueKey instance(open_key(device.get(), instance_name, KEY_READ));
            if (instance)
                visit(device_name, instance.get());
            return false;
        });
        return false;
    });
}
