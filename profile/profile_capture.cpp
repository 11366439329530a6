// Capturing a machine profile: the hardware tree streamed out to a file.
#include "profile/profile.h"

#include "profile/profile_common.h"
#include "profile/replay_text.h"

#include <cstring>

using namespace profile_parts;

namespace {

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

} // namespace

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
