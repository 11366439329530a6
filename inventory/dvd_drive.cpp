// DVD drive detection: the device inventory walk over the SCSI bus for
// CD-ROM-class drives, accepting a live drive only when its description
// begins with the caller's text.
#include "inventory/dvd_drive.h"

#include "base/text.h"
#include "inventory/walk.h"

#include <cstring>

namespace {

struct DriveQuery {
    char *text;
    const TraceSink *trace;
};

} // namespace

// Both texts are upper-cased in place, so the caller sees its text in upper
// case once any live drive has been compared with it. The text is traced
// for each accepted drive.
static bool description_begins_with_text(Candidate &candidate, const char *, const void *context)
{
    const DriveQuery &query = *static_cast<const DriveQuery *>(context);

    fold_case(query.text);
    fold_case(candidate.description);
    if (strncmp(candidate.description, query.text, strlen(query.text)))
        return false;
    trace_line(query.trace, query.text);
    return true;
}

bool detect_dvd_drive(char *text, const TraceSink *trace)
{
    if (!text)
        return false;

    const DriveQuery query = {text, trace};
    WalkParams params = bus_walk(Bus::scsi, "CDROM");
    params.accept = description_begins_with_text;
    params.context = &query;

    WalkResult result;
    walk_devices(params, result);
    if (result.outcome == WalkOutcome::live_table_unavailable)
        return false;
    if (result.matched != -1)
        return true;
    trace_line(trace, "DVD Drive not located");
    trace_line(trace, " ");
    return false;
}
