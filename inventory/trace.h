// The trace sink of the device questions: a window whose text collects the
// lines they trace, one after the other. The exports pass no window;
// kxprobe --trace and the tests pass one.
#pragma once

#include <windows.h>

// Appends one line to the trace window's text, lines separated by a single
// line feed; does nothing without a window.
void trace_line(HWND sink, const char *text);
