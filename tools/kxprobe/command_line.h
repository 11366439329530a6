// The program's arguments, split out of GetCommandLineA the way the C
// runtime of a Windows program splits them.
#pragma once

struct Arguments {
    int count;    // without the program's own name
    char **value; // count pointers into one block of the process heap, the caller's
};

// Splits `line` after the program name: arguments are separated by blanks
// and tabs; double quotes group blanks into an argument and are removed;
// backslashes are literal except before a double quote, where each pair
// gives one backslash and an odd one makes the quote literal; inside quotes
// "" gives one literal quote and ends the quoted part, as CRTDLL has it.
// False only when no memory can be had.
bool split_command_line(const char *line, Arguments &arguments);

// A command line for CreateProcessA that a program splits back into
// `count` arguments exactly as given; in the process heap, or null when no
// memory can be had.
char *join_command_line(char *const *arguments, int count);
