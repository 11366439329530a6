#include "answers.h"

#include "json.h"

static bool g_json;
static int g_records, g_replay_records; // of the answers and of the replay's report
static int g_details;                   // of the open record
static bool g_after_replay;             // the answers follow the replay's report

// A record of the array `array` stays open for its details until the next
// one or the end. The first opens the array, after `opening`.
static void open_record(int &records, const char *opening, const char *array, const char *first_key)
{
    if (records++)
        out_text(kStdout, "]},\r\n  {");
    else
        out_format(kStdout, "%s\"%s\": [\r\n  {", opening, array);
    g_details = 0;
    json_key(kStdout, first_key);
}

static void write_field(const char *name, const char *text)
{
    json_field(kStdout, name, text);
}

void answers_use_json()
{
    g_json = true;
}

static const char *answers_opening()
{
    return g_after_replay ? " " : "{";
}

static void print_answer(void *, const Answer &answer)
{
    if (!g_json) {
        out_format(kStdout, "%s\r\n", answer.line);
        return;
    }
    open_record(g_records, answers_opening(), "answers", "export");
    json_string(kStdout, answer.name);
    out_text(kStdout, ", \"arguments\": [");
    for (int i = 0; i < answer.count; ++i) {
        const Argument &argument = answer.arguments[i];
        if (i)
            out_text(kStdout, ", ");
        if (argument.kind == Argument::number)
            out_format(kStdout, "%d", argument.value);
        else if (argument.kind == Argument::text)
            json_string(kStdout, argument.string);
        else
            out_text(kStdout, "null");
    }
    out_format(kStdout, "], \"answer\": %d", answer.value);
    write_field("meaning", answer.meaning);
    write_field("text", answer.line);
    out_text(kStdout, ", \"details\": [");
}

static void print_dll(void *, const char *line, const char *path, const char *version, const char *folder)
{
    if (!g_json) {
        out_format(kStdout, "%s\r\n", line);
        return;
    }
    open_record(g_records, answers_opening(), "answers", "export");
    out_text(kStdout, "null");
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
    json_string(kStdout, text);
}

static void print_detail(void *, const char *text)
{
    answers_detail(text);
}

static void print_waiting(void *, const char *text)
{
    if (out_is_console(kStderr))
        out_format(kStderr, "kxprobe: %s\r\n", text);
}

AnswerSink printed_answers()
{
    return AnswerSink{print_dll, print_answer, print_detail, print_waiting, nullptr};
}

void answers_finish()
{
    if (!g_json)
        return;
    if (g_records)
        out_text(kStdout, "]}\r\n]}\r\n");
    else
        out_format(kStdout, "%s\"answers\": []}\r\n", answers_opening());
}

static void write_number(const char *name, const int *value)
{
    if (value)
        json_number(kStdout, name, *value);
}

void answers_replay(const ReplayRecord &record)
{
    if (!g_json) {
        out_format(kStdout, "%s\r\n", record.line);
        return;
    }
    open_record(g_replay_records, "{", "replay", "kind");
    json_string(kStdout, record.kind);
    if (record.question)
        write_field("question", record.question);
    write_number("then", record.then);
    write_number("now", record.now);
    if (record.why)
        write_field("why", record.why);
    write_field("text", record.line);
    out_text(kStdout, ", \"details\": [");
}

void answers_follow_replay()
{
    g_after_replay = g_json;
}

void answers_end_replay()
{
    if (g_json && g_replay_records)
        out_text(kStdout, "]}\r\n],\r\n");
}
