#include "inventory/trace.h"

void trace_line(const TraceSink *sink, const char *text)
{
    if (sink)
        sink->line(sink->context, text);
}
