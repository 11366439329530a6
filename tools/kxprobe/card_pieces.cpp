#include "card_pieces.h"

#include "base/text.h"

#include <cstring>

// fgets does not say how many bytes it read, which a NUL among them hides;
// it leaves the rest of the buffer as it was, so that in a buffer filled
// beforehand its terminator is the last NUL before the fill.
static bool fetch(PieceReader &reader, Piece &piece)
{
    memset(piece.text, 0xbd, sizeof(piece.text));
    if (!fgets(piece.text, sizeof(piece.text), reader.stream.get()))
        return false;
    piece.length = sizeof(piece.text) - 1;
    while (piece.text[piece.length])
        --piece.length;
    char line[kCardLineSize];
    strcpy(line, piece.text);
    piece.line = reader.line;
    piece.piece = reader.piece;
    piece.counts = read_card_line(reader.file, line, piece.card);
    if (ends_line(piece))
        ++reader.line, reader.piece = 1;
    else
        ++reader.piece;
    return true;
}

bool open_reader(PieceReader &reader, CardFile file, const char *path)
{
    reader.file = file;
    reader.stream.reset(fopen(path, "rt"));
    reader.line = reader.piece = 1;
    reader.consumed = 0;
    reader.ahead = -1;
    if (!reader.stream)
        return false;
    if (fetch(reader, reader.slot[0]))
        reader.ahead = 0;
    return true;
}

const Piece *next_piece(PieceReader &reader, bool &last)
{
    if (reader.ahead < 0)
        return nullptr;
    const Piece *piece = &reader.slot[reader.ahead];
    int other = 1 - reader.ahead;
    reader.ahead = fetch(reader, reader.slot[other]) ? other : -1;
    last = reader.ahead < 0;
    ++reader.consumed;
    return piece;
}

const char *escaped(unsigned char c)
{
    static char text[8];
    if (c == '\n' || c == '\r' || c == '\t' || c == '"' || c == '\\')
        TextBuilder(text).format("\\%c", c == '\n' ? 'n' : c == '\r' ? 'r' : c == '\t' ? 't' : c);
    else if (c < 0x20 || c >= 0x7f)
        TextBuilder(text).format("\\x%02x", c);
    else
        text[0] = (char)c, text[1] = 0;
    return text;
}

const char *where(int line, int piece)
{
    static char text[48];
    if (piece > 1)
        TextBuilder(text).format("line %d piece %d", line, piece);
    else
        TextBuilder(text).format("line %d", line);
    return text;
}

void deciding_line(CardFile file, const char *description, Text &text)
{
    char search_text[kCardLineSize];
    static Piece decider;
    fold_case(search_text, description, sizeof(search_text));
    decider.line = 0;
    for_each_match(card_file_name(file), file, search_text, [](const Piece &piece) { decider = piece; });
    if (!decider.line) {
        text_add(text, "no line matches");
        return;
    }
    size_t length = strlen(decider.text);
    if (length && decider.text[length - 1] == '\n')
        decider.text[--length] = 0;
    text_format(text, "%s: \"", where(decider.line, decider.piece));
    for (size_t i = 0; i < length; ++i)
        text_add(text, escaped(decider.text[i]));
    text_add(text, "\"");
}
