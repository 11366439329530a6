// The device questions: thin shells around the detection routines, which
// the installer calls without a trace window.
#include "inventory/broadlogic.h"

#include <windows.h>

extern "C" int WINAPI IsBroadLogicPresent(void)
{
    return detect_broadlogic_device();
}

