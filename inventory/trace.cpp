#include "inventory/trace.h"

#include <cstring>

// The window text that the trace keeps, at most 8191 characters, read and
// rewritten whole on the stack for each line; the newest lines are kept.
enum { kTraceSize = 8192 };

void trace_line(HWND sink, const char *text)
{
    if (!sink)
        return;
    char lines[kTraceSize];
    lines[0] = 0;
    GetWindowTextA(sink, lines, kTraceSize);
    lines[kTraceSize - 1] = 0;

    // When the new line would not fit, the oldest lines go, whole, so that
    // the newest line is kept whole; a line longer than the whole text is cut.
    size_t added = strlen(text);
    char *kept = lines;
    size_t kept_length = strlen(lines);
    while (kept_length && kept_length + 1 + added > kTraceSize - 1) {
        char *feed = strstr(kept, "\n");
        if (!feed)
            break;
        kept_length -= feed + 1 - kept;
        kept = feed + 1;
    }
    if (kept_length + 1 + added > kTraceSize - 1)
        kept_length = 0;
    memmove(lines, kept, kept_length);
    if (kept_length)
        lines[kept_length++] = '\n';
    strncpy(lines + kept_length, text, kTraceSize - kept_length - 1);
    lines[kTraceSize - 1] = 0;
    SetWindowTextA(sink, lines);
}
