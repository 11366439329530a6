#include "card_traps.h"

#include <cstring>

static bool is_blank(char c)
{
    return c == ' ' || c == '\t';
}

static bool is_digit(char c)
{
    return c >= '0' && c <= '9';
}

// Why a line that begins like a card line does not count; none when it
// does not look like one.
static unsigned ignored_because(CardFile file, const char *text)
{
    size_t first = strspn(text, " \t");
    if (!is_digit(text[first]))
        return 0;
    if (first > 0)
        return card_trap_indented;
    if (file == CardFile::video && text[0] != '0')
        return card_trap_not_zero;
    return card_trap_short;
}

// VidCards.def sums the characters in place of HHLL without looking at
// them, and passes over those in place of the dots.
static unsigned identifier_traps(const char *text)
{
    static const int kDigits[] = {2, 3, 5, 6}, kDots[] = {1, 4, 7};
    unsigned traps = 0;
    for (int at : kDigits)
        if (!is_digit(text[at]))
            traps |= card_trap_not_digits;
    for (int at : kDots)
        if (text[at] != '.')
            traps |= card_trap_not_dotted;
    return traps;
}

unsigned card_traps(CardFile file, const char *text, size_t length)
{
    const size_t seen = strlen(text);
    unsigned traps = 0;
    if (seen < length)
        traps |= card_trap_nul;
    if (!is_card_line(file, text))
        return traps | ignored_because(file, text);
    if (file == CardFile::video)
        traps |= identifier_traps(text);
    else if (!is_blank(text[1]))
        traps |= card_trap_no_blank;
    // The key text ends before the last character, which the lookup drops.
    const size_t key = file == CardFile::audio ? 2 : 8;
    if (key + 1 < seen && is_blank(text[key]))
        traps |= card_trap_key_blank;
    return traps;
}
