// The replay's names for live nodes, and the captured machine's answers
// written as comments and read back.
#include "profile/replay_text.h"

#include <cstring>

static const char kNodePrefix[] = "KX replay ";
static const size_t kNodeDigits = 8;

void replay_node_name(unsigned long ordinal, char name[kReplayNodeNameSize])
{
    memcpy(name, kNodePrefix, sizeof kNodePrefix - 1);
    char *digits = name + sizeof kNodePrefix - 1;
    for (size_t i = kNodeDigits; i--; ordinal /= 10)
        digits[i] = char('0' + ordinal % 10);
    digits[kNodeDigits] = 0;
}

bool is_replay_node_name(const char *name)
{
    if (strncmp(name, kNodePrefix, sizeof kNodePrefix - 1))
        return false;
    const char *digits = name + sizeof kNodePrefix - 1;
    for (size_t i = 0; i < kNodeDigits; ++i)
        if (digits[i] < '0' || digits[i] > '9')
            return false;
    return digits[kNodeDigits] == 0;
}

// ---- writing the answers ----

void notes_put_line(RegeditOutput &out, const char *line, size_t length)
{
    regedit_put(out, "; ", 2);
    for (size_t start = 0, i = 0;; ++i) {
        if (i < length && line[i] != '\r' && line[i] != '\n')
            continue;
        regedit_put(out, line + start, i - start);
        if (i == length)
            break;
        regedit_put(out, " ", 1);
        start = i + 1;
    }
    regedit_put(out, "\r\n", 2);
}

static const char kCapturedBy[] = "Captured by ";
static const char kOn[] = " on ";
static const char kUnder[] = " under ";
static const char kDllLine[] = "KXVozaDa.dll: ";

void notes_header(RegeditOutput &line, const char *program, const char *date, const char *windows)
{
    regedit_put_text(line, kCapturedBy);
    regedit_put_text(line, program);
    regedit_put_text(line, kOn);
    regedit_put_text(line, date);
    regedit_put_text(line, kUnder);
    regedit_put_text(line, windows);
}

// ---- reading them ----

void notes_begin(CaptureNotes &notes)
{
    notes.found = notes.ended = notes.cut = false;
    notes.program[0] = notes.date[0] = notes.windows[0] = notes.dll_version[0] = 0;
    notes.dll_line = "";
    notes.count = 0;
    notes.used = 0;
}

static void copy_field(char *to, const char *from, size_t length)
{
    if (length >= kNotesFieldSize)
        length = kNotesFieldSize - 1;
    memcpy(to, from, length);
    to[length] = 0;
}

static bool is_digit(char c)
{
    return c >= '0' && c <= '9';
}

// "YYYY-MM-DD HH:MM:SS"
static bool is_date(const char *text)
{
    static const char kShape[] = "0000-00-00 00:00:00";
    for (size_t i = 0; i < sizeof kShape - 1; ++i)
        if (kShape[i] == '0' ? !is_digit(text[i]) : text[i] != kShape[i])
            return false;
    return true;
}

// The first comment line, "Captured by PROGRAM on DATE under WINDOWS".
static bool read_header(CaptureNotes &notes, const char *line)
{
    if (strncmp(line, kCapturedBy, sizeof kCapturedBy - 1))
        return false;
    const char *program = line + sizeof kCapturedBy - 1;
    const char *on = strstr(program, kOn);
    if (!on || on == program || !is_date(on + sizeof kOn - 1))
        return false;
    const char *date = on + sizeof kOn - 1;
    const char *under = date + 19;
    if (strncmp(under, kUnder, sizeof kUnder - 1))
        return false;
    copy_field(notes.program, program, size_t(on - program));
    copy_field(notes.date, date, 19);
    const char *windows = under + sizeof kUnder - 1;
    copy_field(notes.windows, windows, strlen(windows));
    return true;
}

// The last occurrence of `part` in `text` before `end`, or null.
static const char *last_before(const char *text, const char *end, const char *part)
{
    const char *found = nullptr;
    for (const char *at = text; (at = strstr(at, part)) && at < end; ++at)
        found = at;
    return found;
}

// "KXVozaDa.dll: PATH, file version V; card files and helpers from FOLDER"
static void read_dll_version(CaptureNotes &notes, const char *line)
{
    static const char kVersion[] = ", file version ";
    const char *from = last_before(line, line + strlen(line), "; card files and helpers from ");
    const char *version = from ? last_before(line, from, kVersion) : nullptr;
    if (version)
        copy_field(notes.dll_version, version + sizeof kVersion - 1, size_t(from - version) - (sizeof kVersion - 1));
}

// A copy of `length` bytes of `text` in the notes' own text, or null when
// it is full.
static const char *keep(CaptureNotes &notes, const char *text, size_t length)
{
    if (length >= sizeof notes.text - notes.used) {
        notes.cut = true;
        return nullptr;
    }
    char *copy = notes.text + notes.used;
    memcpy(copy, text, length);
    copy[length] = 0;
    notes.used += length + 1;
    return copy;
}

// One comment line after the header, kept in the notes' text at `line`.
static void read_note(CaptureNotes &notes, const char *line)
{
    if (!strncmp(line, "    ", 4)) {
        // Only the first detail that names the live device counts; the
        // rest (traced lines) say how, which a replay shows again.
        NoteAnswer *last = notes.count ? &notes.answers[notes.count - 1] : nullptr;
        if (last && !*last->device && !strncmp(line + 4, "live ", 5))
            last->device = line + 4;
        return;
    }
    if (!strncmp(line, kDllLine, sizeof kDllLine - 1) && !*notes.dll_line && !notes.count) {
        notes.dll_line = line;
        read_dll_version(notes, line);
    } else if (notes.count < kNotesMaxAnswers) {
        notes.answers[notes.count++] = NoteAnswer{line, "", false};
    } else {
        notes.cut = true;
    }
}

void notes_take_line(CaptureNotes &notes, const RegeditLine &line)
{
    if (notes.ended || line.kind == regedit_header || line.kind == regedit_nothing)
        return;
    // The notes are the comments right after the header; any other line
    // ends them, and so does a comment that they cannot hold.
    const char *text = (const char *)line.data;
    size_t length = line.length;
    if (length && *text == ' ')
        ++text, --length;
    const size_t used = notes.used;
    const char *kept = line.kind == regedit_comment && !memchr(text, 0, length) ? keep(notes, text, length) : nullptr;
    if (!kept) {
        notes.ended = true;
        return;
    }
    if (notes.found)
        return read_note(notes, kept);
    // The header is read from the copy and need not be kept.
    notes.used = used;
    notes.found = read_header(notes, kept);
    notes.ended = !notes.found;
}

// ---- setting a replay beside them ----

// Where an answer comes from that a replay of the hardware tree does not
// reproduce.
static const struct {
    const char *name, *source;
} kElsewhere[] = {
    {"IsWin95", "its Windows"},
    {"IsATIMotionComp", "its display driver"},
    {"IsInterleavedBob", "its display driver"},
    {"GetSystemID", "its helper programs"},
    {"IsFileAvailable", "its files"},
};

static const char *source_of(const char *question)
{
    const size_t length = strcspn(question, "(");
    for (const auto &elsewhere : kElsewhere)
        if (strlen(elsewhere.name) == length && !strncmp(question, elsewhere.name, length))
            return elsewhere.source;
    return nullptr;
}

// The captured answer to `question`, not yet compared: its line begins
// with the question and " = ", then the answer.
static NoteAnswer *find_answer(CaptureNotes &notes, const char *question, int &value)
{
    const size_t length = strlen(question);
    for (int i = 0; i < notes.count; ++i) {
        NoteAnswer &answer = notes.answers[i];
        const char *at = answer.line + length;
        if (answer.compared || strncmp(answer.line, question, length) || strncmp(at, " = ", 3))
            continue;
        at += 3;
        const bool negative = *at == '-';
        at += negative;
        if (!is_digit(*at))
            continue;
        long long number = 0;
        for (; is_digit(*at) && number <= 0x7fffffff; ++at)
            number = number * 10 + (*at - '0');
        if (number > 0x7fffffffLL + negative)
            continue;
        value = int(negative ? -number : number);
        return &answer;
    }
    return nullptr;
}

// How much of a card question's device line names the device: up to the
// card file that follows it, "live device "..."; AudCards.def line 4: ...".
static size_t device_name_length(const char *device)
{
    static const char *const kCardFiles[] = {"\"; AudCards.def ", "\"; VidCards.def "};
    for (const char *file : kCardFiles)
        if (const char *at = strstr(device, file))
            return size_t(at - device) + 1;
    return 0;
}

static NoteCause cause_of(const NoteAnswer &then, const ReplayAnswer &now, bool order_noted)
{
    if (!strcmp(then.device, now.device))
        return cause_dll;
    const size_t name = device_name_length(now.device);
    if (name && !strncmp(then.device, now.device, name) && then.device[name] == ';')
        return cause_card_files;
    return order_noted ? cause_order : cause_dll;
}

void notes_compare(CaptureNotes &notes, const ReplayAnswer &now, bool order_noted, NoteComparison &out)
{
    out = NoteComparison{note_not_captured, nullptr, 0, cause_none, source_of(now.question)};
    NoteAnswer *then = find_answer(notes, now.question, out.then_value);
    if (!then)
        return;
    then->compared = true;
    out.then = then;
    if (out.source)
        out.verdict = note_elsewhere;
    else if (out.then_value == now.value)
        out.verdict = note_same;
    else {
        out.verdict = note_differs;
        out.cause = cause_of(*then, now, order_noted);
    }
}
