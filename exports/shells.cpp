// The device questions: each export runs its detection routine with no
// trace window and no description buffer and returns its answer.
#include "inventory/broadlogic.h"
#include "inventory/card_id.h"
#include "inventory/dvd_drive.h"
#include "inventory/pci_query.h"

#include <windows.h>

extern "C" int WINAPI GetAudioCardID(void)
{
    return identify_audio_card(nullptr, nullptr);
}

extern "C" int WINAPI GetGraphicsCardID(void)
{
    return identify_graphics_card(nullptr, nullptr);
}

extern "C" int WINAPI GetPCIInfo(int selector)
{
    return query_pci_identifier(selector, 0, nullptr);
}

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
