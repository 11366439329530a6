#include "card_defs.h"

#include "card_overrides.h"
#include "card_pieces.h"
#include "card_traps.h"

#include "base/text.h"
#include "base/unique.h"
#include "profile/text_kind.h"

#include <windows.h>

#include <cstdio>
#include <cstring>

namespace {

struct FileFacts {
    CardFile file;
    const char *question;
    int no_file; // the answer for a live device when the file does not open
};

} // namespace

static const FileFacts kFiles[] = {{CardFile::audio, "GetAudioCardID", -1}, {CardFile::video, "GetGraphicsCardID", -2}};

enum { kClean = 0, kWarned = 1, kNoFolder = 2 };

static bool make_path(const char *dir, CardFile file, char *path, size_t size)
{
    const char *name = card_file_name(file);
    if (strlen(dir) + 1 + strlen(name) >= size)
        return false;
    strcpy(path, dir);
    strcat(path, "\\");
    strcat(path, name);
    return true;
}

static void out_quoted(const char *text, size_t length)
{
    out_text(kStdout, "\"");
    for (size_t i = 0; i < length; ++i)
        out_text(kStdout, escaped(text[i]));
    out_text(kStdout, "\"");
}

static void *heap_alloc(size_t size)
{
    return HeapAlloc(GetProcessHeap(), 0, size);
}

namespace {

// What a block's tables are made of, released with it.
struct BlockMemory {
    UniqueHeap<BlockPiece> pieces;
    UniqueHeap<char> arena;
    UniqueHeap<int> slots, order, next_free;
};

} // namespace

static bool make_block(Block &block, BlockMemory &memory)
{
    memory.pieces.reset((BlockPiece *)heap_alloc(kBlockPieces * sizeof(BlockPiece)));
    memory.arena.reset((char *)heap_alloc(kBlockBytes));
    memory.slots.reset((int *)heap_alloc(kSlots * sizeof(int)));
    memory.order.reset((int *)heap_alloc(kBlockPieces * sizeof(int)));
    memory.next_free.reset((int *)heap_alloc((kBlockPieces + 1) * sizeof(int)));
    block.pieces = memory.pieces.get();
    block.arena = memory.arena.get();
    block.slots = memory.slots.get();
    block.order = memory.order.get();
    block.next_free = memory.next_free.get();
    return block.pieces && block.arena && block.slots && block.order && block.next_free;
}

static void add_piece(Block &block, CardFile file, const Piece &piece, bool last)
{
    BlockPiece &to = block.pieces[block.count++];
    const char *kept = piece.counts ? piece.card.key : piece.text;
    size_t text_length = strlen(piece.text);
    to.line = piece.line;
    to.piece = piece.piece;
    to.identifier = piece.card.identifier;
    to.counts = piece.counts;
    to.ends_line = ends_line(piece);
    to.last = last;
    to.traps = card_traps(file, piece.text, piece.length);
    to.seen = (unsigned)text_length;
    memcpy(to.head, piece.text, sizeof(to.head));
    to.last_char = text_length ? piece.text[text_length - 1] : 0;
    to.at = (unsigned)block.used;
    to.length = (unsigned)strlen(kept);
    to.over_line = 0;
    memcpy(block.arena + block.used, kept, to.length + 1);
    block.used += to.length + 1;
}

static bool block_full(const Block &block)
{
    return block.count == kBlockPieces || kBlockBytes - block.used < kCardLineSize;
}

namespace {

// One file being checked: what its bytes showed, what it holds and how
// many warnings it got.
struct Checked {
    const FileFacts *facts;
    bool quiet; // only the warnings, each naming its file
    TextKind kind;
    bool opened;
    int card_lines, warnings;
};

} // namespace

// Opens a warning line about `piece`, or the whole file; the caller ends it.
static void warning(Checked &checked, const BlockPiece *piece = nullptr)
{
    ++checked.warnings;
    if (checked.quiet)
        out_format(kStdout, "%s: ", card_file_name(checked.facts->file));
    else
        out_text(kStdout, "  ");
    if (piece)
        out_format(kStdout, "%s: ", where(piece->line, piece->piece));
    out_text(kStdout, "warning: ");
}

static const struct {
    unsigned trap;
    const char *reason;
} kIgnored[] = {
    {card_trap_indented, "a card line begins in the first column"},
    {card_trap_not_zero, "a VidCards.def card line begins with 0"},
    {card_trap_short, "a card line has at least 9 characters with its line feed"},
};

// What the reading rules make of a piece of the line otherwise than it
// reads.
static void check_traps(Checked &checked, const BlockPiece &piece)
{
    // In UTF-16 every line has them: the file's warning says so once.
    if ((piece.traps & card_trap_nul) && checked.kind != TextKind::utf16) {
        warning(checked, &piece);
        out_format(kStdout,
                   "a NUL byte at character %u ends the line for the DLL, which reads only what comes before it",
                   piece.seen + 1);
        if (piece.counts) {
            out_text(kStdout, ", and drops the character before it, ");
            out_quoted(&piece.last_char, 1);
            out_text(kStdout, ", in place of the line feed");
        }
        out_text(kStdout, "\r\n");
    }
    for (const auto &ignored : kIgnored) {
        if (!(piece.traps & ignored.trap))
            continue;
        warning(checked, &piece);
        out_format(kStdout, "looks like a card line but is ignored: %s\r\n", ignored.reason);
    }
    if (piece.traps & card_trap_no_blank) {
        warning(checked, &piece);
        out_text(kStdout, "the card digit is followed by ");
        out_quoted(&piece.head[1], 1);
        out_format(kStdout, ", not a blank: the DLL reads card %d and takes ", piece.identifier);
        out_quoted(&piece.head[1], 1);
        out_text(kStdout, " for the separator, which is not part of the key text\r\n");
    }
    if (piece.traps & card_trap_key_blank) {
        warning(checked, &piece);
        out_text(kStdout,
                 "the key text begins with a blank, so it matches only a description that begins with one\r\n");
    }
    if (piece.traps & card_trap_not_digits) {
        warning(checked, &piece);
        out_format(kStdout, "identifier characters are not all digits; they are summed unchecked to %d\r\n",
                   piece.identifier);
    }
    if (piece.traps & card_trap_not_dotted) {
        warning(checked, &piece);
        out_text(kStdout, "the identifier part ");
        out_quoted(piece.head, sizeof(piece.head));
        out_text(kStdout,
                 " is not 0.HH.LL.: the DLL does not look at the characters where the dots belong, and takes the key "
                 "text from the ninth character on\r\n");
    }
}

static void check_piece(Checked &checked, const Block &block, int index)
{
    const BlockPiece &piece = block.pieces[index];
    const char *stored = key_of(block, index);
    checked.card_lines += piece.counts;
    if (!checked.quiet) {
        if (piece.counts)
            out_format(kStdout, "  %s: card %d, key text ", where(piece.line, piece.piece), piece.identifier);
        else
            out_format(kStdout, "  %s: ignored: ", where(piece.line, piece.piece));
        out_quoted(stored, piece.length);
        out_text(kStdout, "\r\n");
    }
    if (!piece.ends_line && !piece.last && piece.piece == 1) {
        warning(checked, &piece);
        out_text(kStdout,
                 "longer than 1023 characters: read in pieces of at most 1023, each taken as a line of "
                 "its own\r\n");
    }
    if (piece.counts && piece.piece > 1) {
        warning(checked, &piece);
        out_text(kStdout, "this piece of a long line counts as a card line of its own\r\n");
    }
    if (piece.counts && !piece.ends_line && piece.last && !(piece.traps & card_trap_nul)) {
        warning(checked, &piece);
        out_text(kStdout, "the last line has no line feed, so it loses its last real character ");
        out_quoted(&piece.last_char, 1);
        out_text(kStdout, "\r\n");
    }
    check_traps(checked, piece);
    if (piece.over_line) {
        warning(checked, &piece);
        out_format(kStdout, "never decides: the key text of %s, ", where(piece.over_line, piece.over_piece));
        out_quoted(stored, piece.over_length);
        out_text(kStdout, ", begins its own, and the later line wins\r\n");
    }
}

namespace {

// Text mode hides what only the bytes read as binary show: how the file
// begins, which tells UTF-16 and a byte-order mark, and whether anything
// follows the first Ctrl-Z, which ends the data.
struct FileBytes {
    TextKind kind;
    long ctrl_z; // the offset of a Ctrl-Z that hides data, or -1
};

} // namespace

static FileBytes read_bytes(const char *path)
{
    FileBytes bytes = {TextKind::ansi, -1};
    // An editor may hold the file open for writing.
    UniqueFile file(
        CreateFileA(path, GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING, 0, nullptr));
    if (!file)
        return bytes;
    static char chunk[65536];
    long offset = 0, ctrl_z = -1;
    DWORD got;
    while (bytes.ctrl_z < 0 && ReadFile(file.get(), chunk, sizeof(chunk), &got, nullptr) && got) {
        if (!offset)
            bytes.kind = text_kind(chunk, got);
        const char *found = ctrl_z < 0 ? (const char *)memchr(chunk, 0x1a, got) : nullptr;
        if (found)
            ctrl_z = offset + (long)(found - chunk);
        offset += (long)got;
        if (ctrl_z >= 0 && ctrl_z + 1 < offset)
            bytes.ctrl_z = ctrl_z;
    }
    return bytes;
}

// What the DLL makes of a file that is no ANSI text: said once, before its
// lines.
static void check_text_kind(Checked &checked, const Piece &first)
{
    if (checked.kind == TextKind::utf16) {
        warning(checked);
        out_text(kStdout,
                 "the file is UTF-16 text, which the DLL reads a byte at a time as ANSI text: a NUL byte beside each "
                 "character ends every line's text, so no line reads as written; save the file as ANSI text\r\n");
    }
    if (checked.kind != TextKind::utf8_bom)
        return;
    warning(checked);
    out_text(kStdout,
             "the file begins with a UTF-8 byte-order mark, bytes EF BB BF, which the DLL reads as the first three "
             "characters of line 1: that line is ignored");
    char line[kCardLineSize];
    CardLine card;
    strcpy(line, first.text + 3);
    if (read_card_line(checked.facts->file, line, card))
        out_format(kStdout, ", where without them it is card %d", card.identifier);
    out_text(kStdout, "; save the file as ANSI text\r\n");
}

static void check_file(Checked &checked, const char *dir, Block &block)
{
    const FileFacts &facts = *checked.facts;
    char path[MAX_PATH * 2];
    PieceReader reader;
    if (!checked.quiet)
        out_format(kStdout, "%s:\r\n", card_file_name(facts.file));
    checked.opened = make_path(dir, facts.file, path, sizeof(path)) && open_reader(reader, facts.file, path);
    if (!checked.opened) {
        warning(checked);
        out_format(kStdout, "does not open; %s answers %d for a live device\r\n", facts.question, facts.no_file);
        return;
    }
    const FileBytes bytes = read_bytes(path);
    checked.kind = bytes.kind;
    if (reader.ahead >= 0)
        check_text_kind(checked, reader.slot[reader.ahead]);
    bool last = false;
    while (!last) {
        block.count = 0;
        block.used = 0;
        const Piece *piece;
        while (!block_full(block) && (piece = next_piece(reader, last))) {
            add_piece(block, facts.file, *piece, last);
            if (last)
                break;
        }
        if (!block.count)
            break;
        last = last || reader.ahead < 0;
        overriders_within(block);
        if (!last)
            overriders_after(block, facts.file, path, reader.consumed);
        for (int i = 0; i < block.count; ++i)
            check_piece(checked, block, i);
    }
    if (bytes.ctrl_z >= 0) {
        warning(checked);
        out_format(kStdout, "the Ctrl-Z at byte %ld ends the data; what follows it is never read\r\n", bytes.ctrl_z);
    }
}

// A folder that is not there, or a file, is an error of the command line,
// told apart from a folder without the card files.
static bool is_card_folder(const char *option, const char *dir)
{
    DWORD attributes = GetFileAttributesA(dir);
    if (attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY))
        return true;
    DWORD error = GetLastError();
    static Text problem;
    const TextInUse in_use(problem);
    if (attributes != INVALID_FILE_ATTRIBUTES)
        text_add(problem, "a file, not a folder");
    else if (error == ERROR_FILE_NOT_FOUND || error == ERROR_PATH_NOT_FOUND)
        text_add(problem, "no such folder");
    else
        text_windows_error(problem, error);
    out_format(kStderr, "kxprobe: %s %s: %s\r\n", option, dir, problem.text());
    return false;
}

int check_card_files(const char *dir, bool quiet)
{
    if (!is_card_folder("--check-defs", dir))
        return kNoFolder;
    Block block = {};
    BlockMemory memory;
    if (!make_block(block, memory)) {
        out_text(kStderr, "kxprobe: not enough memory to check the card files\r\n");
        return kWarned;
    }
    Checked checked[2];
    int warnings = 0;
    for (int i = 0; i < 2; ++i) {
        checked[i] = Checked{&kFiles[i], quiet, TextKind::ansi, false, 0, 0};
        check_file(checked[i], dir, block);
        warnings += checked[i].warnings;
    }
    for (const Checked &file : checked) {
        out_format(kStdout, "%s: ", card_file_name(file.facts->file));
        if (file.opened)
            out_format(kStdout, "%d card line%s; ", file.card_lines, file.card_lines == 1 ? "" : "s");
        else
            out_text(kStdout, "does not open; ");
    }
    out_format(kStdout, "%d warning%s\r\n", warnings, warnings == 1 ? "" : "s");
    return warnings ? kWarned : kClean;
}

int explain_card_files(const char *dir, const char *description)
{
    if (!is_card_folder("--explain", dir))
        return kNoFolder;
    char search_text[kCardLineSize], path[MAX_PATH * 2];
    fold_case(search_text, description, sizeof(search_text));
    out_text(kStdout, "search text ");
    out_quoted(search_text, strlen(search_text));
    out_text(kStdout, "\r\n");
    int status = kClean;
    for (const FileFacts &facts : kFiles) {
        out_format(kStdout, "%s:\r\n", card_file_name(facts.file));
        int answer = card_no_match(facts.file);
        bool opened = make_path(dir, facts.file, path, sizeof(path)) &&
                      for_each_match(path, facts.file, search_text, [&answer](const Piece &piece) {
                          out_format(kStdout, "  %s matches: card %d, key text ", where(piece.line, piece.piece),
                                     piece.card.identifier);
                          out_quoted(piece.card.key, strlen(piece.card.key));
                          out_text(kStdout, "\r\n");
                          answer = piece.card.identifier;
                      });
        if (opened)
            out_format(kStdout, "  %s = %d\r\n", facts.question, answer);
        else
            out_format(kStdout, "  does not open: %s = %d\r\n", facts.question, facts.no_file);
        status = opened ? status : kWarned;
    }
    return status;
}
