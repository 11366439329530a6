#include "inventory/card_id.h"
#include "inventory/card_lookup.h"
#include "inventory/walk.h"

#include <cstring>

// The graphics question traces each stored candidate: its description,
// then its device key name.
static void trace_candidate(const Candidate &candidate, const char *device_name, const void *trace)
{
    trace_line((const TraceSink *)trace, candidate.description);
    trace_line((const TraceSink *)trace, device_name);
}

// Both card questions trace the hardware key of each accepted match.
static bool trace_hardware_key(Candidate &, const char *hardware_key, const void *trace)
{
    trace_line((const TraceSink *)trace, hardware_key);
    return true;
}

namespace {

struct CardQuestion {
    const char *class_name;
    StoredCandidate stored;
    CardFile file;
    int no_live_table, no_device, no_file;
};

} // namespace

static const CardQuestion kAudioCard = {"MEDIA", nullptr, CardFile::audio, -2, 0, -1};
static const CardQuestion kGraphicsCard = {"DISPLAY", trace_candidate, CardFile::video, -1, -1, -2};

static const char kBanner[] = "************************************* ";

static void trace_closing_lines(const TraceSink *trace, const char *description)
{
    static const char *const kLines[] = {" ", kBanner, nullptr, kBanner, " "};
    for (const char *line : kLines)
        trace_line(trace, line ? line : description);
}

static int identify_card(const CardQuestion &question, char *output, const TraceSink *trace)
{
    WalkParams params = bus_walk(Bus::pci, question.class_name);
    params.stored = question.stored;
    params.accept = trace_hardware_key;
    params.context = trace;

    WalkResult walk;
    int result;

    walk_devices(params, walk);
    if (walk.outcome == WalkOutcome::live_table_unavailable) {
        trace_line(trace, "==> CANNOT OPEN CONFIG MANAGER ENUM KEY! <==");
        return question.no_live_table;
    }
    if (walk.matched < 0)
        return question.no_device;
    const char *description = walk.candidates.slot[walk.matched].description;
    if (!look_up_card(question.file, description, trace, result))
        return question.no_file;
    if (output) {
        strcpy(output, description);
        trace_closing_lines(trace, description);
    }
    return result;
}

int identify_audio_card(char *description, const TraceSink *trace)
{
    return identify_card(kAudioCard, description, trace);
}

int identify_graphics_card(char *description, const TraceSink *trace)
{
    return identify_card(kGraphicsCard, description, trace);
}
