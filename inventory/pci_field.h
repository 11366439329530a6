// Reading one identifier out of a PCI hardware key text such as
// "PCI\VEN_12AB&DEV_34CD&SUBSYS_5678ABCD&REV_01\000800". Plain text in,
// number out: no Windows headers, so that it also builds natively.
#pragma once

enum {
    kPciTraceLineSize = 16 // the longest label, four digits and the terminator
};

// Finds the field that `selector` names (0 vendor, 1 device, 2 the upper
// half of the subsystem; any other value names none) in `hardware_key`,
// writes its trace label followed by up to four copied characters to
// `line`, and returns those characters as a hexadecimal number, 0 when the
// field is absent.
int read_pci_field(const char *hardware_key, int selector, char line[kPciTraceLineSize]);
