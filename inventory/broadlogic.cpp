// BroadLogic device detection: a short walk of its own over every instance
// key of the PCI bus, reading only the manufacturer.
#include "inventory/broadlogic.h"

#include "base/text.h"
#include "inventory/registry.h"

#include <cstring>

static const char kBroadLogic[] = "BROADLOGIC"; // upper-cased manufacturer

// Every instance key is opened and read, also after a match.
bool detect_broadlogic_device()
{
    bool found = false;

    for_each_instance_key("Enum\\PCI", [&found](const char *, HKEY instance) {
        char mfg[kRegistryTextSize];
        if (read_value(instance, "MFG", mfg) && !strcmp(fold_case(mfg), kBroadLogic))
            found = true;
    });
    return found;
}
