// The PCI identifier question: one 16-bit identifier of the live PCI
// display adapter.
#pragma once

#include "inventory/trace.h"

// Runs the device inventory walk for the live PCI display adapter and
// returns its vendor ID (selector 0), device ID (1) or the upper half of its
// subsystem field (2); 0 when the field is absent and for any other
// selector; -1 when the live-device table is unavailable or no display
// adapter is live. Traces one line, the field's label and digits, when an
// adapter matched.
int query_pci_identifier(int selector, const TraceSink *trace);
