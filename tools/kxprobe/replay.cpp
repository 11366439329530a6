// The replay's report on itself.
#include "replay.h"

#include "answers.h"
#include "output.h"

#include "inventory/registry.h"
#include "profile/profile.h"
#include "profile/replay_text.h"

#include <cstring>

static CaptureNotes g_notes;
static OrderTree g_order;

static void read_line(void *, const RegeditLine &line)
{
    notes_take_line(g_notes, line);
    order_take_line(g_order, line);
}

const ProfileReader *replay_reader()
{
    static const ProfileReader reader = {read_line, nullptr};
    notes_begin(g_notes);
    order_begin(g_order);
    return &reader;
}

// The instances of the device classes, as the DLL reads them.
static void read_instances(const char *bus_key, OrderBus bus)
{
    for_each_instance_key(bus_key, [&](const char *device, HKEY instance) {
        static char class_text[kRegistryTextSize], description[kRegistryTextSize];
        const bool has_class = read_value(instance, "Class", class_text);
        read_value(instance, "DeviceDesc", description);
        order_add_instance(g_order, order_replayed, bus, device, has_class ? class_text : nullptr, description);
    });
}

void replay_read_registry()
{
    order_end_lines(g_order);
    read_instances("Enum\\PCI", order_pci);
    read_instances("Enum\\SCSI", order_scsi);
    UniqueKey table(open_key(HKEY_DYN_DATA, "Config Manager\\Enum", KEY_READ));
    if (!table)
        return;
    static char node_name[kRegistryTextSize], hardware_key[kRegistryTextSize];
    for_each_subkey(table.get(), node_name, [&] {
        UniqueKey node(open_key(table.get(), node_name, KEY_READ));
        if (node && read_value(node.get(), "HardWareKey", hardware_key))
            order_add_live_node(g_order, hardware_key);
        return false;
    });
}

void replay_order_notes(const char *dvd_text, OrderNote note, void *context)
{
    order_notes(g_order, dvd_text, note, context);
}

// ---- the replay's own answers ----

namespace {

enum { kMaxAsked = 32 };

struct Asked {
    Text question, line, device;
    int value;
};

} // namespace

static Asked g_asked[kMaxAsked];
static int g_asked_count;
static char g_dll_version[64];
static const AnswerSink *g_next;

static void keep_dll(void *, const char *line, const char *path, const char *version, const char *folder)
{
    lstrcpynA(g_dll_version, version, sizeof g_dll_version);
    g_next->dll(g_next->context, line, path, version, folder);
}

static void keep_answer(void *, const Answer &answer)
{
    if (g_asked_count < kMaxAsked) {
        Asked &asked = g_asked[g_asked_count++];
        text_clear(asked.question);
        text_add(asked.question, answer.question);
        text_clear(asked.line);
        text_add(asked.line, answer.line);
        text_clear(asked.device);
        asked.value = answer.value;
    }
    g_next->answer(g_next->context, answer);
}

static void keep_detail(void *, const char *text)
{
    Asked *last = g_asked_count ? &g_asked[g_asked_count - 1] : nullptr;
    if (last && !last->device.length && !strncmp(text, "live ", 5))
        text_add(last->device, text);
    g_next->detail(g_next->context, text);
}

static void pass_waiting(void *, const char *text)
{
    g_next->waiting(g_next->context, text);
}

AnswerSink replay_answers(const AnswerSink &next)
{
    static AnswerSink kept;
    kept = next;
    g_next = &kept;
    g_asked_count = 0;
    g_dll_version[0] = 0;
    return AnswerSink{keep_dll, keep_answer, keep_detail, pass_waiting, nullptr};
}

// ---- the report ----

enum { kMaxOrderNotes = 8 };

static Text g_order_notes[kMaxOrderNotes];
static const char *g_order_exports[kMaxOrderNotes];
static int g_order_count;

static void keep_order_note(void *, const char *export_name, const char *line)
{
    if (g_order_count == kMaxOrderNotes)
        return;
    Text &note = g_order_notes[g_order_count];
    text_clear(note);
    text_format(note, "order: %s", line);
    g_order_exports[g_order_count++] = export_name;
}

static bool order_noted(const char *question)
{
    const size_t length = strcspn(question, "(");
    for (int i = 0; i < g_order_count; ++i)
        if (strlen(g_order_exports[i]) == length && !strncmp(g_order_exports[i], question, length))
            return true;
    return false;
}

static void say(const char *kind, const char *question, const int *then, const int *now, const char *why,
                const char *line)
{
    answers_replay(ReplayRecord{kind, question, then, now, why, line});
}

static const char *cause_text(const NoteComparison &comparison, Text &why)
{
    switch (comparison.cause) {
    case cause_card_files:
        text_add(why, "the card files changed");
        break;
    case cause_order:
        text_add(why, "Wine's order of the device keys, see the order line");
        break;
    default:
        if (!*g_notes.dll_version || !strcmp(g_notes.dll_version, g_dll_version))
            text_format(why, "KXVozaDa.dll, which answers otherwise at the same file version %s", g_dll_version);
        else
            text_format(why, "KXVozaDa.dll changed, file version %s then, %s now", g_notes.dll_version, g_dll_version);
    }
    return why.text();
}

static const char *device_or_none(const char *device)
{
    return *device ? device : "no live device";
}

static void say_comparison(const Asked &now, const NoteComparison &comparison)
{
    static Text line, detail, why_text;
    const TextInUse line_in_use(line), detail_in_use(detail), why_in_use(why_text);
    const char *question = now.question.text();
    if (comparison.verdict == note_elsewhere) {
        text_format(line, "%s = %d on the captured machine, from %s, which no replay has; %d here", question,
                    comparison.then_value, comparison.source, now.value);
        say("elsewhere", question, &comparison.then_value, &now.value, comparison.source, line.text());
        text_format(detail, "then: %s", comparison.then->line);
        answers_detail(detail.text());
        return;
    }
    const char *why = cause_text(comparison, why_text);
    text_format(line, "%s %d -> %d (likely cause: %s)", question, comparison.then_value, now.value, why);
    say("differs", question, &comparison.then_value, &now.value, why, line.text());
    text_format(detail, "then: %s", device_or_none(comparison.then->device));
    answers_detail(detail.text());
    text_clear(detail);
    text_format(detail, "now: %s", device_or_none(now.device.text()));
    answers_detail(detail.text());
}

// The capture's own line, and how the replay compares with it.
static void compare(const char *profile)
{
    static Text line;
    const TextInUse in_use(line);
    text_format(line, "%s: captured by %s on %s under %s", profile, g_notes.program, g_notes.date, g_notes.windows);
    text_format(line, *g_notes.dll_version ? ", asking KXVozaDa.dll %s" : ", %s",
                *g_notes.dll_version ? g_notes.dll_version : "without KXVozaDa.dll's answers");
    say("captured", nullptr, nullptr, nullptr, nullptr, line.text());
    if (g_notes.cut)
        answers_detail("the capture holds more than kxprobe reads: the rest of its answers are not compared");
    static NoteComparison comparisons[kMaxAsked];
    int compared = 0, differing = 0;
    for (int i = 0; i < g_asked_count; ++i) {
        const Asked &asked = g_asked[i];
        const ReplayAnswer now = {asked.question.text(), asked.line.text(), asked.value, asked.device.text()};
        notes_compare(g_notes, now, order_noted(asked.question.text()), comparisons[i]);
        compared += comparisons[i].verdict == note_same || comparisons[i].verdict == note_differs;
        differing += comparisons[i].verdict == note_differs;
    }
    text_clear(line);
    if (!differing) {
        text_format(line, "the replay answers as the captured machine did: %d answers compared", compared);
        say("same", nullptr, nullptr, nullptr, nullptr, line.text());
    }
    static const NoteVerdict kShown[] = {note_differs, note_elsewhere};
    for (NoteVerdict verdict : kShown)
        for (int i = 0; i < g_asked_count; ++i)
            if (comparisons[i].verdict == verdict)
                say_comparison(g_asked[i], comparisons[i]);
    for (int i = 0; i < g_notes.count; ++i) {
        if (g_notes.answers[i].compared)
            continue;
        text_clear(line);
        text_format(line, "asked on the captured machine, not in this replay: %s", g_notes.answers[i].line);
        say("not asked", nullptr, nullptr, nullptr, nullptr, line.text());
    }
}

// The file's name, without its folder.
static const char *file_name(const char *path)
{
    for (const char *at = path; *at; ++at)
        if (*at == '\\' || *at == '/' || *at == ':')
            path = at + 1;
    return path;
}

void replay_report(const char *path, const char *dvd_text)
{
    const char *profile = file_name(path);
    g_order_count = 0;
    replay_order_notes(dvd_text, keep_order_note, nullptr);
    if (g_notes.found) {
        compare(profile);
    } else {
        static Text line;
        const TextInUse in_use(line);
        text_format(line, "%s holds no answers of the captured machine: nothing to compare this replay with", profile);
        say("none", nullptr, nullptr, nullptr, nullptr, line.text());
    }
    for (int i = 0; i < g_order_count; ++i)
        say("order", *g_order_exports[i] ? g_order_exports[i] : nullptr, nullptr, nullptr, nullptr,
            g_order_notes[i].text());
    answers_end_replay();
    for (int i = 0; i < g_order_count; ++i)
        text_clear(g_order_notes[i]);
    for (int i = 0; i < g_asked_count; ++i) {
        Asked &asked = g_asked[i];
        text_clear(asked.question);
        text_clear(asked.line);
        text_clear(asked.device);
    }
}
