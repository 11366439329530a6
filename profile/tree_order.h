// Which device questions Wine's order of HKLM\Enum\PCI and HKLM\Enum\SCSI
// could answer otherwise than the captured machine did. A replay keeps the
// order of the live-device table, but the device keys and their instances
// keep their names, which the DLL reads, and Wine lists them sorted. The
// order of those decides an answer in three ways only: one device key's
// name begins another's, and the later of the two that a live node matches
// decides; more than 20 devices of one class, of which the DLL keeps the
// first 20; one device key with instances of the class that differ in
// description, of which the first gives it. Both orders are run through the
// DLL's rules, and a question is named only where they answer otherwise.
// Plain text, no Windows headers, so that it also builds natively.
#pragma once

#include "profile/regedit_text.h"

#include <cstddef>

enum OrderSide { order_captured, order_replayed };
enum OrderBus { order_pci, order_scsi };

enum {
    kOrderMaxInstances = 256, // instances of the questions' classes, each side
    kOrderMaxLive = 1024,     // live nodes of PCI and SCSI devices
    kOrderNameSize = 512,     // a key name of 255 characters, two bytes each on a DBCS code page
    kOrderTextSize = 1024,    // a description, as the DLL keeps it
    kOrderKeysSize = 256 * 1024,
};

struct OrderInstance {
    OrderBus bus;
    int device_class; // which of the questions' classes, or -1 for none
    char device[kOrderNameSize];
    char instance[kOrderNameSize];
    char description[kOrderTextSize];
};

// What is known of one machine, in both orders. Large: allocate it once.
struct OrderTree {
    OrderInstance instances[2][kOrderMaxInstances];
    int counts[2];
    size_t live[kOrderMaxLive]; // offsets of the live nodes' hardware keys in `keys`
    int live_count;
    size_t keys_used;
    char keys[kOrderKeysSize];
    bool cut; // more than the tree holds: nothing is said
    // The captured side's instance key whose values come now, and the
    // value that a hex list continues.
    OrderInstance *current;
    OrderInstance pending;
    int value; // 0 none, 1 Class, 2 DeviceDesc
    size_t value_length;
    char value_data[2049];
    char note[16384]; // the line order_notes hands on
};

void order_begin(OrderTree &tree);

// The captured side: each line of the profile, as the parser gave it, in
// the file's order, and the end of the lines.
void order_take_line(OrderTree &tree, const RegeditLine &line);
void order_end_lines(OrderTree &tree);

// An instance key as the registry lists it, with its Class and DeviceDesc
// as read (null when unreadable).
void order_add_instance(OrderTree &tree, OrderSide side, OrderBus bus, const char *device, const char *class_text,
                        const char *description);

// The HardWareKey of each node of the live-device table, in its order,
// which a replay keeps.
void order_add_live_node(OrderTree &tree, const char *hardware_key);

// Hands `note` each question whose answer Wine's order may change, by its
// export, with one line that names the question, the keys and the reason;
// `dvd_text` is what IsDVDDrivePresent is asked about. When the tree did
// not hold the machine, one line says so, with an empty export.
typedef void (*OrderNote)(void *context, const char *export_name, const char *line);
void order_notes(OrderTree &tree, const char *dvd_text, OrderNote note, void *context);
