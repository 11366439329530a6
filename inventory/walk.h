// The device inventory walk: of the devices of one class that Windows has
// enumerated on one bus, which one is live now, and what is its
// description. Shared by the PCI, audio, graphics and DVD drive questions.
#pragma once

#include "inventory/registry.h"

#include <windows.h>

enum {
    // A machine has a handful of devices of one class on a bus; candidates
    // past the 20th are ignored.
    kMaxCandidates = 20,
    // Candidate keys and descriptions; also the size of the description
    // buffer that kxprobe and the tests hand the card questions.
    kTextSize = 1024
};

struct Candidate {
    char key[kTextSize];         // key prefix + device key name, e.g. "PCI\VEN_..."
    char description[kTextSize]; // DeviceDesc of its first instance of the class
};

struct CandidateTable {
    Candidate slot[kMaxCandidates];
    int count;
};

// Called for each candidate once it is stored, with its device key name.
typedef void (*StoredCandidate)(const Candidate &candidate, const char *device_name, const void *context);

// Says whether a candidate whose key begins the live node's hardware key
// counts, and traces what its question traces for a match; it may change
// the candidate's description.
typedef bool (*AcceptMatch)(Candidate &candidate, const char *hardware_key, const void *context);

// Set field by field: what a question leaves alone is not called, and
// every key match counts. The walk itself traces nothing; a question
// traces through these.
struct WalkParams {
    const char *bus_key = nullptr;    // below HKEY_LOCAL_MACHINE: "Enum\PCI", "Enum\SCSI"
    const char *class_name = nullptr; // upper case: "MEDIA", "DISPLAY", "CDROM"
    const char *key_prefix = nullptr; // "PCI\", "SCSI\"
    StoredCandidate stored = nullptr;
    AcceptMatch accept = nullptr;
    const void *context = nullptr; // handed to both
};

// The walk of the devices of `class_name` on one of the two buses that the
// questions look at; the rest of the walk left as it is.
enum class Bus { pci, scsi };
inline WalkParams bus_walk(Bus bus, const char *class_name)
{
    WalkParams params;
    params.bus_key = bus == Bus::pci ? "Enum\\PCI" : "Enum\\SCSI";
    params.key_prefix = bus == Bus::pci ? "PCI\\" : "SCSI\\";
    params.class_name = class_name;
    return params;
}

enum class WalkOutcome { completed, live_table_unavailable };

struct WalkResult {
    WalkOutcome outcome;
    CandidateTable candidates;
    int matched;                               // index of the accepted candidate, or -1
    char live_hardware_key[kRegistryTextSize]; // HardWareKey of the matching live node
};

// Runs both phases: the inventory of the bus key, then the scan of
// HKEY_DYN_DATA\Config Manager\Enum. Every key it opens is closed before
// it returns.
void walk_devices(const WalkParams &params, WalkResult &result);
