// The questions asked one by one through the DLL's exports, the card
// questions with the live device and the deciding line of the card file,
// the device questions with their traced lines when asked to.
#include "questions.h"

#include "card_pieces.h"
#include "output.h"

#include "base/text.h"
#include "base/unique.h"
#include "inventory/card_line.h"
#include "inventory/dvd_drive.h"
#include "inventory/pci_query.h"
#include "inventory/walk.h"
#include "tools/exports/export_table.h"

#include <cstdio>
#include <cstring>

static const Argument kNoArguments[1] = {};

// The answer's line is `question` = its value, then `rest`.
static void say_answer(const AnswerSink &sink, const char *question, const char *name, const Argument *arguments,
                       int count, int value, const char *meaning, const char *rest)
{
    static Text line;
    const TextInUse in_use(line);
    text_format(line, "%s = %d%s", question, value, rest);
    sink.answer(sink.context, Answer{line.text(), question, name, arguments, count, value, meaning});
}

namespace {

// A run of device questions under AskOptions::trace, if any, ended when
// it goes out of scope.
class TraceRun {
public:
    explicit TraceRun(const QuestionTrace *trace) : trace_(trace && trace->open(trace->context) ? trace : nullptr) { }
    ~TraceRun()
    {
        if (trace_)
            trace_->close(trace_->context);
    }
    TraceRun(const TraceRun &) = delete;
    TraceRun &operator=(const TraceRun &) = delete;

    explicit operator bool() const { return trace_ != nullptr; }
    const TraceSink *sink() const { return trace_ ? &trace_->sink : nullptr; }
    void differs(Text &line, int answer, int dll_answer) const
    {
        if (trace_ && answer != dll_answer)
            trace_->differs(trace_->context, line, dll_answer);
    }
    void lines(const AnswerSink &answers) const
    {
        if (trace_)
            trace_->lines(trace_->context, answers);
    }

private:
    const QuestionTrace *trace_;
};

} // namespace

// The card questions, each with the live device's description and the line
// of its card file that decided; with a trace window the routine itself
// answers.
static void ask_cards(HMODULE dll, const TraceRun &trace, const AnswerSink &sink)
{
    for (const ExportRow &q : kExportTable) {
        auto ask = q.identify ? find_export<KXVOZADA_ASK_FN>(dll, q) : nullptr;
        if (!ask)
            continue;
        static char description[kTextSize];
        description[0] = 0;
        const int routine = q.identify(description, trace.sink());
        const int dll_answer = ask();
        const int answer = trace ? routine : dll_answer;
        static Text rest;
        const TextInUse in_use(rest);
        text_format(rest, ": %s", q.meaning(answer, 0));
        trace.differs(rest, answer, dll_answer);
        say_answer(sink, q.name, q.name, kNoArguments, 0, answer, q.meaning(answer, 0), rest.text());
        if (*description) {
            text_clear(rest);
            text_format(rest, "live device \"%s\"; %s ", description, card_file_name(q.card));
            deciding_line(q.card, description, rest);
            sink.detail(sink.context, rest.text());
        }
        trace.lines(sink);
    }
}

// The live device of a walk, as the DLL's questions find it, as a line
// under the answer; nothing when none matched.
static void say_live_device(const AnswerSink &sink, const WalkParams &params, const char *what, bool with_key)
{
    static WalkResult result;
    walk_devices(params, result);
    if (result.matched < 0)
        return;
    static Text line;
    const TextInUse in_use(line);
    text_format(line, "%s \"%s\"", what, result.candidates.slot[result.matched].description);
    if (with_key)
        text_format(line, " (%s)", result.live_hardware_key);
    sink.detail(sink.context, line.text());
}

// GetPCIInfo for each selector that names a field, with the live display
// adapter; with a trace window, the query routine itself answers.
static void ask_pci_info(HMODULE dll, const TraceRun &trace, const AnswerSink &sink)
{
    const ExportRow &row = export_row(Export::GetPCIInfo);
    auto ask = find_export<KXVOZADA_GETPCIINFO_FN>(dll, row);
    if (!ask)
        return;
    for (int selector = 0; selector < 3; ++selector) {
        int dll_answer = ask(selector);
        int answer = trace ? query_pci_identifier(selector, trace.sink()) : dll_answer;
        const char *meaning = row.meaning(answer, selector);
        static Text question, rest;
        const TextInUse question_in_use(question), rest_in_use(rest);
        text_format(question, "%s(%d)", row.name, selector);
        if (answer >= 0)
            text_format(rest, " (%04X)", answer);
        text_format(rest, ": %s", meaning);
        trace.differs(rest, answer, dll_answer);
        Argument argument = {Argument::number, selector, nullptr};
        say_answer(sink, question.text(), row.name, &argument, 1, answer, meaning, rest.text());
        say_live_device(sink, bus_walk(Bus::pci, "DISPLAY"), "live device", true);
        trace.lines(sink);
    }
}

// The drive test of the DLL, on a copy of the description so that the line
// shows it as it stands: it begins with the text, both upper-cased.
static bool drive_begins_with(Candidate &candidate, const char *, const void *upper_text)
{
    static char description[kTextSize];
    strcpy(description, candidate.description);
    _strupr(description);
    return !strncmp(description, (const char *)upper_text, strlen((const char *)upper_text));
}

// The DLL upper-cases the text in place once it has compared it with a live
// drive, so it gets a copy, and so does the routine when it traces.
static void ask_dvd_drive(HMODULE dll, const char *text, const TraceRun &trace, const AnswerSink &sink)
{
    const ExportRow &row = export_row(Export::IsDVDDrivePresent);
    auto ask = find_export<KXVOZADA_ISDVDDRIVEPRESENT_FN>(dll, row);
    UniqueHeap<char> buffer(heap_copy(text)), traced(heap_copy(text)), upper(heap_copy(text));
    if (!ask || !buffer || !traced || !upper)
        return;
    int dll_answer = ask(buffer.get());
    int answer = trace ? detect_dvd_drive(traced.get(), trace.sink()) : dll_answer;
    const char *meaning = row.meaning(answer, 0);
    static Text question, rest;
    const TextInUse question_in_use(question), rest_in_use(rest);
    text_format(question, "%s(\"%s\")", row.name, text);
    text_format(rest, ": %s; the text now reads \"%s\"", meaning, trace ? traced.get() : buffer.get());
    trace.differs(rest, answer, dll_answer);
    Argument argument = {Argument::text, 0, text};
    say_answer(sink, question.text(), row.name, &argument, 1, answer, meaning, rest.text());
    WalkParams params = bus_walk(Bus::scsi, "CDROM");
    params.accept = drive_begins_with;
    params.context = _strupr(upper.get());
    say_live_device(sink, params, "live drive", false);
    trace.lines(sink);
}

static void ask_file(HMODULE dll, const AskOptions &options, const AnswerSink &sink)
{
    const ExportRow &row = export_row(Export::IsFileAvailable);
    auto ask = find_export<KXVOZADA_ISFILEAVAILABLE_FN>(dll, row);
    if (!ask)
        return;
    const char *hex = options.signature;
    int length = hex ? (int)strlen(hex) / 2 : 0;
    UniqueHeap<unsigned char> signature(hex ? (unsigned char *)HeapAlloc(GetProcessHeap(), 0, length + 1) : nullptr);
    UniqueHeap<char> upper(hex ? heap_copy(hex) : nullptr);
    if (hex && (!signature || !upper))
        return text_out_of_memory();
    for (int i = 0; i < length; ++i)
        signature.get()[i] = (unsigned char)(hex_digit_value(hex[2 * i]) << 4 | hex_digit_value(hex[2 * i + 1]));
    int answer = ask(options.file, signature.get(), length);
    const char *meaning = row.meaning(answer, hex != nullptr);
    static Text question, rest;
    const TextInUse question_in_use(question), rest_in_use(rest);
    text_format(question, "%s(%s", row.name, options.file);
    if (hex)
        text_format(question, ", %s", CharUpperA(upper.get()));
    text_add(question, ")");
    text_format(rest, ": %s", meaning);
    Argument arguments[] = {{Argument::text, 0, options.file},
                            {hex ? Argument::text : Argument::null, 0, upper.get()},
                            {Argument::number, length, nullptr}};
    say_answer(sink, question.text(), row.name, arguments, 3, answer, meaning, rest.text());
}

// VERSION.DLL's functions would read it too, but nothing here imports
// beyond what the DLL itself may.
void dll_version(HMODULE dll, char *version, size_t size)
{
    lstrcpynA(version, "unknown", (int)size);
    HRSRC found = FindResourceA(dll, MAKEINTRESOURCEA(VS_VERSION_INFO), MAKEINTRESOURCEA(16)); // RT_VERSION
    HGLOBAL loaded = found ? LoadResource(dll, found) : nullptr;
    const BYTE *block = loaded ? (const BYTE *)LockResource(loaded) : nullptr;
    DWORD length = found ? SizeofResource(dll, found) : 0;
    // VS_VERSIONINFO: three WORDs, the key L"VS_VERSION_INFO" and its NUL,
    // padding to 32 bits, then VS_FIXEDFILEINFO.
    const DWORD fixed_at = (6 + sizeof(L"VS_VERSION_INFO") + 3) & ~3u;
    if (!block || length < fixed_at + sizeof(VS_FIXEDFILEINFO))
        return;
    VS_FIXEDFILEINFO fixed;
    memcpy(&fixed, block + fixed_at, sizeof(fixed));
    if (fixed.dwSignature != 0xfeef04bd)
        return;
    TextBuilder(version, size)
        .format("%lu.%lu.%lu.%lu", fixed.dwFileVersionMS >> 16, fixed.dwFileVersionMS & 0xffff,
                fixed.dwFileVersionLS >> 16, fixed.dwFileVersionLS & 0xffff);
}

// Names the DLL that answers, by its full path and the file version of its
// version resource, and, under it, each export it lacks. False when one is
// missing.
static bool say_dll(HMODULE dll, const AnswerSink &sink)
{
    static char path[MAX_PATH], version[32], folder[MAX_PATH];
    DWORD length = GetModuleFileNameA(dll, path, sizeof(path));
    path[length < sizeof(path) ? length : sizeof(path) - 1] = 0;
    dll_version(dll, version, sizeof(version));
    length = GetCurrentDirectoryA(sizeof(folder), folder);
    folder[length < sizeof(folder) ? length : 0] = 0;
    static Text line;
    const TextInUse in_use(line);
    text_format(line, "KXVozaDa.dll: %s, file version %s; card files and helpers from %s", path, version, folder);
    sink.dll(sink.context, line.text(), path, version, folder);
    bool complete = true;
    for (const ExportRow &row : kExportTable) {
        if (has_export(dll, row))
            continue;
        text_clear(line);
        text_format(line, "does not export %s: not asked", row.name);
        sink.detail(sink.context, line.text());
        complete = false;
    }
    return complete;
}

// The questions without arguments that have no routine of kxprobe's own
// behind them, asked through the DLL alone.
static void ask_untraced(HMODULE dll, const AnswerSink &sink)
{
    for (const ExportRow &q : kExportTable) {
        auto ask = q.identify ? nullptr : find_export<KXVOZADA_ASK_FN>(dll, q);
        if (!ask)
            continue;
        if (q.waits)
            sink.waiting(sink.context, q.waits);
        DWORD start = GetTickCount();
        int answer = ask();
        DWORD took = GetTickCount() - start;
        static Text rest;
        const TextInUse in_use(rest);
        text_format(rest, ": %s", q.meaning(answer, 0));
        if (q.waits)
            text_format(rest, " (took %lu ms)", took);
        say_answer(sink, q.name, q.name, kNoArguments, 0, answer, q.meaning(answer, 0), rest.text());
    }
}

bool ask_questions(HMODULE dll, const AskOptions &options, const AnswerSink &sink)
{
    bool complete = say_dll(dll, sink);
    {
        const TraceRun trace(options.trace);
        ask_cards(dll, trace, sink);
    }
    ask_untraced(dll, sink);
    {
        const TraceRun trace(options.trace);
        ask_pci_info(dll, trace, sink);
        ask_dvd_drive(dll, options.dvd_text, trace, sink);
    }
    if (options.file)
        ask_file(dll, options, sink);
    return complete;
}
