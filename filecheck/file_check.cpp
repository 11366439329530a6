// IsFileAvailable: can a file be opened for reading, and does it begin
// with the given bytes?
#include "filecheck/file_check.h"

#include "base/unique.h"

#include <cstring>

// One read of exactly the signature's length: a shorter file, or a read
// that stops early, does not begin with the signature. A signature too
// long to hold in memory has not been compared, so it does not count as
// found either.
static BOOL begins_with(HANDLE file, const BYTE *signature, int length)
{
    UniqueHeap<BYTE> start((BYTE *)HeapAlloc(GetProcessHeap(), 0, (DWORD)length));
    DWORD size = 0;

    return start && ReadFile(file, start.get(), (DWORD)length, &size, NULL) && size == (DWORD)length &&
           !memcmp(start.get(), signature, (size_t)length);
}

int file_available(const char *path, const BYTE *signature, int length)
{
    // Without FILE_FLAG_BACKUP_SEMANTICS a folder does not open, and a file
    // that someone holds open for writing is refused by the share mode.
    UniqueFile file(CreateFileA(path, GENERIC_READ, FILE_SHARE_READ, NULL, OPEN_EXISTING, 0, NULL));

    if (!file)
        return 0;
    // A device (COM1, CON, NUL and the like, with any extension or folder)
    // or a pipe opens as a file does, but a read from it can wait for ever
    // and its presence says nothing about a file: only a disk file counts.
    return GetFileType(file.get()) == FILE_TYPE_DISK &&
           (!signature || length <= 0 || begins_with(file.get(), signature, length));
}
