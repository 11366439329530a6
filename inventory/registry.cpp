#include "inventory/registry.h"

HKEY open_key(HKEY parent, const char *name, REGSAM access)
{
    HKEY key;
    return RegOpenKeyExA(parent, name, 0, access, &key) == ERROR_SUCCESS ? key : nullptr;
}
