// kxprobe --library: a folder of machine profiles replayed one by one and
// asked the device questions, so that an installer author sees what a new
// card file makes of every machine known to go wrong, and, against an
// earlier run's JSON, which answers it changed.
#pragma once

struct Library {
    const char *machines; // the folder of *.reg profiles, a full path
    const char *dvd_text; // what IsDVDDrivePresent is asked about
    const char *baseline; // an earlier run's --json output, a full path, or null
    bool json;
};

// Asks KXVozaDa.dll, with the current folder's card files, about each
// machine in name order and prints a row for each: a table, or with `json`
// one JSON object per line. The tree that was loaded before is put back.
// 0: no answer changed from the baseline (or none given); 1: one did, or
// the DLL lacks an export; 2: a profile was refused, the baseline cannot be
// read, or the tree cannot be put back.
int run_library(const Library &library);
