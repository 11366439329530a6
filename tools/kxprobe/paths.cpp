#include "paths.h"

#include "command_line.h"
#include "machine.h"
#include "output.h"

#include "profile/profile.h"

#include <cstring>

// `path` from the current folder, in `full`; null when it does not fit.
static const char *full_path(const char *path, char (&full)[MAX_PATH])
{
    DWORD length = GetFullPathNameA(path, MAX_PATH, full, nullptr);
    if (length >= MAX_PATH)
        SetLastError(ERROR_FILENAME_EXCED_RANGE);
    return length && length < MAX_PATH ? full : nullptr;
}

// Whether `one` and `other` name the same file, as their full paths do.
static bool same_file(const char *one, const char *other)
{
    static char first[MAX_PATH], second[MAX_PATH];
    return one && other && full_path(one, first) && full_path(other, second) && !lstrcmpiA(first, second);
}

static bool is_folder(const char *path)
{
    DWORD attributes = GetFileAttributesA(path);
    return attributes != INVALID_FILE_ATTRIBUTES && attributes & FILE_ATTRIBUTE_DIRECTORY;
}

int open_output(const Options &options, UniqueFile &output)
{
    static const struct {
        const char *option;
        const char *Options::*path;
    } kOthers[] = {
        {"--profile", &Options::profile}, {"--capture", &Options::capture}, {"--baseline", &Options::baseline}};
    for (const auto &other : kOthers)
        if (same_file(options.output, options.*other.path)) {
            out_format(kStderr, "kxprobe: --output %s: the file of %s; name another\r\n", options.output, other.option);
            return kUsageError;
        }
    if (is_folder(options.output)) {
        out_format(kStderr, "kxprobe: --output %s: a folder, not a file\r\n", options.output);
        return kUsageError;
    }
    output.reset(CreateFileA(options.output, GENERIC_WRITE, FILE_SHARE_READ, nullptr, CREATE_ALWAYS,
                             FILE_ATTRIBUTE_NORMAL, nullptr));
    if (!output)
        return windows_error("--output", options.output, GetLastError(), kUsageError, options.output);
    out_to_file(output.get());
    return kOk;
}

static int check_capture(const Options &options)
{
    DWORD attributes = GetFileAttributesA(options.capture);
    if (attributes != INVALID_FILE_ATTRIBUTES && !(attributes & FILE_ATTRIBUTE_DIRECTORY) && !options.force) {
        out_format(kStderr, "kxprobe: --capture %s: the file exists; add --force to replace it\r\n", options.capture);
        return kUsageError;
    }
    static char error[kProfileErrorSize];
    if (!profile_can_write(options.capture, error)) {
        out_format(kStderr, "kxprobe: %s\r\n", error);
        return kUsageError;
    }
    return kOk;
}

// CreateProcessA refuses a longer command line under Wine and Windows NT,
// which keep it with its terminating NUL in 32,767 characters, with only
// "The parameter is incorrect".
enum { kMostCommandLine = 32766 };

static int check_command_line(const Options &options)
{
    UniqueHeap<char> command(join_command_line(options.run, options.run_count));
    if (!command)
        return windows_error("--run", options.run[0], ERROR_NOT_ENOUGH_MEMORY, kUsageError);
    const size_t length = strlen(command.get());
    if (length <= kMostCommandLine)
        return kOk;
    out_format(kStderr, "kxprobe: --run %s: the command line is %lu characters; Windows takes at most %d\r\n",
               options.run[0], (unsigned long)length, kMostCommandLine);
    return kUsageError;
}

int check_machine_paths(Options &options, char (&program)[MAX_PATH])
{
    if (options.folder && !is_folder(options.folder)) {
        DWORD attributes = GetFileAttributesA(options.folder);
        DWORD error = attributes == INVALID_FILE_ATTRIBUTES ? GetLastError() : ERROR_DIRECTORY;
        return windows_error("--folder", options.folder, error, kUsageError);
    }
    // CreateProcessA adds .exe to a name without an extension, as this does.
    DWORD length = options.run ? SearchPathA(nullptr, options.run[0], ".exe", MAX_PATH, program, nullptr) : 1;
    if (!length || length >= MAX_PATH)
        return windows_error("cannot start", options.run[0], length ? ERROR_FILENAME_EXCED_RANGE : GetLastError(),
                             kUsageError);
    int status = options.run ? check_command_line(options) : kOk;
    if (status == kOk && options.capture)
        status = check_capture(options);
    if (status != kOk)
        return status;
    static char file[MAX_PATH], captured[MAX_PATH];
    const char *full = options.file && options.folder ? full_path(options.file, file) : nullptr;
    if (full)
        options.file = full;
    if (options.capture && options.folder && !(full = full_path(options.capture, captured)))
        return windows_error("--capture", options.capture, GetLastError(), kUsageError);
    options.capture = options.capture && options.folder ? full : options.capture;
    return kOk;
}

int check_library_paths(Options &options)
{
    static char machines[MAX_PATH], baseline[MAX_PATH];
    const char *full = full_path(options.library, machines);
    if (!full)
        return windows_error("--library", options.library, GetLastError(), kUsageError);
    options.library = full;
    if (options.baseline && !(full = full_path(options.baseline, baseline)))
        return windows_error("--baseline", options.baseline, GetLastError(), kUsageError);
    options.baseline = options.baseline ? full : nullptr;
    return kOk;
}

int enter_folder(const Options &options)
{
    if (options.folder && !SetCurrentDirectoryA(options.folder))
        return windows_error("--folder", options.folder, GetLastError(), kUsageError);
    return kOk;
}
