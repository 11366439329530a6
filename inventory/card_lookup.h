// The card lookup: the identifier that AudCards.def or VidCards.def gives a
// device description.
#pragma once

#include "inventory/card_line.h"
#include "inventory/trace.h"

// Reads the whole file in text mode; the last line whose key text begins
// the description decides. Returns false when the file does not open
// (nothing is traced then); otherwise `result` is the deciding line's
// identifier, or 0 (AudCards.def) or -1 (VidCards.def) when none matches.
// Traces every AudCards.def card line, and "  " once VidCards.def is open.
bool look_up_card(CardFile file, const char *description, const TraceSink *trace, int &result);
