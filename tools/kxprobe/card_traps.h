// What makes a piece of a card definition file count otherwise than it
// reads, the traps that kxprobe --check-defs warns of. Plain text in and
// out, no Windows headers, so that it builds for any host.
#pragma once

#include "inventory/card_line.h"

enum CardTrap : unsigned {
    card_trap_nul = 1u << 0,        // a NUL byte ends the text that the lookup sees
    card_trap_indented = 1u << 1,   // a card line that does not begin in the first column: ignored
    card_trap_not_zero = 1u << 2,   // a VidCards.def card line that begins with another digit: ignored
    card_trap_short = 1u << 3,      // a card line of fewer than 9 characters: ignored
    card_trap_not_digits = 1u << 4, // VidCards.def: identifier characters that are not digits
    card_trap_not_dotted = 1u << 5, // VidCards.def: the identifier part is not 0.HH.LL.
    card_trap_no_blank = 1u << 6,   // AudCards.def: the digit is followed by something else than a blank
    card_trap_key_blank = 1u << 7,  // the key text begins with a blank
};

// The traps of a piece as fgets read it: `length` bytes at `text`, NULs
// included, of which the lookup sees those before the first NUL.
unsigned card_traps(CardFile file, const char *text, size_t length);
