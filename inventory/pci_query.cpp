#include "inventory/pci_query.h"

#include "inventory/pci_field.h"
#include "inventory/walk.h"

int query_pci_identifier(int selector, const TraceSink *trace)
{
    WalkResult result;
    walk_devices(bus_walk(Bus::pci, "DISPLAY"), result);
    if (result.outcome != WalkOutcome::completed || result.matched < 0)
        return -1;

    char line[kPciTraceLineSize];
    int identifier = read_pci_field(result.live_hardware_key, selector, line);
    trace_line(trace, line);
    return identifier;
}
