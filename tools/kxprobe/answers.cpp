#include "answers.h"

#include "output.h"

static bool g_json;
static int g_records;
static int g_details; // of the open record

// A record stays open for its details until the next one or the end.
static void open_record(const char *name)
{
    if (g_records++)
        out_text(kStdout, "]},\r\n  {\"export\": ");
    else
        out_text(kStdout, "{\"answers\": [\r\n  {\"export\": ");
    g_details = 0;
    if (name)
        out_json_text(kStdout, name);
    else
        out_text(kStdout, "null");
}

static void write_field(const char *name, const char *text)
{
    out_format(kStdout, ", \"%s\": ", name);
    out_json_text(kStdout, text);
}

void answers_use_json()
{
    g_json = true;
}

void answers_answer(const char *line, const char *name, const Argument *arguments, int count, int value,
                    const char *meaning)
{
    if (!g_json) {
        out_format(kStdout, "%s\r\n", line);
        return;
    }
    open_record(name);
    out_text(kStdout, ", \"arguments\": [");
    for (int i = 0; i < count; ++i) {
        if (i)
            out_text(kStdout, ", ");
        if (arguments[i].kind == Argument::number)
            out_format(kStdout, "%d", arguments[i].value);
        else if (arguments[i].kind == Argument::text)
            out_json_text(kStdout, arguments[i].string);
        else
            out_text(kStdout, "null");
    }
    out_format(kStdout, "], \"answer\": %d", value);
    write_field("meaning", meaning);
    write_field("text", line);
    out_text(kStdout, ", \"details\": [");
}

void answers_dll(const char *line, const char *path, const char *version, const char *folder)
{
    if (!g_json) {
        out_format(kStdout, "%s\r\n", line);
        return;
    }
    open_record(nullptr);
    write_field("path", path);
    write_field("version", version);
    write_field("folder", folder);
    write_field("text", line);
    out_text(kStdout, ", \"details\": [");
}

void answers_detail(const char *text)
{
    if (!g_json) {
        out_format(kStdout, "    %s\r\n", text);
        return;
    }
    if (g_details++)
        out_text(kStdout, ", ");
    out_json_text(kStdout, text);
}

void answers_finish()
{
    if (!g_json)
        return;
    out_text(kStdout, g_records ? "]}\r\n]}\r\n" : "{\"answers\": []}\r\n");
}
