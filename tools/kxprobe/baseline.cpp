// The baseline of kxprobe --library: an earlier run's --library --json
// output, read and checked line by line, and the rows of this run set
// beside its rows, field by field.
#include "baseline.h"

#include "base/text.h"
#include "base/unique.h"
#include "base/windows_error.h"
#include "profile/profile.h"

#include <windows.h>

#include <cstring>

static const char kHeader[] = "{\"library\": [";
static const char kFooter[] = "]}";

// A row's fields, one per device answer, fit twice over.
enum { kMaxFields = 16 };

int library_problem(const char *pattern, const char *what, const char *detail)
{
    out_text(kStderr, "kxprobe: ");
    out_format(kStderr, pattern, what, detail);
    out_text(kStderr, "\r\n");
    return kFailed;
}

// `file`: the file that the failed call was to open.
int library_windows_problem(const char *what, unsigned long code, const char *file)
{
    static char words[kProfileErrorSize];
    windows_error_text(code, words, sizeof(words), file);
    return library_problem("%s: %s", what, words);
}

namespace {

// The rows as the JSON writer left them: "key": value pairs, a value being a
// number, a string or an object of the same. Nothing is decoded: values
// are compared as written.
struct Field {
    const char *key, *value;
    size_t key_length, length;
};

struct Fields {
    Field field[kMaxFields];
    int count;
};

} // namespace

// The end of the JSON value that begins at `at`; null when none does.
static const char *skip_value(const char *at)
{
    if (*at == '"') {
        for (++at; *at != '"'; ++at)
            if (!*at || (*at == '\\' && !*++at))
                return nullptr;
        return at + 1;
    }
    if (*at == '{' || *at == '[') {
        const char close = *at == '{' ? '}' : ']';
        for (++at; *at != close;)
            if (!*at || !(at = *at == '"' ? skip_value(at) : at + 1))
                return nullptr;
        return at + 1;
    }
    const char *start = at;
    while (*at == '-' || (*at >= '0' && *at <= '9'))
        ++at;
    return at > start ? at : nullptr;
}

// Splits the object at `row` into its fields; the end of the object, or
// null when it is not one as the writer writes it.
static const char *split_object(const char *row, Fields &fields)
{
    fields.count = 0;
    if (*row++ != '{')
        return nullptr;
    for (;;) {
        if (fields.count == kMaxFields || *row != '"')
            return nullptr;
        Field &field = fields.field[fields.count++];
        const char *end = skip_value(row);
        if (!end || strncmp(end, ": ", 2) || !(field.value = end + 2, end = skip_value(field.value)))
            return nullptr;
        field.key = row;
        field.key_length = field.value - 2 - row;
        field.length = end - field.value;
        if (*end == '}')
            return end + 1;
        if (strncmp(end, ", ", 2))
            return nullptr;
        row = end + 2;
    }
}

static const Field *find_field(const Fields &fields, const Field &like)
{
    for (int i = 0; i < fields.count; ++i)
        if (fields.field[i].key_length == like.key_length && !strncmp(fields.field[i].key, like.key, like.key_length))
            return &fields.field[i];
    return nullptr;
}

static bool same_value(const Field *a, const Field *b)
{
    return a && b && a->length == b->length && !strncmp(a->value, b->value, a->length);
}

// A value as people read it: a string without its quotes and the escapes
// of quote and backslash; anything else as written.
static void print_value(OutStream stream, const char *value, size_t length)
{
    if (*value != '"') {
        out_write(stream, value, length);
        return;
    }
    for (size_t i = 1; i + 1 < length; ++i) {
        if (value[i] == '\\' && (value[i + 1] == '"' || value[i + 1] == '\\'))
            ++i;
        out_write(stream, value + i, 1);
    }
}

namespace {

// The baseline: the whole file, its rows and whether the library still
// has each.
struct Baseline {
    char *bytes;
    Fields rows[kMaxMachines];
    bool matched[kMaxMachines];
    int count;
};

} // namespace

static Baseline g_baseline;
static OutStream g_report;

static void print_field(const Field *field, const char *part)
{
    Fields inner;
    const Field *shown = field;
    if (field && *field->value == '{' && split_object(field->value, inner)) {
        Field like = {part, nullptr, strlen(part), 0};
        shown = find_field(inner, like);
    }
    if (shown)
        print_value(g_report, shown->value, shown->length);
    else
        out_text(g_report, "(none)");
}

// "machine: GetGraphicsCardID 1002 -> 2001" and, for a card, the lines
// that decided before and now.
static void report_change(const Field &machine, const Field &key, const Field *before, const Field *now)
{
    print_value(g_report, machine.value, machine.length);
    out_text(g_report, ": ");
    print_value(g_report, key.key, key.key_length);
    out_text(g_report, " ");
    print_field(before, "\"answer\"");
    out_text(g_report, " -> ");
    print_field(now, "\"answer\"");
    out_text(g_report, "\r\n");
    const Field *sides[] = {before, now};
    const char *const names[] = {"    before: ", "    now: "};
    for (int i = 0; i < 2; ++i) {
        if (!sides[i] || *sides[i]->value != '{')
            continue;
        out_text(g_report, names[i]);
        print_field(sides[i], "\"line\"");
        out_text(g_report, " (device \"");
        print_field(sides[i], "\"device\"");
        out_text(g_report, "\")\r\n");
    }
}

// What Wine's order may change is said of the machine and the replay, not
// of the card files, and is not compared.
static bool is_order(const Field &field)
{
    return field.key_length == 7 && !strncmp(field.key, "\"order\"", 7);
}

// Each field of either row that differs; the machine's own name is equal.
static int compare_rows(const Fields &before, const Fields &now)
{
    int changes = 0;
    for (int i = 1; i < now.count; ++i) {
        const Field *old = find_field(before, now.field[i]);
        if (is_order(now.field[i]) || same_value(old, &now.field[i]))
            continue;
        report_change(now.field[0], now.field[i], old, &now.field[i]);
        ++changes;
    }
    for (int i = 1; i < before.count; ++i) {
        if (is_order(before.field[i]) || find_field(now, before.field[i]))
            continue;
        report_change(now.field[0], before.field[i], &before.field[i], nullptr);
        ++changes;
    }
    return changes;
}

static int find_baseline_row(const Field &machine)
{
    for (int i = 0; i < g_baseline.count; ++i)
        if (same_value(&g_baseline.rows[i].field[0], &machine))
            return i;
    return -1;
}

int compare_with_baseline(const char *baseline, char *const *rows, char *const *names, int count, OutStream report)
{
    g_report = report;
    int changes = 0;
    for (int i = 0; i < count; ++i) {
        Fields now;
        if (!rows[i] || !split_object(rows[i], now))
            return library_problem("%s: %s", names[i], "not enough memory to keep its answers");
        int old = find_baseline_row(now.field[0]);
        if (old < 0) {
            out_format(g_report, "%s: not in the baseline\r\n", names[i]);
            ++changes;
            continue;
        }
        g_baseline.matched[old] = true;
        changes += compare_rows(g_baseline.rows[old], now);
    }
    for (int i = 0; i < g_baseline.count; ++i) {
        if (g_baseline.matched[i])
            continue;
        const Field &machine = g_baseline.rows[i].field[0];
        print_value(g_report, machine.value, machine.length);
        out_text(g_report, ": in the baseline, not in the library\r\n");
        ++changes;
    }
    if (changes)
        out_format(g_report, "answers that differ from %s: %d\r\n", baseline, changes);
    else
        out_format(g_report, "every answer is as in %s\r\n", baseline);
    return changes ? kChanged : kSame;
}

static bool is_machine_row(const Fields &fields)
{
    const Field &first = fields.field[0];
    return first.key_length == 9 && !strncmp(first.key, "\"machine\"", 9) && *first.value == '"';
}

// Checks each line of the baseline and indexes its rows, before any
// machine is asked.
int read_baseline(const char *path)
{
    DWORD error;
    BOOL done;
    DWORD size;
    {
        UniqueFile file(CreateFileA(path, GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr));
        if (!file)
            return library_windows_problem(path, GetLastError(), path);
        DWORD read = 0;
        size = GetFileSize(file.get(), nullptr);
        g_baseline.bytes = size != INVALID_FILE_SIZE ? (char *)HeapAlloc(GetProcessHeap(), 0, size + 1) : nullptr;
        done = g_baseline.bytes && ReadFile(file.get(), g_baseline.bytes, size, &read, nullptr) && read == size;
        error = GetLastError();
    }
    if (!done)
        return library_windows_problem(path, g_baseline.bytes ? error : ERROR_NOT_ENOUGH_MEMORY);
    g_baseline.bytes[size] = 0;
    int number = 0;
    bool ended = false;
    for (char *line = g_baseline.bytes; *line;) {
        char *feed = strchr(line, '\n');
        char *next = feed ? feed + 1 : line + strlen(line);
        if (feed)
            *feed = 0;
        if (feed > line && feed[-1] == '\r')
            feed[-1] = 0;
        ++number;
        static char where[MAX_PATH + 32];
        TextBuilder(where).format("%s: line %d", path, number);
        const char *end = nullptr;
        if (number == 1 ? strcmp(line, kHeader) : ended) {
            return library_problem("%s: %s", where, "not as kxprobe --library --json writes a library");
        } else if (!strcmp(line, kFooter)) {
            ended = true;
        } else if (number > 1) {
            if (g_baseline.count == kMaxMachines)
                return library_problem("%s: more than %s machines", where, "1000");
            Fields &row = g_baseline.rows[g_baseline.count];
            if (strncmp(line, "  ", 2) || !(end = split_object(line + 2, row)) || (*end && strcmp(end, ",")) ||
                !is_machine_row(row))
                return library_problem("%s: %s", where,
                                       "not a machine's answers as kxprobe --library --json writes them");
            ++g_baseline.count;
        }
        line = next;
    }
    if (!ended)
        return library_problem("%s: %s", path, "ends before its closing line");
    return kSame;
}
