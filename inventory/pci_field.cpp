#include "inventory/pci_field.h"

#include "base/text.h"

#include <cstring>

namespace {

struct PciField {
    const char *tag;
    const char *label;
};

} // namespace

static const PciField kPciFields[] = {
    {"VEN", "Vendor ID: "},
    {"DEV", "Device ID: "},
    {"SUBSYS", "SubSys ID: "},
};

// A tag that a hardware key written by Windows never holds.
static const PciField kNoPciField = {"###", ""};

enum { kFieldDigits = 4, kLongestTag = 6 };

int read_pci_field(const char *hardware_key, int selector, char line[kPciTraceLineSize])
{
    const PciField &field = selector >= 0 && selector < 3 ? kPciFields[selector] : kNoPciField;
    size_t tag_length = strlen(field.tag);
    size_t length = strlen(hardware_key);
    char value[kFieldDigits + 1] = "";

    // Only positions that leave room for the longest tag and its separator
    // are tried, whatever the tag; the character after the tag is skipped
    // unseen. Neither reaches past the terminator.
    for (size_t p = 0; p + kLongestTag < length; ++p) {
        if (!strncmp(hardware_key + p, field.tag, tag_length)) {
            strncpy(value, hardware_key + p + tag_length + 1, kFieldDigits);
            break;
        }
    }
    strcpy(line, field.label);
    strcat(line, value);

    // Any character that is not a hexadecimal digit counts as 0.
    int number = 0;
    for (const char *c = value; *c; ++c) {
        int digit = hex_digit_value(*c);
        number = number * 16 + (digit < 0 ? 0 : digit);
    }
    return number;
}
