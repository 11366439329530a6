// The device questions: each export runs its detection routine with no
// trace window and no description buffer and returns its answer.
#include "inventory/card_id.h"
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
