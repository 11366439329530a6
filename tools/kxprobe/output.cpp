#include "output.h"

#include "base/unique.h"
#include "base/windows_error.h"

#include <windows.h>

#include <cstdarg>
#include <cstdio>
#include <cstring>

struct Buffer {
    char bytes[4096];
    size_t used;
};

static Buffer g_buffers[2];
static Captured *g_captured;
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

// The C runtime's _vsnprintf neither terminates a text that fills the
// buffer nor says how long it would have been.
static size_t format_into(char *to, size_t size, const char *pattern, va_list args)
{
    int length = _vsnprintf(to, size - 1, pattern, args);
    if (length < 0 || (size_t)length >= size - 1)
        length = (int)(size - 1);
    to[length] = 0;
    return (size_t)length;
}

void out_write(OutStream stream, const char *bytes, size_t length)
{
    if (g_captured && stream == kStdout) {
        Captured &into = *g_captured;
        size_t room = into.size - 1 - into.length;
        memcpy(into.bytes + into.length, bytes, length < room ? length : room);
        into.length += length < room ? length : room;
        into.bytes[into.length] = 0;
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

void out_format(OutStream stream, const char *pattern, ...)
{
    static char line[8192];
    va_list args;
    va_start(args, pattern);
    size_t length = format_into(line, sizeof(line), pattern, args);
    va_end(args);
    out_write(stream, line, length);
}

void out_capture(Captured *into)
{
    g_captured = into;
    if (into) {
        into->length = 0;
        into->bytes[0] = 0;
    }
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
    text.text[0] = 0;
    text.length = 0;
}

void text_add(Text &text, const char *more)
{
    size_t room = sizeof(text.text) - 1 - text.length;
    size_t length = strlen(more);
    if (length > room)
        length = room;
    memcpy(text.text + text.length, more, length);
    text.length += length;
    text.text[text.length] = 0;
}

void text_format(Text &text, const char *pattern, ...)
{
    va_list args;
    va_start(args, pattern);
    text.length += format_into(text.text + text.length, sizeof(text.text) - text.length, pattern, args);
    va_end(args);
}

void text_windows_error(Text &text, unsigned long code, const char *file)
{
    windows_error_text(code, text.text + text.length, (unsigned long)(sizeof(text.text) - text.length), file);
    text.length += strlen(text.text + text.length);
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
