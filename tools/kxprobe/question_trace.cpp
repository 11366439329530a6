// The trace window of --trace: a top-level window that is never shown,
// whose text collects what the routines trace, read back and emptied after
// each question.
#include "question_trace.h"

#include "output.h"

#include "base/text.h"
#include "base/unique.h"
#include "inventory/trace_window.h"

#include <cstring>

namespace {

// Message-only windows would do, but Windows before 2000 has none; a
// top-level window receives broadcasts, which go unanswered while it
// lives, so it does not live through GetSystemID, whose helpers may
// broadcast, or the DirectDraw questions: it is made for each run of
// device questions. It keeps the newest kTraceWindowSize - 1 characters,
// so the characters handed to it are counted to tell where it cut.
struct TraceWindow {
    HWND handle;
    unsigned long traced; // characters traced since the window was last read, line feeds included
};

} // namespace

static TraceWindow g_window;

static HWND make_window()
{
    return CreateWindowExA(0, "STATIC", "", WS_POPUP, 0, 0, 0, 0, nullptr, nullptr, GetModuleHandleA(nullptr), nullptr);
}

static bool open_window(void *context)
{
    TraceWindow &window = *(TraceWindow *)context;
    window.handle = make_window();
    window.traced = 0;
    return window.handle != nullptr;
}

static void close_window(void *context)
{
    TraceWindow &window = *(TraceWindow *)context;
    DestroyWindow(window.handle);
    window.handle = nullptr;
}

static void count_and_trace(void *context, const char *text)
{
    TraceWindow &window = *(TraceWindow *)context;
    window.traced += (window.traced ? 1 : 0) + (unsigned long)strlen(text);
    trace_to_window(window.handle, text);
}

static void say_differs(void *, Text &line, int dll_answer)
{
    text_format(line, " [but the DLL answers %d: this trace is of kxprobe's built-in copy]", dll_answer);
}

// Hands on the lines traced since the last call, marking where the window
// cut the oldest away, and empties the window for the next question.
static void say_lines(void *context, const AnswerSink &answers)
{
    TraceWindow &window = *(TraceWindow *)context;
    static char text[kTraceWindowSize];
    text[0] = 0;
    const int length = GetWindowTextA(window.handle, text, sizeof(text));
    if (length > 0 && window.traced > (unsigned long)length) {
        static Text cut;
        const TextInUse in_use(cut);
        text_format(cut, "... trace cut at %d characters: the %lu traced before these lines are not shown",
                    kTraceWindowSize - 1, window.traced - length);
        answers.detail(answers.context, cut.text());
    }
    if (length > 0) {
        for (char *line = text;; ++line) {
            char *feed = strchr(line, '\n');
            if (feed)
                *feed = 0;
            answers.detail(answers.context, line);
            if (!feed)
                break;
            line = feed;
        }
    }
    SetWindowTextA(window.handle, "");
    window.traced = 0;
}

const QuestionTrace *window_trace()
{
    static const QuestionTrace trace = {open_window, close_window, {count_and_trace, &g_window},
                                        say_differs, say_lines,    &g_window};
    return &trace;
}

bool can_trace(Text &why)
{
    const UniqueWindow window(make_window());
    const DWORD error = GetLastError();
    if (window)
        return true;
    // Wine fails it without a display, and without setting an error.
    text_add(why,
             "no trace window can be made here (under Wine, a prefix needs a display or the null graphics "
             "driver)");
    if (error) {
        text_add(why, ": ");
        text_windows_error(why, error);
    }
    return false;
}
