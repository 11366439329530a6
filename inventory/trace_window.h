// The trace window: a window whose text collects the lines that the device
// questions trace, one after the other, separated by a single line feed,
// with none before the first. kxprobe --trace and the tests give it to
// them as their sink; the DLL never does.
#pragma once

#include "inventory/trace.h"

#include <windows.h>

// The window's text is read and rewritten whole, on the stack, for each
// line: at most kTraceWindowSize - 1 characters, the newest lines kept.
enum { kTraceWindowSize = 8192 };

// Appends one line to the text of the window `window`, an HWND.
void trace_to_window(void *window, const char *text);

// The sink that appends to `window`'s text.
TraceSink trace_window_sink(HWND window);
