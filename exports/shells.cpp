// The device questions: thin shells around the detection routines, which
// the installer calls without a trace window.
#include "inventory/broadlogic.h"
#include "inventory/dvd_drive.h"

#include <windows.h>

extern "C" int WINAPI IsBroadLogicPresent(void)
{
    return detect_broadlogic_device();
}

// The caller's text is upper-cased in place once a live drive is compared
// with it, so it must be writable.
extern "C" int WINAPI IsDVDDrivePresent(char *text)
{
    return detect_dvd_drive(text, nullptr);
}
