#include "inventory/card_line.h"

#include "base/text.h"

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

static const char *key_text(CardFile file, const char *line)
{
    return line + (file == CardFile::audio ? 2 : 8);
}

bool is_card_line(CardFile file, const char *line)
{
    for (int i = 0; i < kCardLineMinLength; ++i)
        if (!line[i])
            return false;
    if (file == CardFile::video)
        return line[0] == '0';
    return line[0] >= '0' && line[0] <= '9';
}

int card_identifier(CardFile file, const char *line)
{
    if (file == CardFile::audio)
        return digit(line[0]);
    return 1000 * digit(line[2]) + 100 * digit(line[3]) + 10 * digit(line[5]) + digit(line[6]);
}

bool card_line_matches(CardFile file, const char *line, const char *search_text)
{
    const char *key = key_text(file, line);
    for (size_t i = 0; key[i + 1]; ++i)
        if (fold_char(key[i]) != search_text[i])
            return false;
    return true;
}

bool read_card_line(CardFile file, char *line, CardLine &card)
{
    if (!is_card_line(file, line))
        return false;
    line[strlen(line) - 1] = '\0';
    card.identifier = card_identifier(file, line);
    fold_case(card.key, key_text(file, line), sizeof(card.key));
    return true;
}

bool card_key_matches(const char *key, const char *search_text)
{
    return !strncmp(search_text, key, strlen(key));
}
