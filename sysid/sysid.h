// System identification and the file check, behind GetSystemID and
// IsFileAvailable.
#pragma once

#include <windows.h>

// The maker's identifier that Kxdodaze.exe or, failing it, BIOSID.EXE in
// the current folder reports; 0 when neither recognises the system.
int identify_system(void);

// 1 when `path` opens for reading and, given a signature and a length above
// 0, begins with those bytes; otherwise 0.
int file_available(const char *path, const BYTE *signature, int length);
