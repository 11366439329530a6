// Whether a live CD-ROM-class drive on the SCSI bus has a description that
// begins with a given text.
#pragma once

#include "inventory/trace.h"

// Upper-cases `text` in place each time a live drive is compared with it;
// a null text answers false without reading anything. Traces the text for
// each accepted drive, or two lines when none was found, to `trace`.
bool detect_dvd_drive(char *text, const TraceSink *trace);
