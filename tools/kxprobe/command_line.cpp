#include "command_line.h"

#include <windows.h>

#include <cstring>

static bool is_blank(char c)
{
    return c == ' ' || c == '\t';
}

// A quoted program name ends at its closing quote, any other at the first
// blank; backslashes in it are never escapes, since a path ends in them.
static const char *skip_program_name(const char *line)
{
    if (*line == '"') {
        const char *close = strchr(line + 1, '"');
        return close ? close + 1 : line + strlen(line);
    }
    while (*line && !is_blank(*line))
        ++line;
    return line;
}

// Copies one argument from `from` to `to` and returns where the next one
// may begin.
static const char *copy_argument(const char *from, char *&to)
{
    bool quoted = false;
    while (*from && (quoted || !is_blank(*from))) {
        size_t backslashes = 0;
        while (from[backslashes] == '\\')
            ++backslashes;
        if (from[backslashes] == '"') {
            memset(to, '\\', backslashes / 2);
            to += backslashes / 2;
            from += backslashes;
            if (backslashes % 2) {
                *to++ = '"';
            } else if (quoted && from[1] == '"') {
                // CRTDLL's rule, and msvcrt's before 2008: "" gives a
                // quote and ends the quoted part.
                *to++ = '"';
                ++from;
                quoted = false;
            } else {
                quoted = !quoted;
            }
            ++from;
        } else if (backslashes) {
            memcpy(to, from, backslashes);
            to += backslashes;
            from += backslashes;
        } else {
            *to++ = *from++;
        }
    }
    *to++ = 0;
    return from;
}

bool split_command_line(const char *line, Arguments &arguments)
{
    line = skip_program_name(line);
    size_t length = strlen(line);
    // Every argument takes at least one character and a blank of the line.
    size_t most = length / 2 + 1;
    char *block = (char *)HeapAlloc(GetProcessHeap(), 0, most * sizeof(char *) + length + 1);
    arguments.count = 0;
    arguments.value = (char **)block;
    if (!block)
        return false;
    char *to = block + most * sizeof(char *);
    for (;;) {
        while (is_blank(*line))
            ++line;
        if (!*line)
            return true;
        arguments.value[arguments.count++] = to;
        line = copy_argument(line, to);
    }
}

// Quoted when it holds a blank or a quote, or is empty; backslashes are
// doubled only where a quote follows them, the argument's own or the
// closing one.
static char *append_argument(char *to, const char *argument)
{
    bool quote = !*argument || strpbrk(argument, " \t\"");
    if (quote)
        *to++ = '"';
    for (const char *c = argument;; ++c) {
        size_t backslashes = 0;
        while (c[backslashes] == '\\')
            ++backslashes;
        bool before_quote = c[backslashes] == '"' || (quote && !c[backslashes]);
        for (size_t i = 0; i < (before_quote ? 2 * backslashes : backslashes); ++i)
            *to++ = '\\';
        c += backslashes;
        if (!*c)
            break;
        if (*c == '"')
            *to++ = '\\';
        *to++ = *c;
    }
    if (quote)
        *to++ = '"';
    return to;
}

char *join_command_line(char *const *arguments, int count)
{
    size_t size = 1;
    for (int i = 0; i < count; ++i)
        size += 2 * strlen(arguments[i]) + 3;
    char *line = (char *)HeapAlloc(GetProcessHeap(), 0, size);
    if (!line)
        return nullptr;
    char *to = line;
    for (int i = 0; i < count; ++i) {
        if (i)
            *to++ = ' ';
        to = append_argument(to, arguments[i]);
    }
    *to = 0;
    return line;
}
