// One line of a card definition file as the C runtime's fgets hands it over
// (at most 1023 characters, the line feed kept): whether it is a card line,
// its identifier and its key text. Plain text in and out, no Windows
// headers, so that it builds for any host.
#pragma once

#include <cstddef>

enum {
    kCardLineSize = 1024,  // line buffer: fgets returns at most 1023 characters
    kCardLineMinLength = 9 // a card line is at least this long, line feed included
};

// AudCards.def: "D KEY TEXT", one digit 0 to 9 then any separator.
// VidCards.def: "0.DD.DD.KEY TEXT", a "0", then the identifier's digits at
// positions 2, 3, 5 and 6 with any character between them.
enum class CardFile { audio, video };

struct CardLine {
    int identifier;
    char key[kCardLineSize]; // key text in upper case; empty matches every description
};

// The file's bare name, looked for in the current directory.
const char *card_file_name(CardFile file);

// The lookup's answer when no line matches: 0 for AudCards.def, -1 for
// VidCards.def.
int card_no_match(CardFile file);

// Whether a line counts: at least kCardLineMinLength characters as read,
// and the first character the file asks for.
bool is_card_line(CardFile file, const char *line);

// The identifier of a line that counts.
int card_identifier(CardFile file, const char *line);

// Whether the key text of a line that counts, read as it came, without its
// last character and folded (fold_char, base/text.h), begins the folded
// search text. The line is neither changed nor measured: the compare ends
// at the first character that differs, so a line costs little more than
// reading it.
bool card_line_matches(CardFile file, const char *line, const char *search_text);

// For a line that counts, removes its last character in place (the line
// feed, or the last real character of a last line that has none) and reads
// its identifier and key text into `card`. A line that does not count is
// left as it is and false comes back.
bool read_card_line(CardFile file, char *line, CardLine &card);

// A key text matches a search text that it begins; both are folded.
bool card_key_matches(const char *key, const char *search_text);
