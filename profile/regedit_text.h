// REGEDIT4 text, the format regedit exports: read one line at a time and
// written through a small output buffer. Plain text in and out, no Windows
// headers, so that it also builds natively.
#pragma once

#include <cstddef>

enum {
    // The longest line a profile may have, in bytes, CR included and LF not.
    // Every line that a capture writes fits: a string too long to be quoted
    // on one line is written as a hex list, which wraps.
    kRegeditLineSize = 65536,
    kRegeditMessageSize = 256,
};

// The value types that the text spells out; any other is hex(N).
enum : unsigned long {
    kRegeditString = 1,
    kRegeditBinary = 3,
    kRegeditDword = 4,
};

enum RegeditRoot { regedit_local_machine, regedit_dyn_data };

// The only keys a profile may name: these three and the keys below them.
struct RegeditSubtree {
    RegeditRoot root;
    const char *path;
};
enum { kRegeditSubtreeCount = 3 };
extern const RegeditSubtree kRegeditSubtrees[kRegeditSubtreeCount];

// "HKEY_LOCAL_MACHINE" or "HKEY_DYN_DATA".
const char *regedit_root_name(RegeditRoot root);

enum RegeditLineKind {
    regedit_nothing,    // blank line
    regedit_comment,    // data, length: what follows the ; of a comment line
    regedit_header,     // the REGEDIT4 line
    regedit_key,        // root, path
    regedit_other_key,  // a key outside the three subtrees, to pass over with its values
    regedit_value,      // name, type, data, continues
    regedit_more_bytes, // data, continues: the next line of a hex list
    regedit_error,      // message
};

// What one line said. Names, paths and data point into the line that was
// fed, which the parser rewrites in place, and are valid until it changes.
struct RegeditLine {
    RegeditLineKind kind;
    unsigned long line; // the line this concerns, counted from 1
    RegeditRoot root;
    const char *path; // below the root, NUL-terminated; "" for the root
    size_t path_length;
    const char *name; // NUL-terminated; "" for the default value
    size_t name_length;
    unsigned long type;
    const unsigned char *data; // a string's data includes its NUL
    size_t length;
    bool continues; // the hex list goes on in the next line
    char message[kRegeditMessageSize];
};

struct RegeditParser {
    unsigned long line;     // lines fed so far
    unsigned long hex_line; // the line whose hex list continues, 0 if none
    bool header;
    bool key;
};

void regedit_begin(RegeditParser &parser);

// Parses the next line: `length` bytes at `text`, without the LF (a CR
// before it is dropped here), NULs included. The caller stops at the first
// error.
void regedit_parse_line(RegeditParser &parser, char *text, size_t length, RegeditLine &out);

// After the last line, which is whatever follows the last LF, even nothing:
// an error when the header never came or a hex list was left open.
void regedit_end(RegeditParser &parser, RegeditLine &out);

// Text goes into `buffer`; when it is full, `flush` hands over its `used`
// bytes and the buffer starts again, and a failed flush makes all further
// output vanish with `failed` set. Without a flush function the buffer is
// a fixed string: kept NUL-terminated, what does not fit is dropped.
struct RegeditOutput {
    char *buffer;
    size_t size;
    size_t used;
    bool (*flush)(RegeditOutput &out);
    void *context;
    bool failed;
};

void regedit_put(RegeditOutput &out, const char *text, size_t length);
void regedit_put_text(RegeditOutput &out, const char *text);
void regedit_put_number(RegeditOutput &out, unsigned long number);
// Hands over what is buffered; false if any flush failed.
bool regedit_finish(RegeditOutput &out);

// `length` bytes of `text` between double quotes, backslashes and quotes
// escaped, as regedit writes a string or a value name.
void regedit_put_quoted(RegeditOutput &out, const char *text, size_t length);

// "REGEDIT4" and a blank line.
void regedit_put_header(RegeditOutput &out);
// "[HKEY_LOCAL_MACHINE\Enum\PCI]": `path` is "" for the root itself.
void regedit_put_key(RegeditOutput &out, RegeditRoot root, const char *path);
// One value as regedit writes it, over several lines for a long hex list:
// a string with one NUL at its end and no line break as a quoted string, 4
// bytes of REG_DWORD as dword:, anything else as hex: or hex(N):.
void regedit_put_value(RegeditOutput &out, const char *name, size_t name_length, unsigned long type,
                       const unsigned char *data, size_t length);
// The blank line that ends a key's values.
void regedit_put_key_end(RegeditOutput &out);
