// The trace sink of the device questions: a function that takes each line
// they trace, and its context. The exports pass none; kxprobe --trace and
// the tests pass the trace window's (inventory/trace_window.h). What a
// question traces is written in that question's file.
#pragma once

struct TraceSink {
    void (*line)(void *context, const char *text);
    void *context;
};

// Hands one line to the sink; does nothing without one.
void trace_line(const TraceSink *sink, const char *text);
