// One pass of a load over a profile file: checked line by line, or
// written to the registry as it is read.
#pragma once

#include "profile/profile.h"
#include "profile/profile_common.h"

namespace profile_parts {

// A pass over a profile file: checking it; writing it; or writing back
// the capture of the tree as it was, which nothing stops.
enum Pass { check_pass, write_pass, restore_pass };

// Whether a load has been told to stop (profile_stop_when).
bool told_to_stop();

// Runs one pass over the profile `path`: `skipped` takes the number of
// keys outside the subtrees, and `reader` each line of a check, as
// profile_load hands them on.
KX_REGPARM bool run_pass(const char *path, char *error, Pass pass, unsigned long *skipped = nullptr,
                         const ProfileReader *reader = nullptr);

} // namespace profile_parts
