#include "library.h"

#include "baseline.h"
#include "card_pieces.h"
#include "json.h"
#include "output.h"
#include "replay.h"

#include "base/text.h"
#include "base/unique.h"
#include "inventory/walk.h"
#include "profile/profile.h"
#include "tools/exports/export_table.h"

#include <windows.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>

enum { kNoDll = 1 };

// The card questions, whose answers come with the live device and the line
// that decided.
static const Export kCards[2] = {Export::GetAudioCardID, Export::GetGraphicsCardID};

namespace {

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

} // namespace

static Answers g_answers;

// The machines' file names, sorted, and each one's JSON row once asked.
static char g_names[kMaxMachines][MAX_PATH];
static char *g_sorted[kMaxMachines];
static char *g_rows[kMaxMachines];
static int g_machines;

static Text g_row;

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
    return library_problem("%s: %s", folder, "no machine profiles (*.reg) in this folder");
}

static int list_machines(const char *folder)
{
    static char pattern[MAX_PATH + 8];
    TextBuilder(pattern).format("%s\\*.reg", folder);
    WIN32_FIND_DATAA found;
    UniqueFind find(FindFirstFileA(pattern, &found));
    if (!find) {
        DWORD error = GetLastError();
        return error == ERROR_FILE_NOT_FOUND ? no_machines(folder) : library_windows_problem(folder, error);
    }
    int status = kSame;
    do {
        if ((found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) || !is_profile_name(found.cFileName))
            continue;
        if (g_machines == kMaxMachines) {
            status = library_problem("%s: more than %s machine profiles; split the library", folder, "1000");
            break;
        }
        lstrcpynA(g_names[g_machines], found.cFileName, MAX_PATH);
        g_sorted[g_machines] = g_names[g_machines];
        ++g_machines;
    } while (FindNextFileA(find.get(), &found));
    find.reset();
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
    UniqueHeap<char> text(heap_copy(dvd_text));
    g_answers.dvd = text ? exports.dvd(text.get()) : -1;
    g_answers.order_count = 0;
    replay_read_registry();
    replay_order_notes(dvd_text, keep_order_note, nullptr);
}

// One machine as one JSON object on one line, kept in g_row.
static void write_row(const char *machine, const char *refused)
{
    out_capture(&g_row);
    out_text(kStdout, "{");
    json_key(kStdout, "machine");
    json_string(kStdout, machine);
    if (refused) {
        json_field(kStdout, "refused", refused);
    } else {
        for (int selector = 0; selector < 3; ++selector)
            out_format(kStdout, ", \"GetPCIInfo(%d)\": %d", selector, g_answers.pci[selector]);
        for (int i = 0; i < 2; ++i) {
            const Card &card = g_answers.cards[i];
            out_format(kStdout, ", \"%s\": {\"answer\": %d, \"device\": ", export_row(kCards[i]).name, card.answer);
            json_string(kStdout, card.device);
            json_field(kStdout, "line", card.line.text());
            out_text(kStdout, "}");
        }
        json_number(kStdout, export_row(Export::IsBroadLogicPresent).name, g_answers.broadlogic);
        json_number(kStdout, export_row(Export::IsDVDDrivePresent).name, g_answers.dvd);
        for (int i = 0; i < g_answers.order_count; ++i) {
            out_text(kStdout, i ? ", " : ", \"order\": [");
            json_string(kStdout, g_answers.order[i].text());
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
    TextBuilder(into, sizeof(text[0])).format(answer < 0 ? "%d" : "%04X", answer);
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
                       a.cards[i].line.text());
    for (int i = 0; i < a.order_count; ++i)
        out_format(kStdout, "    order: %s\r\n", a.order[i].text());
}

static void forget_answers()
{
    for (Card &card : g_answers.cards)
        text_clear(card.line);
    for (Text &note : g_answers.order)
        text_clear(note);
    text_clear(g_row);
}

// Replays one machine and asks it; its row is printed and kept. False when
// the profile was refused.
static bool ask_machine(const Library &library, const Exports &exports, int index)
{
    static char path[MAX_PATH * 2], error[kProfileErrorSize];
    TextBuilder(path).format("%s\\%s", library.machines, g_sorted[index]);
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
        out_write(kStdout, g_row.text(), g_row.length);
        out_text(kStdout, index + 1 < g_machines ? ",\r\n" : "\r\n");
    } else
        print_table_row(g_sorted[index], refused);
    if (library.baseline)
        g_rows[index] = heap_copy(g_row.text());
    forget_answers();
    return loaded;
}

namespace {

// The tree that was loaded before, kept in the temporary folder.
struct SavedTree {
    char path[kProfilePathSize];
};

} // namespace

static bool save_tree(SavedTree &tree)
{
    static char error[kProfileErrorSize];
    if (profile_save(tree.path, error))
        return true;
    library_problem("%s%s", "the tree loaded now cannot be kept: ", error);
    return false;
}

static int put_tree_back(const SavedTree &tree)
{
    static char error[kProfileErrorSize];
    if (!profile_load(tree.path, error))
        return library_problem("the tree loaded before cannot be put back: %s; it stays in %s", error, tree.path);
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
    int status = list_machines(library.machines);
    if (status == kSame && library.baseline)
        status = read_baseline(library.baseline);
    if (status != kSame)
        return status;
    DWORD error;
    UniqueModule dll(load_kxvozada(error));
    Exports exports;
    if (!dll || !find_exports(dll.get(), exports)) {
        library_windows_problem("KXVozaDa.dll", dll ? ERROR_PROC_NOT_FOUND : error,
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
    int compared = library.baseline ? compare_with_baseline(library.baseline, g_rows, g_sorted, g_machines,
                                                            library.json ? kStderr : kStdout)
                                    : kSame;
    for (int i = 0; i < g_machines; ++i)
        if (g_rows[i])
            HeapFree(GetProcessHeap(), 0, g_rows[i]);
    return status == kFailed ? kFailed : compared;
}
