// AudCards.def and VidCards.def read piece by piece as the DLL reads them,
// text mode and fgets into a 1024-byte buffer, for the line that decided a
// card question and for kxprobe's checks of the files.
#pragma once

#include "base/unique.h"
#include "inventory/card_line.h"

#include "output.h"

#include <cstdio>

// What one fgets call returned: a whole line, or a piece of a line longer
// than 1023 characters, which the DLL reads as a line of its own.
struct Piece {
    int line, piece; // physical line number and piece of it, from 1
    bool counts;
    CardLine card;            // when it counts
    size_t length;            // bytes read, NULs included
    char text[kCardLineSize]; // as read, line feed included
};

inline bool ends_line(const Piece &piece)
{
    return piece.length && piece.text[piece.length - 1] == '\n';
}

// Reads a card file one piece ahead, so that the last piece is known as
// such.
struct PieceReader {
    CardFile file;
    UniqueStream stream;
    int line, piece; // of the piece read ahead
    Piece slot[2];
    int ahead;     // the slot read ahead, or -1 at the end
    long consumed; // pieces handed out
};

// False when the file does not open; the reader closes the file as it goes
// out of scope.
bool open_reader(PieceReader &reader, CardFile file, const char *path);
// The next piece, or null at the end; `last` tells whether another follows.
const Piece *next_piece(PieceReader &reader, bool &last);

// One character of a text shown between double quotes: line ends, tabs,
// quotes and backslashes escaped as in C, other control and non-ASCII bytes
// in hex.
const char *escaped(unsigned char c);
// "line 7", or "line 7 piece 2" for the second piece of a long line.
const char *where(int line, int piece);

// Every line of the file that matches the search text, in file order: the
// last decides. Calls `found` for each; false when the file does not open.
template <class Found> bool for_each_match(const char *path, CardFile file, const char *search_text, Found found)
{
    PieceReader reader;
    if (!open_reader(reader, file, path))
        return false;
    bool last;
    for (const Piece *piece; (piece = next_piece(reader, last));)
        if (piece->counts && card_key_matches(piece->card.key, search_text))
            found(*piece);
    return true;
}

// "line N: <the line as read>" for the line of the file in the current
// folder that decides for `description`, or "no line matches".
void deciding_line(CardFile file, const char *description, Text &text);
