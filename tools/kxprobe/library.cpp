#include "library.h"

#include "card_pieces.h"
#include "output.h"
#include "replay.h"

#include "base/windows_error.h"
#include "inventory/walk.h"
#include "profile/profile.h"
#include "tools/exports/export_table.h"

#include <windows.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>

enum { kSame = 0, kChanged = 1, kNoDll = 1, kFailed = 2 };
// Fixed tables in .bss: a library of more machines is refused with a word
// to split it; a row's fields, one per device answer, fit twice over, and
// its text holds both card questions' descriptions and deciding lines.
enum { kMaxMachines = 1000, kMaxFields = 16, kRowSize = 32768 };

static const char kHeader[] = "{\"library\": [";
static const char kFooter[] = "]}";

// The card questions, whose answers come with the live device and the line
// that decided.
static const Export kCards[2] = {Export::GetAudioCardID, Export::GetGraphicsCardID};

struct Exports {
    KXVOZADA_GETPCIINFO_FN pci_info;
    KXVOZADA_ASK_FN cards[2];
    KXVOZADA_ASK_FN broadlogic;
    KXVOZADA_ISDVDDRIVEPRESENT_FN dvd;
};

struct Card {
    int answer;
    char device[kTextSize];
    Text line;
};

// The questions that Wine's order may change: one for each question at
// most, or one that says the order was not checked.
enum { kMaxOrderNotes = 4 };

struct Answers {
    int pci[3];
    Card cards[2];
    int broadlogic, dvd;
    Text order[kMaxOrderNotes];
    int order_count;
};

static Answers g_answers;

// The machines' file names, sorted, and each one's JSON row once asked.
static char g_names[kMaxMachines][MAX_PATH];
static char *g_sorted[kMaxMachines];
static char *g_rows[kMaxMachines];
static int g_machines;

static char g_row_bytes[kRowSize];
static Captured g_row = {g_row_bytes, sizeof(g_row_bytes), 0};

static int problem(const char *pattern, const char *what, const char *detail)
{
    out_text(kStderr, "kxprobe: ");
    out_format(kStderr, pattern, what, detail);
    out_text(kStderr, "\r\n");
    return kFailed;
}

// `file`: the file that the failed call was to open.
static int windows_problem(const char *what, DWORD code, const char *file = nullptr)
{
    static char words[kProfileErrorSize];
    windows_error_text(code, words, sizeof(words), file);
    return problem("%s: %s", what, words);
}

static int compare_names(const void *a, const void *b)
{
    return strcmp(*(char *const *)a, *(char *const *)b);
}

// FindFirstFileA matches "*.reg" against the short names too, so that
// "machine.regx" (short name MACHIN~1.REG) comes back: only a name that
// itself ends in .reg is a profile.
static bool is_profile_name(const char *name)
{
    size_t length = strlen(name);
    return length > 4 && !lstrcmpiA(name + length - 4, ".reg");
}

// A library without machines checks nothing: most likely the folder is
// the wrong one.
static int no_machines(const char *folder)
{
    return problem("%s: %s", folder, "no machine profiles (*.reg) in this folder");
}

static int list_machines(const char *folder)
{
    static char pattern[MAX_PATH + 8];
    _snprintf(pattern, sizeof(pattern) - 1, "%s\\*.reg", folder);
    WIN32_FIND_DATAA found;
    HANDLE find = FindFirstFileA(pattern, &found);
    if (find == INVALID_HANDLE_VALUE) {
        DWORD error = GetLastError();
        return error == ERROR_FILE_NOT_FOUND ? no_machines(folder) : windows_problem(folder, error);
    }
    int status = kSame;
    do {
        if ((found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) || !is_profile_name(found.cFileName))
            continue;
        if (g_machines == kMaxMachines) {
            status = problem("%s: more than %s machine profiles; split the library", folder, "1000");
            break;
        }
        lstrcpynA(g_names[g_machines], found.cFileName, MAX_PATH);
        g_sorted[g_machines] = g_names[g_machines];
        ++g_machines;
    } while (FindNextFileA(find, &found));
    FindClose(find);
    qsort(g_sorted, g_machines, sizeof(g_sorted[0]), compare_names);
    return status == kSame && !g_machines ? no_machines(folder) : status;
}

static bool find_exports(HMODULE dll, Exports &exports)
{
    exports.pci_info = find_export<KXVOZADA_GETPCIINFO_FN>(dll, Export::GetPCIInfo);
    exports.broadlogic = find_export<KXVOZADA_ASK_FN>(dll, Export::IsBroadLogicPresent);
    exports.dvd = find_export<KXVOZADA_ISDVDDRIVEPRESENT_FN>(dll, Export::IsDVDDrivePresent);
    bool found = exports.pci_info && exports.broadlogic && exports.dvd;
    for (int i = 0; i < 2; ++i)
        found = (exports.cards[i] = find_export<KXVOZADA_ASK_FN>(dll, kCards[i])) && found;
    return found;
}

static void keep_order_note(void *, const char *, const char *line)
{
    if (g_answers.order_count == kMaxOrderNotes)
        return;
    Text &note = g_answers.order[g_answers.order_count++];
    text_clear(note);
    text_add(note, line);
}

// The DLL upper-cases the text in place, so each machine gets a fresh copy.
static void ask(const Exports &exports, const char *dvd_text)
{
    for (int selector = 0; selector < 3; ++selector)
        g_answers.pci[selector] = exports.pci_info(selector);
    for (int i = 0; i < 2; ++i) {
        Card &card = g_answers.cards[i];
        card.answer = exports.cards[i]();
        card.device[0] = 0;
        const ExportRow &row = export_row(kCards[i]);
        row.identify(card.device, nullptr);
        text_clear(card.line);
        if (card.device[0]) {
            text_format(card.line, "%s ", card_file_name(row.card));
            deciding_line(row.card, card.device, card.line);
        }
    }
    g_answers.broadlogic = exports.broadlogic();
    static char text[kTextMax];
    lstrcpynA(text, dvd_text, sizeof(text));
    g_answers.dvd = exports.dvd(text);
    g_answers.order_count = 0;
    replay_read_registry();
    replay_order_notes(dvd_text, keep_order_note, nullptr);
}

// One machine as one JSON object on one line, kept in g_row.
static void write_row(const char *machine, const char *refused)
{
    out_capture(&g_row);
    out_text(kStdout, "{\"machine\": ");
    out_json_text(kStdout, machine);
    if (refused) {
        out_text(kStdout, ", \"refused\": ");
        out_json_text(kStdout, refused);
    } else {
        for (int selector = 0; selector < 3; ++selector)
            out_format(kStdout, ", \"GetPCIInfo(%d)\": %d", selector, g_answers.pci[selector]);
        for (int i = 0; i < 2; ++i) {
            const Card &card = g_answers.cards[i];
            out_format(kStdout, ", \"%s\": {\"answer\": %d, \"device\": ", export_row(kCards[i]).name, card.answer);
            out_json_text(kStdout, card.device);
            out_text(kStdout, ", \"line\": ");
            out_json_text(kStdout, card.line.text);
            out_text(kStdout, "}");
        }
        out_format(kStdout, ", \"IsBroadLogicPresent\": %d, \"IsDVDDrivePresent\": %d", g_answers.broadlogic,
                   g_answers.dvd);
        for (int i = 0; i < g_answers.order_count; ++i) {
            out_text(kStdout, i ? ", " : ", \"order\": [");
            out_json_text(kStdout, g_answers.order[i].text);
        }
        if (g_answers.order_count)
            out_text(kStdout, "]");
    }
    out_text(kStdout, "}");
    out_capture(nullptr);
}

static const char *pci_text(int answer)
{
    static char text[3][16];
    static int next;
    char *into = text[next++ % 3];
    _snprintf(into, sizeof(text[0]) - 1, answer < 0 ? "%d" : "%04X", answer);
    into[sizeof(text[0]) - 1] = 0;
    return into;
}

static void print_table_head(const Library &library)
{
    out_format(kStdout,
               "Columns: GetPCIInfo(0), (1) and (2) in hex, GetAudioCardID, GetGraphicsCardID,\r\n"
               "IsBroadLogicPresent and IsDVDDrivePresent(\"%s\")\r\n",
               library.dvd_text);
    out_format(kStdout, "%-28s %6s %6s %6s %6s %8s %10s %4s\r\n", "machine", "PCI(0)", "PCI(1)", "PCI(2)", "Audio",
               "Graphics", "BroadLogic", "DVD");
}

static void print_table_row(const char *machine, const char *refused)
{
    if (refused) {
        out_format(kStdout, "%-28s refused: %s\r\n", machine, refused);
        return;
    }
    const Answers &a = g_answers;
    const char *pci0 = pci_text(a.pci[0]), *pci1 = pci_text(a.pci[1]), *pci2 = pci_text(a.pci[2]);
    out_format(kStdout, "%-28s %6s %6s %6s %6d %8d %10d %4d\r\n", machine, pci0, pci1, pci2, a.cards[0].answer,
               a.cards[1].answer, a.broadlogic, a.dvd);
    for (int i = 0; i < 2; ++i)
        if (a.cards[i].device[0])
            out_format(kStdout, "    %s: \"%s\", %s\r\n", export_row(kCards[i]).name, a.cards[i].device,
                       a.cards[i].line.text);
    for (int i = 0; i < a.order_count; ++i)
        out_format(kStdout, "    order: %s\r\n", a.order[i].text);
}

// Replays one machine and asks it; its row is printed and kept. False when
// the profile was refused.
static bool ask_machine(const Library &library, const Exports &exports, int index)
{
    static char path[MAX_PATH * 2], error[kProfileErrorSize];
    _snprintf(path, sizeof(path) - 1, "%s\\%s", library.machines, g_sorted[index]);
    bool loaded = profile_load(path, error, nullptr, replay_reader());
    if (loaded)
        ask(exports, library.dvd_text);
    // The error names the profile from the library's folder, so that the
    // row does not change when the library moves.
    size_t folder = strlen(library.machines) + 1;
    const char *refused = loaded ? nullptr : strncmp(error, path, folder) ? error : error + folder;
    write_row(g_sorted[index], refused);
    if (library.json) {
        out_text(kStdout, "  ");
        out_write(kStdout, g_row.bytes, g_row.length);
        out_text(kStdout, index + 1 < g_machines ? ",\r\n" : "\r\n");
    } else
        print_table_row(g_sorted[index], refused);
    if (library.baseline) {
        g_rows[index] = (char *)HeapAlloc(GetProcessHeap(), 0, g_row.length + 1);
        if (g_rows[index])
            memcpy(g_rows[index], g_row.bytes, g_row.length + 1);
    }
    return loaded;
}

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

// The baseline: the whole file, its rows and whether the library still
// has each.
struct Baseline {
    char *bytes;
    Fields rows[kMaxMachines];
    bool matched[kMaxMachines];
    int count;
};

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

static int compare_with_baseline(const Library &library)
{
    int changes = 0;
    for (int i = 0; i < g_machines; ++i) {
        Fields now;
        if (!g_rows[i] || !split_object(g_rows[i], now))
            return problem("%s: %s", g_sorted[i], "not enough memory to keep its answers");
        int old = find_baseline_row(now.field[0]);
        if (old < 0) {
            out_format(g_report, "%s: not in the baseline\r\n", g_sorted[i]);
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
        out_format(g_report, "answers that differ from %s: %d\r\n", library.baseline, changes);
    else
        out_format(g_report, "every answer is as in %s\r\n", library.baseline);
    return changes ? kChanged : kSame;
}

static bool is_machine_row(const Fields &fields)
{
    const Field &first = fields.field[0];
    return first.key_length == 9 && !strncmp(first.key, "\"machine\"", 9) && *first.value == '"';
}

// Checks each line of the baseline and indexes its rows, before any
// machine is asked.
static int read_baseline(const char *path)
{
    HANDLE file = CreateFileA(path, GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr);
    if (file == INVALID_HANDLE_VALUE)
        return windows_problem(path, GetLastError(), path);
    DWORD size = GetFileSize(file, nullptr), read = 0;
    g_baseline.bytes = size != INVALID_FILE_SIZE ? (char *)HeapAlloc(GetProcessHeap(), 0, size + 1) : nullptr;
    BOOL done = g_baseline.bytes && ReadFile(file, g_baseline.bytes, size, &read, nullptr) && read == size;
    DWORD error = GetLastError();
    CloseHandle(file);
    if (!done)
        return windows_problem(path, g_baseline.bytes ? error : ERROR_NOT_ENOUGH_MEMORY);
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
        _snprintf(where, sizeof(where) - 1, "%s: line %d", path, number);
        where[sizeof(where) - 1] = 0;
        const char *end = nullptr;
        if (number == 1 ? strcmp(line, kHeader) : ended) {
            return problem("%s: %s", where, "not as kxprobe --library --json writes a library");
        } else if (!strcmp(line, kFooter)) {
            ended = true;
        } else if (number > 1) {
            if (g_baseline.count == kMaxMachines)
                return problem("%s: more than %s machines", where, "1000");
            Fields &row = g_baseline.rows[g_baseline.count];
            if (strncmp(line, "  ", 2) || !(end = split_object(line + 2, row)) || (*end && strcmp(end, ",")) ||
                !is_machine_row(row))
                return problem("%s: %s", where, "not a machine's answers as kxprobe --library --json writes them");
            ++g_baseline.count;
        }
        line = next;
    }
    if (!ended)
        return problem("%s: %s", path, "ends before its closing line");
    return kSame;
}

// The tree that was loaded before, kept in the temporary folder.
struct SavedTree {
    char path[kProfilePathSize];
};

static bool save_tree(SavedTree &tree)
{
    static char error[kProfileErrorSize];
    if (profile_save(tree.path, error))
        return true;
    problem("%s%s", "the tree loaded now cannot be kept: ", error);
    return false;
}

static int put_tree_back(const SavedTree &tree)
{
    static char error[kProfileErrorSize];
    if (!profile_load(tree.path, error))
        return problem("the tree loaded before cannot be put back: %s; it stays in %s", error, tree.path);
    DeleteFileA(tree.path);
    return kSame;
}

static int ask_library(const Library &library, const Exports &exports)
{
    if (library.json)
        out_text(kStdout, g_machines ? "{\"library\": [\r\n" : "{\"library\": [\r\n]}\r\n");
    else
        print_table_head(library);
    bool refused = false;
    for (int i = 0; i < g_machines; ++i)
        refused |= !ask_machine(library, exports, i);
    if (library.json && g_machines)
        out_text(kStdout, "]}\r\n");
    return refused ? kFailed : kSame;
}

int run_library(const Library &library)
{
    g_report = library.json ? kStderr : kStdout;
    int status = list_machines(library.machines);
    if (status == kSame && library.baseline)
        status = read_baseline(library.baseline);
    if (status != kSame)
        return status;
    DWORD error;
    UniqueModule dll(load_kxvozada(error));
    Exports exports;
    if (!dll || !find_exports(dll.get(), exports)) {
        windows_problem("KXVozaDa.dll", dll ? ERROR_PROC_NOT_FOUND : error,
                        dll ? nullptr : dll_file("KXVozaDa.dll", error));
        return kNoDll;
    }
    SavedTree tree;
    if (!save_tree(tree))
        return kFailed;
    status = ask_library(library, exports);
    if (put_tree_back(tree) != kSame)
        status = kFailed;
    dll.reset();
    // A refused profile is compared too: its row says why.
    int compared = library.baseline ? compare_with_baseline(library) : kSame;
    return status == kFailed ? kFailed : compared;
}
