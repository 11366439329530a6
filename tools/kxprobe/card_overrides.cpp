#include "card_overrides.h"

#include "card_pieces.h"

#include <cstdlib>
#include <cstring>

static unsigned long hash_step(unsigned long hash, unsigned char c)
{
    return (hash ^ c) * 16777619ul;
}

static const unsigned long kHashStart = 2166136261ul;

static void set_overrider(BlockPiece &piece, int line, int piece_of_line, unsigned length)
{
    piece.over_line = line;
    piece.over_piece = piece_of_line;
    piece.over_length = length;
}

void overriders_within(Block &block)
{
    for (int s = 0; s < kSlots; ++s)
        block.slots[s] = -1;
    for (int i = block.count - 1; i >= 0; --i) {
        BlockPiece &piece = block.pieces[i];
        if (!piece.counts)
            continue;
        const char *key = key_of(block, i);
        unsigned long hash = kHashStart;
        int first = -1;
        unsigned first_length = 0;
        for (unsigned length = 0;; hash = hash_step(hash, key[length++])) {
            for (unsigned s = hash & (kSlots - 1); block.slots[s] >= 0; s = (s + 1) & (kSlots - 1)) {
                int later = block.slots[s];
                if (block.pieces[later].length == length && !memcmp(key_of(block, later), key, length) &&
                    (first < 0 || later < first))
                    first = later, first_length = length;
            }
            if (length == piece.length)
                break;
        }
        if (first >= 0)
            set_overrider(piece, block.pieces[first].line, block.pieces[first].piece, first_length);
        unsigned s = hash & (kSlots - 1);
        while (block.slots[s] >= 0 && strcmp(key_of(block, block.slots[s]), key))
            s = (s + 1) & (kSlots - 1);
        block.slots[s] = i;
    }
}

static const Block *g_sorting;

static int by_key(const void *a, const void *b)
{
    return strcmp(key_of(*g_sorting, *(const int *)a), key_of(*g_sorting, *(const int *)b));
}

static int next_free(Block &block, int position)
{
    while (block.next_free[position] != position)
        position = block.next_free[position] = block.next_free[block.next_free[position]];
    return position;
}

void overriders_after(Block &block, CardFile file, const char *path, long skip)
{
    int waiting = 0;
    for (int i = 0; i < block.count; ++i)
        if (block.pieces[i].counts && !block.pieces[i].over_line)
            block.order[waiting++] = i;
    if (!waiting)
        return;
    g_sorting = &block;
    qsort(block.order, waiting, sizeof(int), by_key);
    for (int p = 0; p <= waiting; ++p)
        block.next_free[p] = p;

    PieceReader reader;
    if (!open_reader(reader, file, path))
        return;
    bool last;
    const Piece *piece;
    while (next_free(block, 0) < waiting && (piece = next_piece(reader, last))) {
        if (reader.consumed <= skip || !piece->counts)
            continue;
        const char *key = piece->card.key;
        size_t length = strlen(key);
        int low = 0;
        for (int count = waiting; count > 0;) {
            int half = count / 2;
            if (strcmp(key_of(block, block.order[low + half]), key) < 0)
                low += half + 1, count -= half + 1;
            else
                count = half;
        }
        for (int p = next_free(block, low); p < waiting && !strncmp(key_of(block, block.order[p]), key, length);
             p = next_free(block, p)) {
            set_overrider(block.pieces[block.order[p]], piece->line, piece->piece, (unsigned)length);
            block.next_free[p] = p + 1;
        }
    }
}
