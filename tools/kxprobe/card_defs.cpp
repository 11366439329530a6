#include "card_defs.h"

#include <cstdio>
#include <vector>

namespace carddefs {
namespace {

struct FileFacts {
    CardFile file;
    const char *question;
    int no_file; // the answer for a live device when the file does not open
};

const FileFacts kFiles[] = {{CardFile::audio, "GetAudioCardID", -1}, {CardFile::video, "GetGraphicsCardID", -2}};

// What one fgets call returned: a whole line, or a piece of a line longer
// than 1023 characters, which the DLL reads as a line of its own.
struct Piece {
    int line, piece;  // physical line number and piece of it, from 1
    std::string text; // as read, line feed included
    bool counts;
    CardLine card; // when it counts
};

struct DefFile {
    bool opened = false;
    std::vector<Piece> pieces;
    long ctrl_z = -1; // offset of a Ctrl-Z that hides later bytes, or -1
};

bool ends_line(const Piece &piece)
{
    return !piece.text.empty() && piece.text.back() == '\n';
}

// Text mode stops at the first Ctrl-Z; only a byte read as binary shows
// whether anything follows it.
long ctrl_z_hiding_data(const std::string &path)
{
    FILE *stream = fopen(path.c_str(), "rb");
    if (!stream)
        return -1;
    long ctrl_z = -1, offset = 0;
    bool hides_data = false;
    for (int c; !hides_data && (c = fgetc(stream)) != EOF; ++offset) {
        if (ctrl_z >= 0)
            hides_data = true;
        else if (c == 0x1a)
            ctrl_z = offset;
    }
    fclose(stream);
    return hides_data ? ctrl_z : -1;
}

// Reads the file as the DLL does: text mode, fgets into a 1024-byte buffer,
// each piece judged by the DLL's line reader.
DefFile read_file(const std::string &dir, CardFile file)
{
    DefFile def;
    const std::string path = dir + "\\" + card_file_name(file);
    FILE *stream = fopen(path.c_str(), "rt");
    if (!stream)
        return def;
    def.opened = true;
    char buffer[kCardLineSize];
    int line = 1, piece = 1;
    while (fgets(buffer, sizeof(buffer), stream)) {
        def.pieces.push_back({line, piece, buffer, false, {}});
        Piece &read = def.pieces.back();
        read.counts = read_card_line(file, buffer, read.card);
        if (ends_line(read))
            ++line, piece = 1;
        else
            ++piece;
    }
    fclose(stream);
    def.ctrl_z = ctrl_z_hiding_data(path);
    return def;
}

std::string quoted(const std::string &text)
{
    std::string out = "\"";
    for (unsigned char c : text) {
        char escaped[8];
        if (c == '\n' || c == '\r' || c == '\t' || c == '"' || c == '\\')
            snprintf(escaped, sizeof(escaped), "\\%c", c == '\n' ? 'n' : c == '\r' ? 'r' : c == '\t' ? 't' : c);
        else if (c < 0x20 || c >= 0x7f)
            snprintf(escaped, sizeof(escaped), "\\x%02x", c);
        else
            snprintf(escaped, sizeof(escaped), "%c", c);
        out += escaped;
    }
    return out + "\"";
}

std::string where(const Piece &piece)
{
    std::string text = "line " + std::to_string(piece.line);
    if (piece.piece > 1)
        text += " piece " + std::to_string(piece.piece);
    return text;
}

// Why a line that begins like a card line does not count, or null when it
// does not look like one.
const char *ignored_because(CardFile file, const std::string &text)
{
    size_t first = text.find_first_not_of(" \t");
    if (first == std::string::npos || text[first] < '0' || text[first] > '9')
        return nullptr;
    if (first > 0)
        return "a card line begins in the first column";
    if (file == CardFile::video && text[0] != '0')
        return "a VidCards.def card line begins with 0";
    return "a card line has at least 9 characters with its line feed";
}

// An AudCards.def card line begins with its digit; VidCards.def sums four
// characters without looking at them.
bool identifier_is_digits(CardFile file, const std::string &text)
{
    if (file == CardFile::audio)
        return true;
    for (int at : {2, 3, 5, 6})
        if (text[at] < '0' || text[at] > '9')
            return false;
    return true;
}

// The later line whose key text begins this line's own, or null.
const Piece *overriding_line(const DefFile &def, size_t index)
{
    for (size_t later = index + 1; later < def.pieces.size(); ++later)
        if (def.pieces[later].counts && card_key_matches(def.pieces[later].card.key, def.pieces[index].card.key))
            return &def.pieces[later];
    return nullptr;
}

int warn(const Piece &piece, const std::string &text)
{
    printf("  %s: warning: %s\n", where(piece).c_str(), text.c_str());
    return 1;
}

int check_piece(CardFile file, const DefFile &def, size_t index)
{
    const Piece &piece = def.pieces[index];
    const bool last = index + 1 == def.pieces.size();
    int warnings = 0;

    if (piece.counts)
        printf("  %s: card %d, key text %s\n", where(piece).c_str(), piece.card.identifier,
               quoted(piece.card.key).c_str());
    else
        printf("  %s: ignored: %s\n", where(piece).c_str(), quoted(piece.text).c_str());
    if (!ends_line(piece) && !last && piece.piece == 1)
        warnings += warn(piece, "longer than 1023 characters: read in pieces of at most 1023, each taken as a "
                                "line of its own");
    if (piece.counts && piece.piece > 1)
        warnings += warn(piece, "this piece of a long line counts as a card line of its own");
    if (piece.counts && !ends_line(piece) && last)
        warnings += warn(piece, "the last line has no line feed, so it loses its last real character " +
                                    quoted(piece.text.substr(piece.text.size() - 1)));
    const char *reason = piece.counts ? nullptr : ignored_because(file, piece.text);
    if (reason)
        warnings += warn(piece, std::string("looks like a card line but is ignored: ") + reason);
    if (piece.counts && !identifier_is_digits(file, piece.text))
        warnings += warn(piece, "identifier characters are not all digits; they are summed unchecked to " +
                                    std::to_string(piece.card.identifier));
    const Piece *later = piece.counts ? overriding_line(def, index) : nullptr;
    if (later)
        warnings += warn(piece, "never decides: the key text of " + where(*later) + ", " +
                                    quoted(later->card.key) + ", begins its own, and the later line wins");
    return warnings;
}

// Every line that matches the description, in file order: the last decides.
std::vector<const Piece *> matches(const DefFile &def, const std::string &description)
{
    char search_text[kCardLineSize];
    fold_case(search_text, description.c_str(), sizeof(search_text));
    std::vector<const Piece *> found;
    for (const Piece &piece : def.pieces)
        if (piece.counts && card_key_matches(piece.card.key, search_text))
            found.push_back(&piece);
    return found;
}

} // namespace

int check(const std::string &dir)
{
    int warnings = 0;
    for (const FileFacts &facts : kFiles) {
        const DefFile def = read_file(dir, facts.file);
        printf("%s:\n", card_file_name(facts.file));
        if (!def.opened) {
            printf("  warning: does not open; %s answers %d for a live device\n", facts.question, facts.no_file);
            ++warnings;
            continue;
        }
        for (size_t i = 0; i < def.pieces.size(); ++i)
            warnings += check_piece(facts.file, def, i);
        if (def.ctrl_z >= 0) {
            printf("  warning: the Ctrl-Z at byte %ld ends the data; what follows it is never read\n", def.ctrl_z);
            ++warnings;
        }
    }
    printf("%d warning%s\n", warnings, warnings == 1 ? "" : "s");
    return warnings;
}

void explain(const std::string &dir, const std::string &description)
{
    char search_text[kCardLineSize];
    fold_case(search_text, description.c_str(), sizeof(search_text));
    printf("search text %s\n", quoted(search_text).c_str());
    for (const FileFacts &facts : kFiles) {
        const DefFile def = read_file(dir, facts.file);
        printf("%s:\n", card_file_name(facts.file));
        if (!def.opened) {
            printf("  does not open: %s = %d\n", facts.question, facts.no_file);
            continue;
        }
        int answer = card_no_match(facts.file);
        for (const Piece *piece : matches(def, description)) {
            printf("  %s matches: card %d, key text %s\n", where(*piece).c_str(), piece->card.identifier,
                   quoted(piece->card.key).c_str());
            answer = piece->card.identifier;
        }
        printf("  %s = %d\n", facts.question, answer);
    }
}

std::string deciding_line(CardFile file, const std::string &description)
{
    const DefFile def = read_file(".", file);
    const auto found = matches(def, description);
    if (found.empty())
        return "no line matches";
    std::string text = found.back()->text;
    if (ends_line(*found.back()))
        text.pop_back();
    return where(*found.back()) + ": " + quoted(text);
}

} // namespace carddefs
