#include "output.h"

#include "base/text.h"
#include "base/unique.h"
#include "base/windows_error.h"

#include <windows.h>

#include <cstdarg>
#include <cstdio>
#include <cstring>

namespace {

struct Buffer {
    char bytes[4096];
    size_t used;
};

} // namespace

static Buffer g_buffers[2];
static Text *g_captured;
static bool g_ran_out;
static HANDLE g_file;
static const DWORD kHandles[] = {STD_OUTPUT_HANDLE, STD_ERROR_HANDLE};

// A standard handle that is missing or closed swallows the output; there is
// nowhere left to say so.
static void flush_buffer(OutStream stream)
{
    Buffer &buffer = g_buffers[stream];
    HANDLE handle = g_file ? g_file : GetStdHandle(kHandles[stream]);
    size_t done = 0;
    while (done < buffer.used && handle && handle != INVALID_HANDLE_VALUE) {
        DWORD written = 0;
        if (!WriteFile(handle, buffer.bytes + done, (DWORD)(buffer.used - done), &written, nullptr) || !written)
            break;
        done += written;
    }
    buffer.used = 0;
}

void out_write(OutStream stream, const char *bytes, size_t length)
{
    if (g_captured && stream == kStdout) {
        text_format(*g_captured, "%.*s", (int)length, bytes);
        return;
    }
    Buffer &buffer = g_buffers[stream];
    // stderr is not held back: what it says must come out before a long wait.
    while (length) {
        size_t part = sizeof(buffer.bytes) - buffer.used;
        if (part > length)
            part = length;
        memcpy(buffer.bytes + buffer.used, bytes, part);
        buffer.used += part;
        bytes += part;
        length -= part;
        if (buffer.used == sizeof(buffer.bytes))
            flush_buffer(stream);
    }
    if (stream == kStderr)
        out_flush();
}

void out_text(OutStream stream, const char *text)
{
    out_write(stream, text, strlen(text));
}

// Moves the text into a heap block of `size` bytes; false, with the text
// as it was, when memory ran out.
static bool text_grow(Text &text, size_t size)
{
    HANDLE heap = GetProcessHeap();
    char *block = (char *)(text.heap ? HeapReAlloc(heap, 0, text.heap, size) : HeapAlloc(heap, 0, size));
    if (!block) {
        text_out_of_memory();
        return false;
    }
    if (!text.heap)
        memcpy(block, text.fixed, text.length + 1);
    text.heap = block;
    text.size = size;
    return true;
}

// The C runtime's _vsnprintf does not say how long a text that it cut
// would have been: the room doubles until it holds the text whole.
static void text_format_list(Text &text, const char *pattern, va_list args)
{
    for (;;) {
        const size_t room = (text.heap ? text.size : sizeof(text.fixed)) - text.length;
        char *end = (text.heap ? text.heap : text.fixed) + text.length;
        TextBuilder added(end, room);
        va_list copy;
        va_copy(copy, args);
        const bool whole = added.format_list(pattern, copy);
        va_end(copy);
        if (whole) {
            text.length += added.length();
            return;
        }
        *end = 0;
        if (!text_grow(text, 2 * (text.length + room)))
            return;
    }
}

void out_format(OutStream stream, const char *pattern, ...)
{
    static Text line;
    const TextInUse in_use(line);
    va_list args;
    va_start(args, pattern);
    text_format_list(line, pattern, args);
    va_end(args);
    out_write(stream, line.text(), line.length);
}

void out_capture(Text *into)
{
    g_captured = into;
    if (into)
        text_clear(*into);
}

void out_flush()
{
    flush_buffer(kStdout);
    flush_buffer(kStderr);
}

void out_to_file(void *file)
{
    out_flush();
    g_file = file;
}

bool out_is_console(OutStream stream)
{
    HANDLE handle = g_file ? g_file : GetStdHandle(kHandles[stream]);
    return handle && handle != INVALID_HANDLE_VALUE && GetFileType(handle) == FILE_TYPE_CHAR;
}

void text_clear(Text &text)
{
    if (text.heap)
        HeapFree(GetProcessHeap(), 0, text.heap);
    text.heap = nullptr;
    text.length = text.size = 0;
    text.fixed[0] = 0;
}

void text_add(Text &text, const char *more)
{
    text_format(text, "%s", more);
}

void text_format(Text &text, const char *pattern, ...)
{
    va_list args;
    va_start(args, pattern);
    text_format_list(text, pattern, args);
    va_end(args);
}

void text_windows_error(Text &text, unsigned long code, const char *file)
{
    // Windows' words, with a file's name in them, fit here.
    static char words[1024];
    windows_error_text(code, words, sizeof(words), file);
    text_add(text, words);
}

void text_out_of_memory()
{
    g_ran_out = true;
}

bool text_ran_out()
{
    return g_ran_out;
}

char *heap_copy(const char *text)
{
    char *copy = (char *)HeapAlloc(GetProcessHeap(), 0, strlen(text) + 1);
    if (!copy)
        text_out_of_memory();
    return copy ? strcpy(copy, text) : nullptr;
}

// SearchPathA looks where LoadLibraryA looks, but in the order of Windows
// before XP SP2: since then, and under Wine, the loader tries the system
// folders before the current one. So the file it finds is named only when
// it fails to load in the same way.
const char *dll_file(const char *name, unsigned long code)
{
    static char path[MAX_PATH];
    DWORD length = SearchPathA(nullptr, name, nullptr, sizeof(path), path, nullptr);
    if (!length || length >= sizeof(path))
        return name;
    const UniqueModule module(LoadLibraryA(path));
    const DWORD error = module ? ERROR_SUCCESS : GetLastError();
    return error == code ? path : name;
}
