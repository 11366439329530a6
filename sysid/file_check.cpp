// IsFileAvailable: can a file be opened for reading, and does it begin
// with the given bytes?
#include "sysid/sysid.h"

#include <windows.h>

#include <cstring>

// One read of exactly the signature's length: a shorter file, or a read
// that stops early, does not begin with the signature. A signature too
// long to hold in memory has not been compared, so it does not count as
// found either.
static BOOL begins_with(HANDLE file, const BYTE *signature, int length)
{
    HANDLE heap = GetProcessHeap();
    BYTE *start = (BYTE *)HeapAlloc(heap, 0, (DWORD)length);
    DWORD size = 0;
    BOOL same;

    if (!start)
        return FALSE;
    same = ReadFile(file, start, (DWORD)length, &size, NULL) && size == (DWORD)length &&
           !memcmp(start, signature, (size_t)length);
    HeapFree(heap, 0, start);
    return same;
}

int file_available(const char *path, const BYTE *signature, int length)
{
    // Without FILE_FLAG_BACKUP_SEMANTICS a folder does not open, and a file
    // that someone holds open for writing is refused by the share mode.
    HANDLE file = CreateFileA(path, GENERIC_READ, FILE_SHARE_READ, NULL, OPEN_EXISTING, 0, NULL);
    BOOL available;

    if (file == INVALID_HANDLE_VALUE)
        return 0;
    // A device (COM1, CON, NUL and the like, with any extension or folder)
    // or a pipe opens as a file does, but a read from it can wait for ever
    // and its presence says nothing about a file: only a disk file counts.
    available =
        GetFileType(file) == FILE_TYPE_DISK && (!signature || length <= 0 || begins_with(file, signature, length));
    CloseHandle(file);
    return available;
}
