#include "base/windows_error.h"

#include <windows.h>

// Opening a folder as a file fails with ERROR_ACCESS_DENIED, which is no
// help to whoever named the folder.
static bool is_folder(const char *path)
{
    const DWORD attributes = GetFileAttributesA(path);
    return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY);
}

void windows_error_text(TextBuilder &text, unsigned long code, const char *file)
{
    if (file && code == ERROR_ACCESS_DENIED && is_folder(file))
        return text.put("a folder, not a file");
    // Inserts are left as they stand, and only the file is put in, so that
    // words with others ("%2") cannot read arguments that are not there.
    char words[256];
    DWORD length = FormatMessageA(FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS, nullptr, code, 0, words,
                                  sizeof words, nullptr);
    while (length && (words[length - 1] == '\r' || words[length - 1] == '\n' || words[length - 1] == ' '))
        --length;
    DWORD start = 0;
    for (DWORD i = 0; file && i + 1 < length; ++i) {
        if (words[i] != '%' || words[i + 1] != '1')
            continue;
        text.put(words + start, i - start);
        text.put(file);
        start = ++i + 1;
    }
    text.put(words + start, length - start);
    text.format(length ? " (error %lu)" : "(error %lu)", code);
}

void windows_error_text(unsigned long code, char *text, unsigned long size, const char *file)
{
    TextBuilder words(text, size);
    windows_error_text(words, code, file);
}
