// The later lines that override the pieces of a block of a card file,
// for kxprobe --check-defs.
#pragma once

#include "inventory/card_line.h"

#include <cstddef>

// --check-defs takes a file in blocks of pieces kept in memory, so that a
// file of any size is checked in the same room. Each block's own pieces
// are printed once the later line that overrides each of them, if any, is
// known: from within the block, then from a scan of the rest of the file.
enum {
    kBlockPieces = 65536,
    kBlockBytes = 4 * 1024 * 1024,
    kSlots = 2 * kBlockPieces, // hash table of keys, a power of two
};

struct BlockPiece {
    int line, piece, identifier;
    bool counts, ends_line, last;
    unsigned traps;      // CardTrap
    unsigned seen;       // the characters before the first NUL
    char head[8];        // the first characters: an identifier part, a separator
    char last_char;      // the character that a counting piece lost
    unsigned at, length; // in the arena: the key of a counting piece, else the text
    int over_line;       // the first later line whose key text begins this one's, or 0
    int over_piece;
    unsigned over_length; // that key text's length: it is this key's beginning
};

struct Block {
    BlockPiece *pieces;
    int count;
    char *arena;
    size_t used;
    int *slots, *order, *next_free;
};

inline const char *key_of(const Block &block, int index)
{
    return block.arena + block.pieces[index].at;
}

// From the last piece to the first: the table holds each key text met so
// far with the earliest piece that has it, so looking up every beginning of
// a piece's key finds the first later line that overrides it.
void overriders_within(Block &block);

// The pieces still without an overrider, sorted by key text: those that a
// later key text begins lie together from where that text would sort.
// Each is taken by the first later piece that begins it, then skipped.
void overriders_after(Block &block, CardFile file, const char *path, long skip);
