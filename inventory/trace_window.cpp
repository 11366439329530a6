#include "inventory/trace_window.h"

#include <cstring>

void trace_to_window(void *window, const char *text)
{
    char lines[kTraceWindowSize];
    lines[0] = 0;
    GetWindowTextA((HWND)window, lines, kTraceWindowSize);
    lines[kTraceWindowSize - 1] = 0;

    // When the new line would not fit, the oldest lines go, whole, so that
    // the newest line is kept whole; a line longer than the whole text is cut.
    size_t added = strlen(text);
    char *kept = lines;
    size_t kept_length = strlen(lines);
    while (kept_length && kept_length + 1 + added > kTraceWindowSize - 1) {
        char *feed = strstr(kept, "\n");
        if (!feed)
            break;
        kept_length -= feed + 1 - kept;
        kept = feed + 1;
    }
    if (kept_length + 1 + added > kTraceWindowSize - 1)
        kept_length = 0;
    memmove(lines, kept, kept_length);
    if (kept_length)
        lines[kept_length++] = '\n';
    strncpy(lines + kept_length, text, kTraceWindowSize - kept_length - 1);
    lines[kTraceWindowSize - 1] = 0;
    SetWindowTextA((HWND)window, lines);
}

TraceSink trace_window_sink(HWND window)
{
    return TraceSink{trace_to_window, window};
}
