// libFuzzer target for the card definition line reader, built natively.
// The first byte picks the file (even: AudCards.def, odd: VidCards.def)
// and the size of a short copy made with fold_case; the rest is one line as
// fgets hands it over: at most 1023 bytes, zero-terminated, in a buffer of
// kCardLineSize bytes. Every block is exactly as large as it must be.
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

    if (read_card_line(file, line, *card)) {
        if (strlen(card->key) >= sizeof(card->key) || strlen(line) + 1 != strlen(text))
            abort();
        if (file == CardFile::audio && (card->identifier < 0 || card->identifier > 9))
            abort();
        card_key_matches(card->key, text);
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
