// The capture that kxcapture makes: this machine as kxprobe --capture
// writes it, the file that kxprobe --profile replays.
#pragma once

#include "profile/profile.h"

// Receives one answer line of the capture, without a line end, as it is
// asked.
typedef void (*CaptureLine)(void *context, const char *text);

// Captures this machine to the new file `path`, handing each answer line to
// `line` with `context`. False, with why in `error`, when it could not; no
// file is left then.
bool capture_machine(const char *path, CaptureLine line, void *context, char error[kProfileErrorSize]);
