// Loading a machine profile: the file checked whole, the hardware tree
// kept in a capture, cleared and written, and put back should a write fail.
#include "profile/profile.h"

#include "profile/load_pass.h"
#include "profile/profile_common.h"

#include <cstring>

using namespace profile_parts;

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
