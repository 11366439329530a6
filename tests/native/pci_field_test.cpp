// One identifier read out of a PCI hardware key text, with its trace line:
// which field each selector names, and what stands in for a missing or
// malformed one. The DLL's answer from a live key is checked under Wine in
// inventory_test.
#include "inventory/pci_field.h"

#include <gtest/gtest.h>

#include <climits>
#include <cstring>
#include <string>
#include <vector>

TEST(PciField, ReadsTheFieldThatTheSelectorNames)
{
    const char example[] = "PCI\\VEN_12AB&DEV_34cd&SUBSYS_5678ABCD&REV_01\\000800";
    static const struct {
        const char *hardware_key;
        int selector, expected;
        const char *line;
    } rows[] = {
        {example, 0, 0x12ab, "Vendor ID: 12AB"},
        {example, 1, 0x34cd, "Device ID: 34cd"},
        {example, 2, 0x5678, "SubSys ID: 5678"},
        {example, 3, 0, ""},
        {example, -1, 0, ""},
        {example, INT_MIN, 0, ""},
        {"PCI\\VEN_1D5A&DEV_0412&SUBSYS_3F011D5A&REV_02\\BUS_01&DEV_0F&FUNC_00", 1, 0x0412, "Device ID: 0412"},
        // no device field: the instance's DEV_ is taken, with what follows
        {"PCI\\VEN_1D5A&SUBSYS_3F011D5A&REV_02\\BUS_01&DEV_0F&FUNC_00", 1, 0x0f0f, "Device ID: 0F&F"},
        // a character that is no hexadecimal digit counts as 0
        {"PCI\\VEN_12G4&DEV_0001\\0", 0, 0x1204, "Vendor ID: 12G4"},
        // too short for a tag at that place: only places that leave room
        // for the longest tag are tried
        {"PCI\\VEN_12", 0, 0, "Vendor ID: "},
        {"PCI\\VEN_123", 0, 0x123, "Vendor ID: 123"},
        // the separator after the tag is not looked at
        {"PCI\\VEN:FFFF", 0, 0xffff, "Vendor ID: FFFF"},
        {"PCI\\VEN_1234", 2, 0, "SubSys ID: "},
        {"PCI\\VE\\", 0, 0, "Vendor ID: "},
        {"PCI\\V\\", 7, 0, ""},
        // any other selector names a tag that Windows never writes
        {"PCI\\X###_00ff&DEV_1\\0", 7, 0xff, "00ff"},
    };
    for (const auto &row : rows) {
        SCOPED_TRACE(std::string(row.hardware_key) + " selector " + std::to_string(row.selector));
        // The key in a block of its own size and the line in a filled
        // buffer, so that reading or writing past either is caught.
        std::vector<char> key(row.hardware_key, row.hardware_key + strlen(row.hardware_key) + 1);
        char line[kPciTraceLineSize + 1];
        memset(line, 0xbd, sizeof(line));
        EXPECT_EQ(row.expected, read_pci_field(key.data(), row.selector, line));
        EXPECT_STREQ(row.line, line);
        EXPECT_EQ('\xbd', line[kPciTraceLineSize]);
    }
}
