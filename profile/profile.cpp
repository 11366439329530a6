// Machine profiles: REGEDIT4 files streamed into the registry hardware tree
// and the tree streamed back out to a file.
#include "profile/profile.h"

#include "profile/regedit_text.h"
#include "profile/replay_text.h"

#include "base/unique.h"
#include "base/windows_error.h"

#include <windows.h>

#include <cstddef>
#include <cstring>

// Value names of up to 16383 characters and key names of up to 255; the
// buffers allow for the ANSI functions needing two bytes a character on a
// double-byte code page.
static const DWORD kKeyNameBuffer = 2 * 255 + 2;
static const DWORD kValueNameBuffer = 2 * 16383 + 2;

static const size_t kFileChunkSize = 16384;

// A value's data: gathered from the lines of its hex list, or read.
struct ValueData {
    UniqueHeap<unsigned char> bytes;
    size_t size = 0;
    size_t capacity = 0;
};

// What a load holds, kept by the call that runs it (the load itself lives
// on the heap, raw and zeroed): a key, a value's data, and the live nodes'
// own names, one after another, where each begins, and a hash table of
// those, each slot the number of a name or 0.
struct Held {
    UniqueKey key;
    ValueData data;
    ValueData names, starts, slots;
};

static void *heap_alloc(size_t size)
{
    return HeapAlloc(GetProcessHeap(), HEAP_ZERO_MEMORY, size);
}

// Room for `needed` bytes, doubling from 256 up to the cap.
static bool reserve(ValueData &data, size_t needed)
{
    if (needed <= data.capacity)
        return true;
    size_t capacity = data.capacity ? data.capacity : 256;
    while (capacity < needed)
        capacity *= 2;
    if (capacity > kProfileMaxValueBytes)
        capacity = kProfileMaxValueBytes;
    void *bytes = data.bytes ? HeapReAlloc(GetProcessHeap(), 0, data.bytes.get(), capacity) : heap_alloc(capacity);
    if (!bytes)
        return false;
    // HeapReAlloc has let the old block go.
    data.bytes.release();
    data.bytes.reset((unsigned char *)bytes);
    data.capacity = capacity;
    return true;
}

// Room for `more` bytes after what the block holds, up to the cap.
static bool reserve_more(ValueData &data, size_t more)
{
    return more <= kProfileMaxValueBytes - data.size && reserve(data, data.size + more);
}

static HKEY root_key(RegeditRoot root)
{
    return root == regedit_dyn_data ? HKEY_DYN_DATA : HKEY_LOCAL_MACHINE;
}

// ---- error texts ----

static RegeditOutput error_text(char *error)
{
    error[0] = 0;
    return RegeditOutput{error, kProfileErrorSize, 0, nullptr, nullptr, false};
}

// Ends an error text with `what` and, where there is one, Windows' words
// for the status: ": Access is denied. (error 5)"; `file` is the file that
// the failed call was given.
static bool put_failure(RegeditOutput &out, const char *what, DWORD status, const char *file = nullptr)
{
    regedit_put_text(out, what);
    if (status) {
        char words[kProfileErrorSize];
        windows_error_text(status, words, sizeof words, file);
        regedit_put_text(out, ": ");
        regedit_put_text(out, words);
    }
    return false;
}

static ProfileProgress g_progress;

void profile_report_progress(ProfileProgress report)
{
    g_progress = report;
}

static const volatile long *g_stop;

void profile_stop_when(const volatile long *stop)
{
    g_stop = stop;
}

static bool told_to_stop()
{
    return g_stop && *g_stop;
}

// Every 256th key goes to the progress report.
static void count_key(unsigned long &keys, const char *doing, const char *path)
{
    if (++keys % 256 == 0 && g_progress)
        g_progress(doing, path, keys);
}

// "what name: error N"
static bool fail_status(char *error, const char *what, const char *name, DWORD status, const char *file = nullptr)
{
    RegeditOutput out = error_text(error);
    regedit_put_text(out, what);
    return put_failure(out, name, status, file);
}

// "cannot read machine.reg: error N" for the file that did not open.
static bool fail_file(char *error, const char *what, const char *path, DWORD status)
{
    return fail_status(error, what, path, status, path);
}

static bool no_file(char *error)
{
    RegeditOutput out = error_text(error);
    regedit_put_text(out, "no profile file named");
    return false;
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

// ---- loading ----

// A pass over a profile file: checking it; writing it; or writing back
// the capture of the tree as it was, which nothing stops.
enum Pass { check_pass, write_pass, restore_pass };

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

// RegDeleteKey takes the subkeys with it on Windows 9x but refuses a key
// that has any on NT and Wine, and RegDeleteTree only came with Vista, so
// the subkeys go first. Each pass takes subkey 0, since deleting one
// renumbers the rest.
static LONG delete_tree(HKEY parent, const char *name)
{
    UniqueKey key;
    // Read to enumerate the subkeys, written as the parent they are
    // deleted from.
    LONG status = RegOpenKeyExA(parent, name, 0, KEY_READ | KEY_WRITE, key.put());
    if (status != ERROR_SUCCESS) {
        key.release();
        return status;
    }
    char child[kKeyNameBuffer];
    do {
        DWORD size = sizeof child;
        status = RegEnumKeyExA(key.get(), 0, child, &size, nullptr, nullptr, nullptr, nullptr);
        if (status == ERROR_SUCCESS)
            status = delete_tree(key.get(), child);
    } while (status == ERROR_SUCCESS);
    key.reset();
    return status == ERROR_NO_MORE_ITEMS ? RegDeleteKeyA(parent, name) : status;
}

static bool key_opens(HKEY root, const char *path)
{
    UniqueKey key;
    if (RegOpenKeyExA(root, path, 0, KEY_READ, key.put()) == ERROR_SUCCESS)
        return true;
    key.release();
    return false;
}

static bool clear_subtrees(char *error)
{
    for (const RegeditSubtree &subtree : kRegeditSubtrees) {
        if (!key_opens(root_key(subtree.root), subtree.path))
            continue;
        const LONG status = delete_tree(root_key(subtree.root), subtree.path);
        if (status == ERROR_SUCCESS)
            continue;
        RegeditOutput out = error_text(error);
        regedit_put_text(out, "cannot clear ");
        regedit_put_text(out, regedit_root_name(subtree.root));
        regedit_put_text(out, "\\");
        return put_failure(out, subtree.path, DWORD(status));
    }
    return true;
}

void profile_clear()
{
    char ignored[kProfileErrorSize];
    clear_subtrees(ignored);
}

static bool run_pass(const char *path, char *error, Pass pass, unsigned long *skipped = nullptr,
                     const ProfileReader *reader = nullptr)
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

// Replaces the three subtrees with the checked profile `path`.
static bool write_subtrees(const char *path, char *error, Pass pass)
{
    if (clear_subtrees(error))
        return run_pass(path, error, pass);
    // Name the file as every other error does.
    char cleared[kProfileErrorSize];
    memcpy(cleared, error, kProfileErrorSize);
    RegeditOutput out = error_text(error);
    regedit_put_text(out, path);
    regedit_put_text(out, ": ");
    regedit_put_text(out, cleared);
    return false;
}

// The captures that a load keeps of the tree it replaces: kxb*.tmp in the
// temporary folder.
static const char kSavedPrefix[] = "kxb";

bool profile_save(char saved[kProfilePathSize], char error[kProfileErrorSize])
{
    char folder[MAX_PATH] = "";
    const DWORD length = GetTempPathA(sizeof folder, folder);
    if (length == 0 || length >= sizeof folder || !GetTempFileNameA(folder, kSavedPrefix, 0, saved))
        return fail_status(error, "cannot keep the hardware tree in ", folder, GetLastError());
    // A file of our own: its progress is no news to the user.
    const ProfileProgress report = g_progress;
    g_progress = nullptr;
    const bool saved_ok = profile_capture(saved, error);
    g_progress = report;
    if (!saved_ok)
        DeleteFileA(saved);
    return saved_ok;
}

// A capture is empty until it is whole: an empty one was left before the
// tree was touched.
bool profile_left_behind(char left[kProfilePathSize])
{
    char folder[MAX_PATH];
    const DWORD length = GetTempPathA(sizeof folder, folder);
    if (length == 0 || length + sizeof kSavedPrefix + 6 > sizeof folder)
        return false;
    strcpy(folder + length, kSavedPrefix);
    strcat(folder, "*.tmp");
    WIN32_FIND_DATAA found;
    UniqueFind find(FindFirstFileA(folder, &found));
    for (bool more = bool(find); more; more = FindNextFileA(find.get(), &found)) {
        if (found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY || (!found.nFileSizeLow && !found.nFileSizeHigh) ||
            length + strlen(found.cFileName) >= kProfilePathSize)
            continue;
        memcpy(left, folder, length);
        strcpy(left + length, found.cFileName);
        // A running load holds its capture open against writing.
        const UniqueFile file(
            CreateFileA(left, GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING, 0, nullptr));
        if (file)
            return true;
    }
    return false;
}

bool profile_load(const char *path, char error[kProfileErrorSize], unsigned long *skipped, const ProfileReader *reader)
{
    error[0] = 0;
    if (!path)
        return no_file(error);
    char saved[kProfilePathSize];
    if (!run_pass(path, error, check_pass, skipped, reader) || !profile_save(saved, error))
        return false;
    if (told_to_stop()) {
        DeleteFileA(saved);
        return fail_status(error, path, ": interrupted before anything was written", 0);
    }
    // Held while the tree is replaced, so that profile_left_behind tells it
    // from a capture that a load ended too early left behind.
    UniqueFile in_use(CreateFileA(saved, GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr));
    if (write_subtrees(path, error, write_pass)) {
        in_use.reset();
        DeleteFileA(saved);
        return true;
    }
    // A write the registry refused leaves nothing half done: the subtrees
    // go back to what they were, from the capture made just before.
    char restore_error[kProfileErrorSize];
    RegeditOutput out = {error, kProfileErrorSize, strlen(error), nullptr, nullptr, false};
    if (write_subtrees(saved, restore_error, restore_pass)) {
        in_use.reset();
        DeleteFileA(saved);
        regedit_put_text(out, "; the hardware tree was put back as it was");
        return false;
    }
    regedit_put_text(out, "; putting the hardware tree back failed too, it is kept in ");
    regedit_put_text(out, saved);
    regedit_put_text(out, ": ");
    regedit_put_text(out, restore_error);
    return false;
}

// ---- capturing ----

struct Capture {
    const char *file_name;
    const char *notes;
    char *error;
    unsigned long keys;
    HANDLE file;
    DWORD write_status;
    RegeditOutput out;
    ValueData *data;
    size_t path_length;
    char path[kRegeditLineSize];
    char name[kValueNameBuffer];
    char own_name[kKeyNameBuffer];
    char buffer[kFileChunkSize];
};

static bool write_out(RegeditOutput &out)
{
    Capture &capture = *(Capture *)out.context;
    DWORD written = 0;
    if (WriteFile(capture.file, out.buffer, DWORD(out.used), &written, nullptr) && written == out.used)
        return true;
    capture.write_status = GetLastError();
    return false;
}

// "cannot capture HKEY_...\path: what"
static bool fail_key(Capture &capture, RegeditRoot root, const char *what, DWORD status)
{
    RegeditOutput out = error_text(capture.error);
    regedit_put_text(out, "cannot capture ");
    regedit_put_text(out, regedit_root_name(root));
    regedit_put_text(out, "\\");
    regedit_put_text(out, capture.path);
    regedit_put_text(out, ": ");
    return put_failure(out, what, status);
}

// RegEnumValueA reports ERROR_MORE_DATA with the size it needs; the value
// may also grow between calls, so keep asking until it fits.
static LONG read_value(Capture &capture, HKEY key, DWORD index, DWORD &name_size, DWORD &type)
{
    ValueData &data = *capture.data;
    if (!reserve(data, 256))
        return ERROR_NOT_ENOUGH_MEMORY;
    for (;;) {
        name_size = sizeof capture.name;
        DWORD size = DWORD(data.capacity);
        const LONG status =
            RegEnumValueA(key, index, capture.name, &name_size, nullptr, &type, data.bytes.get(), &size);
        data.size = size;
        if (status != ERROR_MORE_DATA || size <= data.capacity)
            return status;
        if (size > kProfileMaxValueBytes)
            return ERROR_MORE_DATA;
        if (!reserve(data, size))
            return ERROR_NOT_ENOUGH_MEMORY;
    }
}

static bool capture_values(Capture &capture, RegeditRoot root, HKEY key)
{
    for (DWORD index = 0;; ++index) {
        DWORD name_size, type;
        const LONG status = read_value(capture, key, index, name_size, type);
        if (status == ERROR_NO_MORE_ITEMS)
            return true;
        if (status == ERROR_MORE_DATA)
            return fail_key(capture, root, "value data larger than the profile limit", 0);
        if (status != ERROR_SUCCESS)
            return fail_key(capture, root, "cannot read a value", DWORD(status));
        regedit_put_value(capture.out, capture.name, name_size, type, capture.data->bytes.get(), capture.data->size);
    }
}

// A replayed live node's own name, which its key keeps as its class; any
// other key's name as it stands.
static const char *own_name(Capture &capture, HKEY key, const char *name, DWORD &size)
{
    DWORD length = sizeof capture.own_name;
    if (!is_replay_node_name(name) ||
        RegQueryInfoKeyA(key, capture.own_name, &length, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr,
                         nullptr, nullptr) != ERROR_SUCCESS ||
        !length)
        return name;
    size = length;
    return capture.own_name;
}

// The path goes down to the subkey `name` of `size` characters; false when
// its key line would not fit a line.
static bool enter_key(Capture &capture, size_t length, const char *name, DWORD size)
{
    // The key line, brackets, root and CR included, must fit a line.
    if (length + 1 + size + 24 > sizeof capture.path)
        return false;
    capture.path[length] = '\\';
    memcpy(capture.path + length + 1, name, size + 1);
    capture.path_length = length + 1 + size;
    return true;
}

// `live_table`: the key is the live-device table, whose nodes a replay
// named.
static bool capture_key(Capture &capture, RegeditRoot root, HKEY key, bool live_table)
{
    count_key(capture.keys, "capturing", capture.file_name);
    regedit_put_key(capture.out, root, capture.path);
    if (!capture_values(capture, root, key))
        return false;
    regedit_put_key_end(capture.out);
    const size_t length = capture.path_length;
    char child[kKeyNameBuffer];
    for (DWORD index = 0;; ++index) {
        DWORD size = sizeof child;
        LONG status = RegEnumKeyExA(key, index, child, &size, nullptr, nullptr, nullptr, nullptr);
        if (status == ERROR_NO_MORE_ITEMS)
            return true;
        if (status != ERROR_SUCCESS)
            return fail_key(capture, root, "cannot read a subkey", DWORD(status));
        UniqueKey handle;
        status = RegOpenKeyExA(key, child, 0, KEY_READ, handle.put());
        if (status != ERROR_SUCCESS) {
            // The key that refused is named, not its parent.
            handle.release();
            enter_key(capture, length, child, size);
            return fail_key(capture, root, "cannot open the key", DWORD(status));
        }
        const char *name = live_table ? own_name(capture, handle.get(), child, size) : child;
        if (!enter_key(capture, length, name, size))
            return fail_key(capture, root, "key path too long", 0);
        if (!capture_key(capture, root, handle.get(), false))
            return false;
        capture.path_length = length;
        capture.path[length] = 0;
    }
}

// The notes, one comment line each, right after the header.
static void put_notes(Capture &capture)
{
    for (const char *line = capture.notes; line && *line;) {
        const char *end = strchr(line, '\n');
        const size_t length = end ? size_t(end - line) : strlen(line);
        notes_put_line(capture.out, line, length);
        line += length + (end ? 1 : 0);
    }
}

static bool capture_subtrees(Capture &capture)
{
    regedit_put_header(capture.out);
    put_notes(capture);
    for (const RegeditSubtree &subtree : kRegeditSubtrees) {
        UniqueKey key;
        capture.path_length = strlen(subtree.path);
        memcpy(capture.path, subtree.path, capture.path_length + 1);
        // A subtree that is not there is none to capture (Windows NT has no
        // HKEY_DYN_DATA); one that is refused would be missing unsaid.
        const LONG status = RegOpenKeyExA(root_key(subtree.root), subtree.path, 0, KEY_READ, key.put());
        if (status != ERROR_SUCCESS) {
            key.release();
            if (status == ERROR_ACCESS_DENIED)
                return fail_key(capture, subtree.root, "cannot open the key", DWORD(status));
            continue;
        }
        if (!capture_key(capture, subtree.root, key.get(), subtree.root == regedit_dyn_data))
            return false;
    }
    if (!regedit_finish(capture.out))
        return fail_status(capture.error, "cannot write ", capture.file_name, capture.write_status);
    return true;
}

// A new file in the folder of `path`, named in `temp`, where a capture is
// written before it takes the name `path`.
static bool file_beside(const char *path, char temp[MAX_PATH], char *error)
{
    char folder[MAX_PATH];
    const char *end = path + strlen(path);
    while (end > path && end[-1] != '\\' && end[-1] != '/' && end[-1] != ':')
        --end;
    if (size_t(end - path) >= sizeof folder)
        return fail_file(error, "cannot write ", path, ERROR_FILENAME_EXCED_RANGE);
    memcpy(folder, path, size_t(end - path));
    folder[end - path] = 0;
    if (end == path)
        strcpy(folder, ".");
    if (!GetTempFileNameA(folder, "kxp", 0, temp))
        return fail_file(error, "cannot write ", path, GetLastError());
    return true;
}

bool profile_can_write(const char *path, char error[kProfileErrorSize])
{
    if (!path)
        return no_file(error);
    error[0] = 0;
    char temp[MAX_PATH];
    if (!file_beside(path, temp, error))
        return false;
    DeleteFileA(temp);
    const UniqueFile file(CreateFileA(path, GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING,
                                      FILE_ATTRIBUTE_NORMAL, nullptr));
    const DWORD status = GetLastError();
    return file || status == ERROR_FILE_NOT_FOUND || fail_file(error, "cannot write ", path, status);
}

// The finished capture `temp` takes the name `path`. Windows 9x has no
// working MoveFileExA: there the file of that name goes first, and should
// the capture then not move, it is kept where it is and named.
static bool put_in_place(const char *temp, const char *path, char *error)
{
    if (MoveFileExA(temp, path, MOVEFILE_REPLACE_EXISTING))
        return true;
    DWORD status = GetLastError();
    if (status == ERROR_CALL_NOT_IMPLEMENTED) {
        if (!DeleteFileA(path) && GetLastError() != ERROR_FILE_NOT_FOUND) {
            status = GetLastError();
        } else if (MoveFileA(temp, path)) {
            return true;
        } else {
            fail_file(error, "cannot write ", path, GetLastError());
            RegeditOutput out = {error, kProfileErrorSize, strlen(error), nullptr, nullptr, false};
            regedit_put_text(out, "; the capture is kept in ");
            regedit_put_text(out, temp);
            return false;
        }
    }
    DeleteFileA(temp);
    return fail_file(error, "cannot write ", path, status);
}

bool profile_capture(const char *path, char error[kProfileErrorSize], const char *notes)
{
    if (!path)
        return no_file(error);
    error[0] = 0;
    const UniqueHeap<Capture> work((Capture *)heap_alloc(sizeof(Capture)));
    Capture *capture = work.get();
    if (!capture)
        return fail_file(error, "cannot write ", path, ERROR_NOT_ENOUGH_MEMORY);
    char temp[MAX_PATH];
    if (!file_beside(path, temp, error))
        return false;
    UniqueFile file(CreateFileA(temp, GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr));
    if (!file) {
        const DWORD status = GetLastError();
        DeleteFileA(temp);
        return fail_file(error, "cannot write ", path, status);
    }
    ValueData data;
    capture->data = &data;
    capture->file = file.get();
    capture->file_name = path;
    capture->notes = notes;
    capture->error = error;
    capture->out = RegeditOutput{capture->buffer, sizeof capture->buffer, 0, write_out, capture, false};
    bool ok = capture_subtrees(*capture);
    // The last writes can fail as the file is closed, and must fail the
    // capture.
    if (!file.close() && ok)
        ok = fail_file(error, "cannot write ", path, GetLastError());
    // A capture cut short is no profile; leave none behind.
    if (!ok) {
        DeleteFileA(temp);
        return false;
    }
    return put_in_place(temp, path, error);
}
