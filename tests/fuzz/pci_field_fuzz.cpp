// libFuzzer target for the hardware-key field reader, built natively. The
// first byte picks the selector (-1 to 3), the rest is the hardware key,
// copied into a block of exactly its size so that any read past the
// terminator, like any write past the trace line, is caught.
#include "inventory/pci_field.h"

#include <cstdint>
#include <cstdlib>
#include <cstring>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    if (size == 0)
        return 0;
    int selector = data[0] % 5 - 1;
    char *key = (char *)malloc(size);
    memcpy(key, data + 1, size - 1);
    key[size - 1] = 0;
    char *line = (char *)malloc(kPciTraceLineSize);

    int number = read_pci_field(key, selector, line);
    if (number < 0 || number > 0xffff || strlen(line) >= kPciTraceLineSize)
        abort();

    free(line);
    free(key);
    return 0;
}
