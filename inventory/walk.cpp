#include "inventory/walk.h"

#include "base/text.h"
#include "inventory/registry.h"

#include <cstring>

// Adds the device key as a candidate unless it already is one or the table
// is full; an instance without a readable description gives an empty one.
static void store_candidate(const WalkParams &params, CandidateTable &table, const char *device,
                            const char *description)
{
    char key[kTextSize];
    TextBuilder built(key);
    built.put(params.key_prefix);
    built.put(device);
    for (int c = 0; c < table.count; ++c)
        if (!strcmp(table.slot[c].key, key))
            return;
    if (table.count == kMaxCandidates)
        return;
    Candidate &slot = table.slot[table.count++];
    strcpy(slot.key, key);
    TextBuilder(slot.description).put(description);
    if (params.stored)
        params.stored(slot, device, params.context);
}

// Whether the instance's Class, upper-cased, is the wanted class; leaves
// its DeviceDesc in `value` when it is.
static bool read_instance(HKEY instance, const char *class_name, char *value)
{
    if (!read_value(instance, "Class", value) || strcmp(fold_case(value), class_name))
        return false;
    read_value(instance, "DeviceDesc", value);
    return true;
}

// Collects each device key of the bus with an instance of the class.
static void take_inventory(const WalkParams &params, CandidateTable &table)
{
    char value[kRegistryTextSize];
    for_each_instance_key(params.bus_key, [&](const char *device_name, HKEY instance) {
        if (read_instance(instance, params.class_name, value))
            store_candidate(params, table, device_name, value);
    });
}

// Whether the live node's hardware key, already in result.live_hardware_key,
// begins with an accepted candidate key; the last accepted one in table
// order becomes the match.
static bool match_node(const WalkParams &params, WalkResult &result)
{
    bool matched = false;
    for (int c = 0; c < result.candidates.count; ++c) {
        Candidate &candidate = result.candidates.slot[c];
        if (strncmp(result.live_hardware_key, candidate.key, strlen(candidate.key)))
            continue;
        if (params.accept && !params.accept(candidate, result.live_hardware_key, params.context))
            continue;
        result.matched = c;
        matched = true;
    }
    return matched;
}

// Finds the first live node, in enumeration order, that matches a
// candidate. A node that does not open or has no readable HardWareKey is
// passed over: it says nothing about the nodes after it.
static void match_live_device(const WalkParams &params, WalkResult &result)
{
    // Every right, though the walk only reads: Windows 9x keeps no security
    // on its registry and grants any, and NT has no HKEY_DYN_DATA at all.
    UniqueKey live_table(open_key(HKEY_DYN_DATA, "Config Manager\\Enum", KEY_ALL_ACCESS));
    if (!live_table) {
        result.outcome = WalkOutcome::live_table_unavailable;
        return;
    }
    char node_name[kRegistryTextSize];
    for_each_subkey(live_table.get(), node_name, [&] {
        UniqueKey node(open_key(live_table.get(), node_name, KEY_READ));
        return node && read_value(node.get(), "HardWareKey", result.live_hardware_key) && match_node(params, result);
    });
    if (result.matched < 0)
        result.live_hardware_key[0] = 0;
}

void walk_devices(const WalkParams &params, WalkResult &result)
{
    memset(&result.candidates, 0, sizeof(result.candidates));
    result.outcome = WalkOutcome::completed;
    result.matched = -1;
    result.live_hardware_key[0] = 0;
    take_inventory(params, result.candidates);
    match_live_device(params, result);
}
