// The device questions' exports: each runs its routine with no output
// buffer and no trace window and returns the routine's answer unchanged.
#include "inventory/card_id.h"

extern "C" int WINAPI GetAudioCardID(void)
{
    return identify_audio_card(nullptr, nullptr);
}

extern "C" int WINAPI GetGraphicsCardID(void)
{
    return identify_graphics_card(nullptr, nullptr);
}
