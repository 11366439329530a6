// --trace: the device questions traced to a window of kxprobe's, the
// window read back after each question.
#pragma once

#include "questions.h"

// The trace that AskOptions::trace takes for --trace.
const QuestionTrace *window_trace();

// Whether a trace window can be made; when not, `why` says so, with
// Windows' words.
bool can_trace(Text &why);
