#include "inventory/card_lookup.h"
#include "inventory/walk.h"

#include <cstdio>

bool look_up_card(CardFile file, const char *description, HWND trace, int &result)
{
    char search_text[kCardLineSize], line[kCardLineSize];
    CardLine card;

    fold_case(search_text, description, sizeof(search_text));
    result = card_no_match(file);
    // Text mode: CR LF reads as LF, a lone CR stays, Ctrl-Z ends the data.
    FILE *stream = fopen(card_file_name(file), "rt");
    if (!stream)
        return false;
    if (file == CardFile::video)
        trace_line(trace, "  ");
    while (fgets(line, sizeof(line), stream)) {
        if (!read_card_line(file, line, card))
            continue;
        if (file == CardFile::audio)
            trace_line(trace, line);
        if (card_key_matches(card.key, search_text))
            result = card.identifier;
    }
    fclose(stream);
    return true;
}
