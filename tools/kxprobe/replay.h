// What a replayed machine says of itself: read while its profile loads,
// the captured machine's answers (profile/replay_text.h) and the order of
// its keys (profile/tree_order.h); after the questions, set beside the
// replay's own answers and said before them.
#pragma once

#include "questions.h"

#include "profile/tree_order.h"

struct ProfileReader;

// Begins reading a profile anew; hand it to profile_load.
const ProfileReader *replay_reader();

// Once the profile has loaded: the replayed registry, in the order Wine
// lists it, beside the profile's.
void replay_read_registry();

// The questions whose answers Wine's order may change, for the machine
// just read.
void replay_order_notes(const char *dvd_text, OrderNote note, void *context);

// A sink that keeps the replay's answers to set them beside the captured
// ones, and hands each line on to `next`.
AnswerSink replay_answers(const AnswerSink &next);

// The report: whether the replay answers as the captured machine did, the
// answers that no replay reproduces beside the replay's, and what Wine's
// order may change; `profile` names the file.
void replay_report(const char *profile, const char *dvd_text);
