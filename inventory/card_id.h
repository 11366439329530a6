// Which audio card and which graphics card the live PCI devices are, by
// the identifiers of AudCards.def and VidCards.def.
#pragma once

#include "inventory/trace.h"
#include "inventory/walk.h"

// Both take an optional output buffer of kTextSize bytes, which receives the
// live device's description once its card file has been read, and an
// optional trace sink.

// -2: the live-device table does not open; 0: no live PCI device of class
// MEDIA; -1: AudCards.def does not open; else 0 to 9 (0 also for no
// matching line).
int identify_audio_card(char *description, const TraceSink *trace);

// -1: the live-device table does not open, no live PCI device of class
// DISPLAY, or no matching line; -2: VidCards.def does not open; else the
// identifier of the deciding line.
int identify_graphics_card(char *description, const TraceSink *trace);
