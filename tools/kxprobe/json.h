// kxprobe's one JSON writer, over its output streams: the answers of
// --json and the rows of --library --json. Keys are plain ASCII names;
// texts are the ANSI code page's.
#pragma once

#include "output.h"

// Writes `ansi` as a JSON string: converted from the ANSI code page to
// UTF-16 and encoded as UTF-8 here, since Windows 95 has no CP_UTF8.
void json_string(OutStream stream, const char *ansi);
// "name": , before a value.
void json_key(OutStream stream, const char *name);
// , "name": "text" and , "name": value, after a value of the same object.
void json_field(OutStream stream, const char *name, const char *ansi);
void json_number(OutStream stream, const char *name, int value);
