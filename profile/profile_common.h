// What a load and a capture of a machine profile both use: the value
// buffer, the registry roots, the error texts and the progress report.
#pragma once

#include "profile/profile.h"
#include "profile/regedit_text.h"

#include "base/unique.h"

#include <windows.h>

#include <cstddef>

// GCC passes a file's own static functions their arguments in registers;
// the helpers that the profile's files share take theirs the same way, as
// kxprobe, at its size limit, has no room for the longer calls.
#define KX_REGPARM __attribute__((regparm(3)))

// The profile library's own parts, named apart from those of the programs
// that link it.
namespace profile_parts {

// Value names of up to 16383 characters and key names of up to 255; the
// buffers allow for the ANSI functions needing two bytes a character on a
// double-byte code page.
const DWORD kKeyNameBuffer = 2 * 255 + 2;
const DWORD kValueNameBuffer = 2 * 16383 + 2;

const size_t kFileChunkSize = 16384;

// A value's data: gathered from the lines of its hex list, or read.
struct ValueData {
    UniqueHeap<unsigned char> bytes;
    size_t size = 0;
    size_t capacity = 0;
};

// Zero-filled; null when memory runs out.
KX_REGPARM void *heap_alloc(size_t size);

// Room for `needed` bytes, doubling from 256 up to the cap.
KX_REGPARM bool reserve(ValueData &data, size_t needed);

inline HKEY root_key(RegeditRoot root)
{
    return root == regedit_dyn_data ? HKEY_DYN_DATA : HKEY_LOCAL_MACHINE;
}

// ---- error texts ----

inline RegeditOutput error_text(char *error)
{
    error[0] = 0;
    return RegeditOutput{error, kProfileErrorSize, 0, nullptr, nullptr, false};
}

// Ends an error text with `what` and, where there is one, Windows' words
// for the status: ": Access is denied. (error 5)"; `file` is the file that
// the failed call was given.
KX_REGPARM bool put_failure(RegeditOutput &out, const char *what, DWORD status, const char *file = nullptr);

// The progress report of profile_report_progress, or null.
extern ProfileProgress g_progress;

// Every 256th key goes to the progress report.
KX_REGPARM void count_key(unsigned long &keys, const char *doing, const char *path);

// "what name: error N"
KX_REGPARM bool fail_status(char *error, const char *what, const char *name, DWORD status, const char *file = nullptr);

// "cannot read machine.reg: error N" for the file that did not open.
KX_REGPARM inline bool fail_file(char *error, const char *what, const char *path, DWORD status)
{
    return fail_status(error, what, path, status, path);
}

// "no profile file named"
KX_REGPARM bool no_file(char *error);

} // namespace profile_parts
