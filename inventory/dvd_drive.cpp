// DVD drive detection: the device inventory walk over the SCSI bus for
// CD-ROM-class drives, accepting a live drive only when its description
// begins with the caller's text.
#include "inventory/dvd_drive.h"

#include "inventory/card_line.h"
#include "inventory/trace.h"
#include "inventory/walk.h"

#include <cstring>

// Both texts are upper-cased in place, so the caller sees its text in upper
// case once any live drive has been compared with it.
static bool description_begins_with_text(Candidate &candidate, void *context)
{
    char *text = static_cast<char *>(context);

    fold_case(text);
    fold_case(candidate.description);
    return !strncmp(candidate.description, text, strlen(text));
}

bool detect_dvd_drive(char *text, HWND trace)
{
    if (!text)
        return false;

    WalkParams params;
    params.bus_key = "Enum\\SCSI";
    params.class_name = "CDROM";
    params.key_prefix = "SCSI\\";
    params.trace = trace;
    params.match_trace = MatchTrace::caller_text;
    params.caller_text = text;
    params.accept = description_begins_with_text;
    params.accept_context = text;

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
