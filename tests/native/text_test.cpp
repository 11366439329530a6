// The builder of base/text.h: whatever is added, the text stays within its
// buffer and terminated, and what does not fit is cut. Its users' texts are
// checked where they are read (card lines, PCI fields).
#include "base/text.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>

TEST(TextBuilder, TerminatesAndCuts)
{
    static const struct {
        const char *name;
        size_t size;
        void (*add)(TextBuilder &text);
        const char *expected;
    } rows[] = {
        {"nothing added", 4, [](TextBuilder &) {}, ""},
        {"one byte: always empty", 1, [](TextBuilder &t) { t.put("abc"); }, ""},
        {"fits", 4, [](TextBuilder &t) { t.put("abc"); }, "abc"},
        {"cut", 4, [](TextBuilder &t) { t.put("abcd"); }, "abc"},
        {"put after full", 4,
         [](TextBuilder &t) {
             t.put("abc");
             t.put("d");
         },
         "abc"},
        {"part of a text", 8,
         [](TextBuilder &t) {
             t.put("abc", 2);
             t.put("c");
         },
         "abc"},
        {"format fills the buffer", 4, [](TextBuilder &t) { t.format("%d", 123); }, "123"},
        {"format cut", 4, [](TextBuilder &t) { t.format("%d", 12345); }, "123"},
        {"format after text, cut", 6,
         [](TextBuilder &t) {
             t.put("ab");
             t.format("%s", "cdefg");
         },
         "abcde"},
        {"format into a full text", 3,
         [](TextBuilder &t) {
             t.put("ab");
             t.format("%d", 7);
         },
         "ab"},
    };
    for (const auto &row : rows) {
        SCOPED_TRACE(row.name);
        char buffer[16];
        memset(buffer, 0xbd, sizeof(buffer));
        TextBuilder text(buffer, row.size);
        row.add(text);
        EXPECT_STREQ(row.expected, buffer);
        EXPECT_EQ(strlen(row.expected), text.length());
        EXPECT_EQ('\xbd', buffer[row.size]) << "written past the buffer";
    }
    // A text that fills the buffer exactly came whole; one more character
    // is cut, which is what a growing text goes by.
    char buffer[4];
    EXPECT_TRUE(TextBuilder(buffer).format("%d", 123));
    EXPECT_FALSE(TextBuilder(buffer).format("%d", 1234));
}

// Folding and hexadecimal digits: a to z, A to F only.
TEST(Text, FoldsAndReadsDigits)
{
    char text[] = "az AZ 09 \xe9\xc9 `{@[";
    EXPECT_STREQ("AZ AZ 09 \xe9\xc9 `{@[", fold_case(text));
    char cut[4];
    fold_case(cut, "abcdef", sizeof(cut));
    EXPECT_STREQ("ABC", cut);
    static const char digits[] = "09afAF/:@Gg`";
    static const int values[] = {0, 9, 10, 15, 10, 15, -1, -1, -1, -1, -1, -1};
    for (size_t i = 0; i < sizeof(values) / sizeof(values[0]); ++i)
        EXPECT_EQ(values[i], hex_digit_value(digits[i])) << digits[i];
}
