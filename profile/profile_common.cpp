#include "profile/profile_common.h"

#include "base/windows_error.h"

void *profile_parts::heap_alloc(size_t size)
{
    return HeapAlloc(GetProcessHeap(), HEAP_ZERO_MEMORY, size);
}

bool profile_parts::reserve(ValueData &data, size_t needed)
{
    if (needed <= data.capacity)
        return true;
    size_t capacity = data.capacity ? data.capacity : 256;
    while (capacity < needed)
        capacity *= 2;
    if (capacity > kProfileMaxValueBytes)
        capacity = kProfileMaxValueBytes;
    void *bytes = data.bytes ? HeapReAlloc(GetProcessHeap(), 0, data.bytes.get(), capacity) : heap_alloc(capacity);
    if (!bytes)
        return false;
    // HeapReAlloc has let the old block go.
    data.bytes.release();
    data.bytes.reset((unsigned char *)bytes);
    data.capacity = capacity;
    return true;
}

bool profile_parts::put_failure(RegeditOutput &out, const char *what, DWORD status, const char *file)
{
    regedit_put_text(out, what);
    if (status) {
        char words[kProfileErrorSize];
        windows_error_text(status, words, sizeof words, file);
        regedit_put_text(out, ": ");
        regedit_put_text(out, words);
    }
    return false;
}

ProfileProgress profile_parts::g_progress;

void profile_report_progress(ProfileProgress report)
{
    profile_parts::g_progress = report;
}

void profile_parts::count_key(unsigned long &keys, const char *doing, const char *path)
{
    if (++keys % 256 == 0 && g_progress)
        g_progress(doing, path, keys);
}

bool profile_parts::fail_status(char *error, const char *what, const char *name, DWORD status, const char *file)
{
    RegeditOutput out = error_text(error);
    regedit_put_text(out, what);
    return put_failure(out, name, status, file);
}

bool profile_parts::no_file(char *error)
{
    RegeditOutput out = error_text(error);
    regedit_put_text(out, "no profile file named");
    return false;
}
