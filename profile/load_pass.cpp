#include "profile/load_pass.h"

#include "profile/profile_common.h"
#include "profile/replay_text.h"

#include <cstring>

using namespace profile_parts;

namespace {

// What a load holds, kept by the call that runs it (the load itself lives
// on the heap, raw and zeroed): a key, a value's data, and the live nodes'
// own names, one after another, where each begins, and a hash table of
// those, each slot the number of a name or 0.
struct Held {
    UniqueKey key;
    ValueData data;
    ValueData names, starts, slots;
};

} // namespace

// Room for `more` bytes after what the block holds, up to the cap.
static bool reserve_more(ValueData &data, size_t more)
{
    return more <= kProfileMaxValueBytes - data.size && reserve(data, data.size + more);
}

static const volatile long *g_stop;

void profile_stop_when(const volatile long *stop)
{
    g_stop = stop;
}

bool profile_parts::told_to_stop()
{
    return g_stop && *g_stop;
}

// "file: line N: what", with ": error N" when there is a status.
static bool fail_line(char *error, const char *file, unsigned long line, const char *what, DWORD status = 0)
{
    RegeditOutput out = error_text(error);
    regedit_put_text(out, file);
    regedit_put_text(out, ": line ");
    regedit_put_number(out, line);
    regedit_put_text(out, ": ");
    return put_failure(out, what, status);
}

// ---- reading a file line by line ----

namespace {

struct LineFile {
    HANDLE file;
    char chunk[kFileChunkSize];
    DWORD chunk_size;
    DWORD chunk_pos;
    bool ended;
    unsigned long number;
    size_t length;
    char line[kRegeditLineSize];
};

enum LineRead { line_read, line_end, line_too_long, line_failed };

} // namespace

// Lines end at LF; the last line is whatever follows the last LF, even
// nothing, as the parser expects.
static LineRead read_line(LineFile &in)
{
    if (in.ended)
        return line_end;
    in.length = 0;
    ++in.number;
    for (;;) {
        if (in.chunk_pos == in.chunk_size) {
            in.chunk_pos = 0;
            if (!ReadFile(in.file, in.chunk, sizeof in.chunk, &in.chunk_size, nullptr))
                return line_failed;
            if (in.chunk_size == 0) {
                in.ended = true;
                return line_read;
            }
        }
        const char *start = in.chunk + in.chunk_pos;
        const size_t left = in.chunk_size - in.chunk_pos;
        const char *lf = (const char *)memchr(start, '\n', left);
        const size_t part = lf ? size_t(lf - start) : left;
        if (part > sizeof in.line - in.length)
            return line_too_long;
        memcpy(in.line + in.length, start, part);
        in.length += part;
        in.chunk_pos += DWORD(part + (lf ? 1 : 0));
        if (lf)
            return line_read;
    }
}

namespace {

struct Loader {
    const char *path;
    char *error;
    bool writing;
    bool stoppable;
    bool skipping;         // the values of a key outside the subtrees
    unsigned long skipped; // keys outside the subtrees
    unsigned long inside;  // keys inside them
    unsigned long keys;    // keys written
    RegeditParser parser;
    RegeditLine parsed;
    Held *held;
    unsigned long value_line;
    unsigned long type;
    const ProfileReader *reader; // handed each line of the check
    char name[kRegeditLineSize];
    char key_path[kRegeditLineSize]; // a live node's path, by the replay's name
    LineFile in;
};

} // namespace

// ---- the live nodes' names ----

static const char kLiveTable[] = "Config Manager\\Enum\\";

static char ascii_lower(char c)
{
    return c >= 'A' && c <= 'Z' ? char(c - 'A' + 'a') : c;
}

// Key names compare without regard to the case of A to Z, as the registry
// compares them.
static size_t name_hash(const char *name, size_t length)
{
    size_t hash = 2166136261u;
    for (size_t i = 0; i < length; ++i)
        hash = (hash ^ (unsigned char)ascii_lower(name[i])) * 16777619u;
    return hash;
}

static bool same_start(const char *a, const char *b, size_t length)
{
    for (size_t i = 0; i < length; ++i)
        if (ascii_lower(a[i]) != ascii_lower(b[i]))
            return false;
    return true;
}

static bool same_name(const char *known, const char *name, size_t length)
{
    return same_start(known, name, length) && known[length] == 0;
}

// The slot of the name in the table: where it is, or the empty one where
// it would go.
static size_t *find_slot(Held &held, const char *name, size_t length)
{
    size_t *slots = (size_t *)held.slots.bytes.get();
    const size_t mask = held.slots.size / sizeof(size_t) - 1;
    const size_t *starts = (const size_t *)held.starts.bytes.get();
    for (size_t i = name_hash(name, length) & mask;; i = (i + 1) & mask)
        if (!slots[i] || same_name((const char *)held.names.bytes.get() + starts[slots[i] - 1], name, length))
            return &slots[i];
}

// A table twice as large, kept at most half full.
static bool grow_slots(Held &held)
{
    const size_t count = held.slots.size ? 2 * held.slots.size / sizeof(size_t) : 64;
    if (count > kProfileMaxValueBytes / sizeof(size_t))
        return false;
    unsigned char *const table = (unsigned char *)heap_alloc(count * sizeof(size_t));
    if (!table)
        return false;
    // The old table goes once the names are in the new one.
    const UniqueHeap<unsigned char> old(held.slots.bytes.release());
    held.slots.bytes.reset(table);
    held.slots.size = held.slots.capacity = count * sizeof(size_t);
    const size_t names = held.starts.size / sizeof(size_t);
    const size_t *starts = (const size_t *)held.starts.bytes.get();
    for (size_t number = 1; number <= names; ++number) {
        const char *name = (const char *)held.names.bytes.get() + starts[number - 1];
        *find_slot(held, name, strlen(name)) = number;
    }
    return true;
}

// The number of the live node `name`, counted from 1 in the order the
// profile first names each; 0 when memory runs out. `added` says whether
// the profile names it here for the first time.
static size_t node_number(Held &held, const char *name, size_t length, bool &added)
{
    const size_t names = held.starts.size / sizeof(size_t);
    if (2 * (names + 1) > held.slots.size / sizeof(size_t) && !grow_slots(held))
        return 0;
    size_t *slot = find_slot(held, name, length);
    added = !*slot;
    if (!added)
        return *slot;
    const size_t start = held.names.size;
    if (!reserve_more(held.names, length + 1) || !reserve_more(held.starts, sizeof(size_t)))
        return 0;
    memcpy(held.names.bytes.get() + start, name, length);
    held.names.bytes.get()[start + length] = 0;
    held.names.size += length + 1;
    memcpy(held.starts.bytes.get() + held.starts.size, &start, sizeof start);
    held.starts.size += sizeof start;
    return *slot = names + 1;
}

// Under Wine all of HKEY_DYN_DATA lives only in wineserver's memory: keys
// made there without REG_OPTION_VOLATILE are accepted and still vanish when
// wineserver exits, as they do on Windows 9x when the machine restarts.
static LONG create_key(HKEY root, const char *path, const char *key_class, HKEY *key)
{
    return RegCreateKeyExA(root, path, 0, (char *)key_class, REG_OPTION_NON_VOLATILE, KEY_SET_VALUE, nullptr, key,
                           nullptr);
}

// The path of a live node's key, or of a key below it, with the node named
// by its place in the profile; a node named for the first time is made
// with its own name as its class.
static bool place_live_node(Loader &load, const char *&path)
{
    const RegeditLine &parsed = load.parsed;
    const size_t table = sizeof kLiveTable - 1;
    if (parsed.root != regedit_dyn_data || parsed.path_length <= table || !same_start(kLiveTable, parsed.path, table))
        return true;
    const char *node = parsed.path + table;
    const size_t length = strcspn(node, "\\");
    bool added;
    const size_t number = node_number(*load.held, node, length, added);
    if (!number)
        return fail_line(load.error, load.path, parsed.line, "out of memory", ERROR_NOT_ENOUGH_MEMORY);
    if (number > kReplayMaxNodes)
        return fail_line(load.error, load.path, parsed.line, "more than 99999999 live nodes");
    memcpy(load.key_path, kLiveTable, table);
    replay_node_name(number, load.key_path + table);
    path = load.key_path;
    // Wine clears the class of a key that RegCreateKeyExA opens again
    // without one, so the node is always opened with its own name; a key
    // below it is made after it.
    if (!added && node[length]) {
        strcat(load.key_path, node + length);
        return true;
    }
    Held &held = *load.held;
    const char *own_name = (const char *)held.names.bytes.get() + ((const size_t *)held.starts.bytes.get())[number - 1];
    const LONG status = create_key(HKEY_DYN_DATA, load.key_path, own_name, held.key.put());
    if (status != ERROR_SUCCESS) {
        held.key.release();
        return fail_line(load.error, load.path, parsed.line, "cannot create the key", DWORD(status));
    }
    if (node[length]) {
        held.key.reset();
        strcat(load.key_path, node + length);
    }
    return true;
}

static bool write_key(Loader &load)
{
    const RegeditLine &parsed = load.parsed;
    UniqueKey &key = load.held->key;
    key.reset();
    const char *path = parsed.path;
    if (!place_live_node(load, path))
        return false;
    if (!key) {
        const LONG status = create_key(root_key(parsed.root), path, nullptr, key.put());
        if (status != ERROR_SUCCESS) {
            key.release();
            return fail_line(load.error, load.path, parsed.line, "cannot create the key", DWORD(status));
        }
    }
    count_key(load.keys, "loading", load.path);
    return true;
}

// Adds one line's bytes to the value and, on its last line, sets it. The
// check, and a value of a key passed over, count the bytes without keeping
// them.
static bool add_bytes(Loader &load)
{
    const RegeditLine &parsed = load.parsed;
    const bool writing = load.writing && !load.skipping;
    ValueData &data = load.held->data;
    if (parsed.length > kProfileMaxValueBytes - data.size)
        return fail_line(load.error, load.path, load.value_line, "value data larger than the profile limit");
    if (writing) {
        if (!reserve(data, data.size + parsed.length))
            return fail_line(load.error, load.path, load.value_line, "out of memory", ERROR_NOT_ENOUGH_MEMORY);
        memcpy(data.bytes.get() + data.size, parsed.data, parsed.length);
    }
    data.size += parsed.length;
    if (parsed.continues || !writing)
        return true;
    const BYTE *bytes = data.bytes ? data.bytes.get() : (const BYTE *)"";
    const LONG status = RegSetValueExA(load.held->key.get(), load.name, 0, load.type, bytes, DWORD(data.size));
    if (status != ERROR_SUCCESS)
        return fail_line(load.error, load.path, load.value_line, "cannot set the value", DWORD(status));
    return true;
}

static bool take_line(Loader &load)
{
    const RegeditLine &parsed = load.parsed;
    if (load.reader && !load.writing)
        load.reader->line(load.reader->context, parsed);
    switch (parsed.kind) {
    case regedit_error:
        return fail_line(load.error, load.path, parsed.line, parsed.message);
    case regedit_key:
        if (load.stoppable && told_to_stop())
            return fail_line(load.error, load.path, parsed.line,
                             load.writing ? "interrupted" : "interrupted before anything was written");
        load.skipping = false;
        ++load.inside;
        return !load.writing || write_key(load);
    case regedit_other_key:
        load.skipping = true;
        ++load.skipped;
        return true;
    case regedit_value:
        load.value_line = parsed.line;
        load.type = parsed.type;
        load.held->data.size = 0;
        memcpy(load.name, parsed.name, parsed.name_length + 1);
        return add_bytes(load);
    case regedit_more_bytes:
        return add_bytes(load);
    default:
        return true;
    }
}

// A profile of other keys only, most likely a regedit export of the wrong
// key, would only clear the hardware tree.
static bool fail_outside(Loader &load)
{
    RegeditOutput out = error_text(load.error);
    regedit_put_text(out, load.path);
    regedit_put_text(out, ": no key in ");
    for (int i = 0; i < kRegeditSubtreeCount; ++i) {
        regedit_put_text(out, i == 0 ? "" : i + 1 < kRegeditSubtreeCount ? ", " : " or ");
        regedit_put_text(out, regedit_root_name(kRegeditSubtrees[i].root));
        regedit_put_text(out, "\\");
        regedit_put_text(out, kRegeditSubtrees[i].path);
    }
    regedit_put_text(out, " (");
    regedit_put_number(out, load.skipped);
    regedit_put_text(out, load.skipped == 1 ? " key outside them)" : " keys outside them)");
    regedit_put_text(out, ": not a machine profile; was another key exported?");
    return false;
}

static bool load_pass(Loader &load)
{
    const UniqueFile file(
        CreateFileA(load.path, GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
    if (!file)
        return fail_file(load.error, "cannot read ", load.path, GetLastError());
    memset(&load.in, 0, offsetof(LineFile, line));
    load.in.file = file.get();
    regedit_begin(load.parser);
    for (;;) {
        switch (read_line(load.in)) {
        case line_end:
            regedit_end(load.parser, load.parsed);
            if (!take_line(load))
                return false;
            return load.writing || load.inside || !load.skipped || fail_outside(load);
        case line_too_long:
            return fail_line(load.error, load.path, load.in.number, "line longer than 65536 bytes");
        case line_failed:
            return fail_status(load.error, "cannot read ", load.path, GetLastError());
        case line_read:
            regedit_parse_line(load.parser, load.in.line, load.in.length, load.parsed);
            if (!take_line(load))
                return false;
        }
    }
}

bool profile_parts::run_pass(const char *path, char *error, Pass pass, unsigned long *skipped,
                             const ProfileReader *reader)
{
    const UniqueHeap<Loader> work((Loader *)heap_alloc(sizeof(Loader)));
    Loader *load = work.get();
    if (!load)
        return fail_status(error, "cannot read ", path, ERROR_NOT_ENOUGH_MEMORY);
    Held held;
    load->held = &held;
    load->path = path;
    load->error = error;
    load->writing = pass != check_pass;
    load->stoppable = pass != restore_pass;
    load->reader = reader;
    const bool ok = load_pass(*load);
    if (skipped)
        *skipped = load->skipped;
    return ok;
}
