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

// What the live-device match traces for each accepted candidate.
enum class MatchTrace { nothing, hardware_key, caller_text };

// Says whether a candidate whose key begins the live node's hardware key
// counts; it may change the candidate's description and its own context.
typedef bool (*AcceptTest)(Candidate &candidate, void *context);

// Set field by field: what a question leaves alone traces nothing and
// accepts every key match.
struct WalkParams {
    const char *bus_key = nullptr;    // below HKEY_LOCAL_MACHINE: "Enum\PCI", "Enum\SCSI"
    const char *class_name = nullptr; // upper case: "MEDIA", "DISPLAY", "CDROM"
    const char *key_prefix = nullptr; // "PCI\", "SCSI\"
    HWND trace = nullptr;             // trace sink, or null for none
    bool trace_candidates = false;    // trace each stored description, then its device key name
    MatchTrace match_trace = MatchTrace::nothing;
    const char *caller_text = nullptr; // traced per accepted match with MatchTrace::caller_text
    AcceptTest accept = nullptr;       // null: every key match counts
    void *accept_context = nullptr;
};

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
