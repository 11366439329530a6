#include "inventory/card_line.h"

#include <cstring>

const char *card_file_name(CardFile file)
{
    return file == CardFile::audio ? "AudCards.def" : "VidCards.def";
}

int card_no_match(CardFile file)
{
    return file == CardFile::audio ? 0 : -1;
}

// Identifier characters are not validated: a non-digit adds its own
// character code minus that of "0" to the sum.
static int digit(char c)
{
    return (unsigned char)c - '0';
}

static bool is_card_line(CardFile file, const char *line)
{
    if (strlen(line) < kCardLineMinLength)
        return false;
    if (file == CardFile::video)
        return line[0] == '0';
    return line[0] >= '0' && line[0] <= '9';
}

bool read_card_line(CardFile file, char *line, CardLine &card)
{
    if (!is_card_line(file, line))
        return false;
    line[strlen(line) - 1] = '\0';
    const char *key;
    if (file == CardFile::audio) {
        card.identifier = digit(line[0]);
        key = line + 2;
    } else {
        card.identifier = 1000 * digit(line[2]) + 100 * digit(line[3]) + 10 * digit(line[5]) + digit(line[6]);
        key = line + 8;
    }
    fold_case(card.key, key, sizeof(card.key));
    return true;
}

void fold_case(char *to, const char *text, size_t size)
{
    size_t i = 0;
    for (; i + 1 < size && text[i]; ++i)
        to[i] = text[i] >= 'a' && text[i] <= 'z' ? text[i] - 'a' + 'A' : text[i];
    to[i] = '\0';
}

bool card_key_matches(const char *key, const char *search_text)
{
    return !strncmp(search_text, key, strlen(key));
}
