// System identification, behind GetSystemID.
#pragma once

// The maker's identifier that Kxdodaze.exe or, failing it, BIOSID.EXE in
// the current folder reports; 0 when neither recognises the system.
int identify_system(void);
