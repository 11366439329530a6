#include "asking.h"

#include "answers.h"
#include "machine.h"
#include "output.h"
#include "question_trace.h"
#include "replay.h"

#include "tools/exports/export_table.h"

AskOptions ask_options(const Options &options)
{
    return AskOptions{options.dvd_text, options.file, options.signature, options.trace ? window_trace() : nullptr};
}

int check_trace(const Options &options)
{
    static Text why;
    const TextInUse in_use(why);
    if (!options.trace || can_trace(why))
        return kOk;
    out_format(kStderr, "kxprobe: --trace: %s\r\n", why.text());
    return kUsageError;
}

// With --profile, the replay's report comes before the answers, which are
// kept until it is written.
static Text g_held;

int ask_dll(const Options &options)
{
    if (options.json)
        answers_use_json();
    DWORD load_error;
    UniqueModule dll(load_kxvozada(load_error));
    if (!dll) {
        bool complete;
        int status = options.capture
                         ? capture(options.capture, ask_options(options), nullptr, load_error, nullptr, complete)
                         : kOk;
        windows_error("cannot load", "KXVozaDa.dll", load_error, kNoDll, dll_file("KXVozaDa.dll", load_error));
        return status == kOk ? kNoDll : status;
    }
    const bool replaying = options.profile != nullptr;
    const AnswerSink printed = printed_answers();
    const AnswerSink sink = replaying ? replay_answers(printed) : printed;
    if (replaying) {
        answers_follow_replay();
        out_capture(&g_held);
    }
    bool complete = true;
    int status = kOk;
    if (options.capture)
        status = capture(options.capture, ask_options(options), dll.get(), 0, &sink, complete);
    else
        complete = ask_questions(dll.get(), ask_options(options), sink);
    answers_finish();
    dll.reset();
    if (replaying) {
        out_capture(nullptr);
        replay_report(options.profile, options.dvd_text);
        out_write(kStdout, g_held.text(), g_held.length);
        text_clear(g_held);
    }
    if (!complete)
        out_text(kStderr, "kxprobe: KXVozaDa.dll lacks an export; see the first lines\r\n");
    return status != kOk ? status : complete ? kOk : kNoDll;
}
