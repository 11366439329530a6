// Whether a device registered under the PCI bus names BroadLogic as its
// manufacturer.
#pragma once

// Reads the MFG value of every instance key below HKLM\Enum\PCI. Being
// registered is enough: removed devices whose keys remain count too.
bool detect_broadlogic_device();
