// One line of a card definition file as fgets hands it over: whether it
// counts, its identifier, and whether it matches a device description, read
// both as the lookup reads it and as kxprobe's checker does, and the traps
// that the checker warns of. How the C runtime splits a file into lines,
// and which line decides, is checked under Wine in cards_test.
#include "base/text.h"
#include "inventory/card_line.h"
#include "tools/kxprobe/card_traps.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

enum { kIgnored = -100000, kNoMatch = -100001 };

TEST(CardLine, QualifiesIdentifiesAndMatches)
{
    const CardFile audio = CardFile::audio, video = CardFile::video;
    static const struct {
        const char *name;
        CardFile file;
        const char *description, *line;
        int expected; // the identifier when the line matches
    } rows[] = {
        {"audio: 8 characters is too short", audio, "Abcde", "4 ABCDE\n", kIgnored},
        {"audio: 9 characters counts", audio, "Abcdefgh", "4 ABCDEF\n", 4},
        {"audio: first character not a digit", audio, "Wave Device", "A WAVE DEVICE\n", kIgnored},
        {"audio: indented", audio, "Wave Device", " 3 WAVE DEVICE\n", kIgnored},
        {"audio: separator not examined", audio, "Wave Device", "6xWAVE DEVICE\n", 6},
        {"audio: key longer than description", audio, "Wave", "6 WAVE DEVICE\n", kNoMatch},
        {"audio: folding a..z only", audio, "WAVE Device PCI", "8 wave device\n", 8},
        {"audio: accented letters not folded", audio, "CAF\xc9 AUDIO", "8 caf\xe9 audio\n", kNoMatch},
        {"audio: accented letters exact", audio, "Caf\xe9 Audio", "8 CAF\xe9 AUDIO\n", 8},
        {"audio: trailing blanks needed", audio, "Wave Device", "2 WAVE DEVICE  \n", kNoMatch},
        {"audio: trailing blanks present", audio, "Wave Device  PCI", "2 WAVE DEVICE  \n", 2},
        {"audio: identifier 0", audio, "Wave Device", "0 WAVE DEVICE\n", 0},
        {"audio: last line without line feed loses E", audio, "Wave Devicz", "4 WAVE DEVICE", 4},
        {"video: example", video, "Graphics One Pro", "0.12.34.GRAPHICS ONE\n", 1234},
        {"video: only a leading 0 counts", video, "Graphics One", "1.12.34.GRAPHICS ONE\n", kIgnored},
        {"video: indented", video, "Graphics One", " 0.12.34.GRAPHICS ONE\n", kIgnored},
        {"video: 8 characters is too short", video, "Graphics", "0.12.34\n", kIgnored},
        {"video: empty key text matches all", video, "Anything", "0.12.34.\n", 1234},
        {"video: no match", video, "Graphics Two", "0.12.34.GRAPHICS ONE\n", kNoMatch},
        {"video: identifier 0000", video, "Graphics One", "0.00.00.GRAPHICS ONE\n", 0},
        {"video: separators not examined", video, "Graphics One", "0x12y34zGRAPHICS ONE\n", 1234},
        {"video: letter summed unvalidated", video, "Name", "0.1x.34.NAME\n", 8234},
        {"video: blank summed unvalidated", video, "Name", "0. 2.34.NAME\n", -15766},
        {"video: byte 0xff summed as 255", video, "Name",
         "0.\xff"
         "0.00.NAME\n",
         207000},
    };
    for (const auto &row : rows) {
        SCOPED_TRACE(row.name);
        char search_text[kCardLineSize];
        fold_case(search_text, row.description, sizeof(search_text));
        // In a block of its own size, so that reading past it is caught.
        std::vector<char> line(row.line, row.line + strlen(row.line) + 1);
        const bool counts = is_card_line(row.file, line.data());
        EXPECT_EQ(row.expected != kIgnored, counts);
        if (counts) {
            const bool matches = card_line_matches(row.file, line.data(), search_text);
            EXPECT_EQ(row.expected != kNoMatch, matches);
            if (matches)
                EXPECT_EQ(row.expected, card_identifier(row.file, line.data()));
        }
        CardLine card;
        memset(&card, 0xbd, sizeof(card));
        EXPECT_EQ(counts, read_card_line(row.file, line.data(), card));
        if (!counts)
            EXPECT_STREQ(row.line, line.data());
        else if (row.expected != kNoMatch)
            EXPECT_EQ(row.expected, card.identifier);
        if (counts)
            EXPECT_EQ(row.expected != kNoMatch, card_key_matches(card.key, search_text)) << card.key;
    }
}

// What kxprobe --check-defs warns of in a piece as fgets read it, NULs
// included.
TEST(CardLine, TrapsThatMakeALineReadOtherwise)
{
    const CardFile audio = CardFile::audio, video = CardFile::video;
    static const struct {
        const char *name;
        CardFile file;
        std::string text;
        unsigned traps;
    } rows[] = {
        {"audio: clean", audio, "3 WAVE DEVICE\n", 0},
        {"audio: a tab for the separator", audio, "3\tWAVE DEVICE\n", 0},
        {"audio: a comment", audio, "; audio cards\n", 0},
        {"audio: two digits", audio, "12 Two Digit Audio\n", card_trap_no_blank | card_trap_key_blank},
        {"audio: no blank after the digit", audio, "4Nospace Audio\n", card_trap_no_blank},
        {"audio: two blanks", audio, "3  WAVE DEVICE\n", card_trap_key_blank},
        {"audio: indented", audio, " 3 WAVE DEVICE\n", card_trap_indented},
        {"audio: too short", audio, "3 WAVE\n", card_trap_short},
        {"audio: a NUL in a card line", audio, std::string("3 WAVE DEVICE\0X\n", 16), card_trap_nul},
        {"audio: a NUL makes it short", audio, std::string("5 WAVE\0DEVICE\n", 14), card_trap_nul | card_trap_short},
        {"audio: a line of UTF-16", audio,
         std::string("\0"
                     "5\0 \0W\0A\0V\0E\0\r\0\n",
                     16),
         card_trap_nul},
        {"video: clean", video, "0.12.34.GRAPHICS ONE\n", 0},
        {"video: empty key", video, "0.12.34.\n", 0},
        {"video: a key of one blank", video, "0.12.34. \n", card_trap_key_blank},
        {"video: a letter for a digit", video, "0.1x.34.NAME\n", card_trap_not_digits},
        {"video: three low digits", video, "0.12.345.NAME\n", card_trap_not_dotted},
        {"video: one high digit", video, "0.1.234.NAME\n", card_trap_not_digits | card_trap_not_dotted},
        {"video: another first digit", video, "1.00.07.GRAPHICS TWO\n", card_trap_not_zero},
        {"video: too short", video, "0.12.34\n", card_trap_short},
    };
    for (const auto &row : rows) {
        SCOPED_TRACE(row.name);
        // In a block of its own size, as fgets leaves it: terminated after
        // the bytes it read.
        std::vector<char> text(row.text.begin(), row.text.end());
        text.push_back('\0');
        EXPECT_EQ(row.traps, card_traps(row.file, text.data(), row.text.size()));
    }
}
