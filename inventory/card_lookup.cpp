#include "inventory/card_lookup.h"

#include "base/text.h"
#include "base/unique.h"

#include <cstdio>
#include <cstring>

bool look_up_card(CardFile file, const char *description, const TraceSink *trace, int &result)
{
    char search_text[kCardLineSize], line[kCardLineSize];

    fold_case(search_text, description, sizeof(search_text));
    result = card_no_match(file);
    // Text mode: CR LF reads as LF, a lone CR stays, Ctrl-Z ends the data.
    UniqueStream stream(fopen(card_file_name(file), "rt"));
    if (!stream)
        return false;
    if (file == CardFile::video)
        trace_line(trace, "  ");
    while (fgets(line, sizeof(line), stream.get())) {
        if (!is_card_line(file, line))
            continue;
        if (card_line_matches(file, line, search_text))
            result = card_identifier(file, line);
        if (file == CardFile::audio && trace) {
            line[strlen(line) - 1] = '\0';
            trace_line(trace, line);
        }
    }
    return true;
}
