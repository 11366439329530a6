// The answers kept as lines while they are asked, then written with the
// hardware tree.
#include "machine_capture.h"

#include "output.h"

#include "base/text.h"
#include "base/unique.h"
#include "base/windows_error.h"
#include "profile/replay_text.h"

#include <windows.h>

#include <cstdio>
#include <cstring>

namespace {

// The lines as people read them, each ended by LF, in the process heap;
// and where they go as well.
struct Kept {
    UniqueHeap<char> text;
    size_t length, capacity;
    bool failed; // memory ran out
    const AnswerSink *show;
    const CaptureWatcher *watcher;
};

} // namespace

static void keep(Kept &kept, const char *indent, const char *line)
{
    const size_t indent_length = strlen(indent), length = strlen(line);
    const size_t needed = kept.length + indent_length + length + 2;
    if (kept.failed)
        return;
    if (needed > kept.capacity) {
        size_t capacity = kept.capacity ? kept.capacity : 4096;
        while (capacity < needed)
            capacity *= 2;
        void *text = kept.text ? HeapReAlloc(GetProcessHeap(), 0, kept.text.get(), capacity)
                               : HeapAlloc(GetProcessHeap(), 0, capacity);
        if (!text) {
            kept.failed = true;
            return;
        }
        // HeapReAlloc has freed the block that it moved.
        kept.text.release();
        kept.text.reset((char *)text);
        kept.capacity = capacity;
    }
    char *const start = kept.text.get() + kept.length;
    memcpy(start, indent, indent_length);
    memcpy(start + indent_length, line, length);
    kept.length += indent_length + length;
    kept.text.get()[kept.length] = 0;
    // A line break within a line (a device description may hold one) is a
    // blank, as the comment line will have it.
    for (char *c = start; *c; ++c)
        if (*c == '\r' || *c == '\n')
            *c = ' ';
    if (kept.watcher)
        kept.watcher->line(kept.watcher->context, start);
    kept.text.get()[kept.length++] = '\n';
    kept.text.get()[kept.length] = 0;
}

static void keep_dll(void *context, const char *line, const char *path, const char *version, const char *folder)
{
    Kept &kept = *(Kept *)context;
    keep(kept, "", line);
    if (kept.show)
        kept.show->dll(kept.show->context, line, path, version, folder);
}

static void keep_answer(void *context, const Answer &answer)
{
    Kept &kept = *(Kept *)context;
    keep(kept, "", answer.line);
    if (kept.show)
        kept.show->answer(kept.show->context, answer);
}

static void keep_detail(void *context, const char *text)
{
    Kept &kept = *(Kept *)context;
    keep(kept, "    ", text);
    if (kept.show)
        kept.show->detail(kept.show->context, text);
}

static void pass_waiting(void *context, const char *text)
{
    Kept &kept = *(Kept *)context;
    if (kept.show)
        kept.show->waiting(kept.show->context, text);
    if (kept.watcher)
        kept.watcher->waiting(kept.watcher->context, text);
}

static const char *windows_name(const OSVERSIONINFOA &info)
{
    static const struct {
        DWORD platform, major, minor;
        const char *name;
    } kNames[] = {
        {VER_PLATFORM_WIN32_WINDOWS, 4, 0, "Windows 95"},  {VER_PLATFORM_WIN32_WINDOWS, 4, 10, "Windows 98"},
        {VER_PLATFORM_WIN32_WINDOWS, 4, 90, "Windows Me"}, {VER_PLATFORM_WIN32_NT, 5, 0, "Windows 2000"},
        {VER_PLATFORM_WIN32_NT, 5, 1, "Windows XP"},       {VER_PLATFORM_WIN32_NT, 5, 2, "Windows Server 2003"},
        {VER_PLATFORM_WIN32_NT, 6, 0, "Windows Vista"},    {VER_PLATFORM_WIN32_NT, 6, 1, "Windows 7"},
        {VER_PLATFORM_WIN32_NT, 6, 2, "Windows 8"},        {VER_PLATFORM_WIN32_NT, 6, 3, "Windows 8.1"},
        {VER_PLATFORM_WIN32_NT, 10, 0, "Windows 10"},
    };
    for (const auto &known : kNames)
        if (known.platform == info.dwPlatformId && known.major == info.dwMajorVersion &&
            known.minor == info.dwMinorVersion)
            return known.name;
    return info.dwPlatformId == VER_PLATFORM_WIN32_NT ? "Windows NT" : "Windows";
}

void windows_version(char *text, size_t size)
{
    OSVERSIONINFOA info;
    memset(&info, 0, sizeof info);
    info.dwOSVersionInfoSize = sizeof info;
    if (!GetVersionExA(&info)) {
        lstrcpynA(text, "an unknown Windows", (int)size);
        return;
    }
    // Windows 9x keeps its major and minor version in the build number's
    // high word, and a blank before its service letter.
    const DWORD build =
        info.dwPlatformId == VER_PLATFORM_WIN32_WINDOWS ? info.dwBuildNumber & 0xffff : info.dwBuildNumber;
    const char *service = info.szCSDVersion;
    while (*service == ' ')
        ++service;
    TextBuilder(text, size)
        .format("%s (%lu.%lu.%lu%s%s)", windows_name(info), info.dwMajorVersion, info.dwMinorVersion, build,
                *service ? " " : "", service);
}

// "Captured by PROGRAM on YYYY-MM-DD HH:MM:SS under WINDOWS"
static void keep_header(Kept &kept, const char *program)
{
    SYSTEMTIME now;
    GetLocalTime(&now);
    char date[32], windows[256], line[1024];
    TextBuilder(date).format("%04u-%02u-%02u %02u:%02u:%02u", now.wYear, now.wMonth, now.wDay, now.wHour, now.wMinute,
                             now.wSecond);
    windows_version(windows, sizeof windows);
    RegeditOutput out = {line, sizeof line, 0, nullptr, nullptr, false};
    line[0] = 0;
    notes_header(out, program, date, windows);
    keep(kept, "", line);
}

bool capture_machine(const MachineCapture &capture, bool &complete, char error[kProfileErrorSize])
{
    complete = true;
    if (!profile_can_write(capture.path, error))
        return false;
    Kept kept = {{}, 0, 0, false, capture.show, capture.watcher};
    keep_header(kept, capture.program);
    if (capture.dll) {
        const AnswerSink sink = {keep_dll, keep_answer, keep_detail, pass_waiting, &kept};
        complete = ask_questions(capture.dll, capture.options, sink);
    } else {
        char words[kProfileErrorSize], line[kProfileErrorSize + 64];
        windows_error_text(capture.load_error, words, sizeof words, dll_file("KXVozaDa.dll", capture.load_error));
        TextBuilder(line).format("KXVozaDa.dll does not load: %s", words);
        keep(kept, "", line);
    }
    if (kept.failed || text_ran_out()) {
        char words[kProfileErrorSize];
        windows_error_text(ERROR_NOT_ENOUGH_MEMORY, words, sizeof words);
        TextBuilder(error, kProfileErrorSize).format("cannot write %s: %s", capture.path, words);
        return false;
    }
    return profile_capture(capture.path, error, kept.text.get());
}
