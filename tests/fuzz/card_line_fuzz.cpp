// libFuzzer target for the card definition line reader, built natively.
// The first byte picks the file (even: AudCards.def, odd: VidCards.def),
// the size of a short copy made with fold_case and where a search text
// begins; the rest is one line as fgets hands it over: at most 1023 bytes,
// zero-terminated, in a buffer of kCardLineSize bytes. Every block is
// exactly as large as it must be.
#include "base/text.h"
#include "inventory/card_line.h"

#include <cstdint>
#include <cstdlib>
#include <cstring>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    if (size == 0)
        return 0;
    CardFile file = data[0] & 1 ? CardFile::video : CardFile::audio;
    size_t length = size - 1 < kCardLineSize - 1 ? size - 1 : kCardLineSize - 1;
    char *line = (char *)malloc(kCardLineSize);
    memcpy(line, data + 1, length);
    line[length] = 0;
    char *text = (char *)malloc(length + 1);
    memcpy(text, line, length + 1);
    CardLine *card = (CardLine *)malloc(sizeof(CardLine));

    bool counts = read_card_line(file, line, *card);
    if (counts != is_card_line(file, text))
        abort();
    if (counts) {
        if (strlen(card->key) >= sizeof(card->key) || strlen(line) + 1 != strlen(text))
            abort();
        if (file == CardFile::audio && (card->identifier < 0 || card->identifier > 9))
            abort();
        if (card_identifier(file, text) != card->identifier)
            abort();
        card_key_matches(card->key, text);
        // The lookup's in-place compare of the line as read must agree with
        // the copied key, against a search text taken from the line itself
        // (so that both outcomes come up) from one of its first 16 bytes.
        size_t from = (data[0] >> 1) % 16 < length ? (data[0] >> 1) % 16 : length;
        char *search = (char *)malloc(length + 1);
        fold_case(search, text + from, length + 1);
        if (card_line_matches(file, text, search) != card_key_matches(card->key, search))
            abort();
        free(search);
    } else if (strcmp(line, text)) {
        abort(); // a line that does not count is left as it is
    }
    size_t short_size = (data[0] >> 1) % 16 + 1;
    char *copy = (char *)malloc(short_size);
    fold_case(copy, text, short_size);
    if (strlen(copy) >= short_size)
        abort();

    free(copy);
    free(card);
    free(text);
    free(line);
    return 0;
}
