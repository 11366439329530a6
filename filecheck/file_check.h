// The file check behind IsFileAvailable.
#pragma once

#include <windows.h>

// 1 when `path` opens for reading and, given a signature and a length above
// 0, begins with those bytes; otherwise 0.
int file_available(const char *path, const BYTE *signature, int length);
