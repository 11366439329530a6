// GetAudioCardID and GetGraphicsCardID: the card definition files read in
// text mode from the current folder, the live PCI devices of a registry
// fixture, every answer of both questions, and the routines' output buffer
// and trace lines.
#include "harness/harness.h"
#include "harness/ledger.h"
#include "inventory/card_id.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

static const char kAudioKey[] = "VEN_1E7C&DEV_5500&SUBSYS_55001E7C&REV_01";
static const char kVideoKey[] = "VEN_1D5A&DEV_0412&SUBSYS_3F011D5A&REV_02";
static const char kOtherVideoKey[] = "VEN_1D5A&DEV_0300&SUBSYS_00000000&REV_01";

static std::string hardware_key(const char *key)
{
    return std::string("PCI\\") + key + "\\BUS_00&DEV_0F&FUNC_00";
}

// A sound device and two display adapters installed; the sound device and
// the first adapter live.
static std::string machine(const std::string &audio, const std::string &video)
{
    return kx::Machine()
        .device(hardware_key(kAudioKey), "Media", audio.c_str())
        .device(hardware_key(kOtherVideoKey), "DISPLAY", "Spare Adapter")
        .device(hardware_key(kVideoKey), "DISPLAY", video.c_str())
        .live_table()
        .live("C1000010", hardware_key(kVideoKey))
        .live("C1000020", hardware_key(kAudioKey))
        .text();
}

namespace {

struct Question {
    const char *export_name, *file;
};

} // namespace

static const Question kAudio = {"GetAudioCardID", "AudCards.def"};
static const Question kVideo = {"GetGraphicsCardID", "VidCards.def"};

namespace {

struct LookupRow {
    const char *what;
    Question question;
    std::string description, file;
    int32_t expected;
};

} // namespace

static void check_lookups(const std::vector<LookupRow> &rows)
{
    kx::TempCwd cwd;
    kx::Dll dll;
    for (const LookupRow &row : rows) {
        SCOPED_TRACE(row.what);
        kx::load_machine(machine(row.description, row.description));
        cwd.write(row.question.file, row.file);
        EXPECT_EQ(row.expected, kx::call_export(dll, row.question.export_name));
        DeleteFileA(row.question.file);
    }
}

// How each line counts and matches is checked natively (card_line_test);
// here, what the C runtime makes of the file and which line decides.
TEST(CardLookup, QualifyingLinesAndMatching)
{
    const std::string w1020(1020, 'W');
    check_lookups({
        {"audio: empty file", kAudio, "Wave Device PCI", "", 0},
        {"audio: example, last match wins", kAudio, "Wave Device PCI",
         "3 WAVE DEVICE\n7 WAVE DEVICE PCI 128\n# WAVE DEVICE\n5 wave device\n3 WAVE\n", 5},
        {"audio: a later non-match does not reset", kAudio, "Wave Device", "6 WAVE DEVICE\n2 OTHER CARD\n", 6},
        {"audio: identifier 0", kAudio, "Wave Device", "4 WAVE DEVICE\n0 WAVE DEVICE\n", 0},
        {"video: empty file", kVideo, "Graphics Two", "", -1},
        {"video: last match wins", kVideo, "Graphics One", "0.99.99.GRAPHICS\n0.00.42.graphics one\n", 42},
        {"audio: line of 1023 with its line feed", kAudio, w1020, "2 " + w1020 + "\n", 2},
        {"audio: line of 1024 loses a real character", kAudio, w1020 + "Q", "2 " + w1020 + "W\n", 2},
        {"audio: piece past 1023 counts alone", kAudio, "Wave Device",
         "1 " + std::string(1021, 'X') + "7 WAVE DEVICE\n", 7},
        {"audio: a NUL byte ends the line as read", kAudio, "Wave Devicz", std::string("4 WAVE DEVICE\0X\n", 16), 4},
        {"audio: NUL before the 9th character", kAudio, "Wave", std::string("4 WAVE\0DEVICE\n", 14), 0},
    });
}

// What CRTDLL's text mode makes of line ends and Ctrl-Z.
TEST(CardLookup, TextMode)
{
    check_lookups({
        {"CR LF like LF", kAudio, "Wave Device", "3 WAVE DEVICE\r\n", 3},
        {"CR LF video", kVideo, "Graphics One", "0.12.34.GRAPHICS ONE\r\n0.00.01.OTHER\r\n", 1234},
        {"lone CR stays in the key", kAudio, "Wave Device", "6 WAVE DEVICE\r\r\n", 0},
        {"lone CR does not end a line", kAudio, "Wave Device", "6 WAVE DEVICE\r5 OTHER CARD\n", 0},
        {"lone CR at the end is the lost character", kAudio, "Wave Device", "6 WAVE DEVICE\r", 6},
        {"last line without line feed loses E", kAudio, "Wave Devicz", "4 WAVE DEVICE", 4},
        {"with its line feed it keeps E", kAudio, "Wave Devicz", "4 WAVE DEVICE\n", 0},
        {"Ctrl-Z ends the data", kAudio, "Wave Device", "3 WAVE DEVICE\n\x1a\n5 WAVE DEVICE\n", 3},
        {"Ctrl-Z inside a line", kAudio, "Wave Devicz", "3 WAVE DEVICE\x1a\n5 WAVE DEVICZ\n", 3},
        {"Ctrl-Z first", kVideo, "Graphics One", "\x1a\n0.12.34.GRAPHICS ONE\n", -1},
    });
}

static const char kAudioFile[] = "3 WAVE DEVICE\n5 WAVE DEVICE\n";
static const char kVideoFile[] = "0.12.34.GRAPHICS ONE\n";

static void put_card_files(const kx::TempCwd &cwd, bool present)
{
    DeleteFileA("AudCards.def");
    DeleteFileA("VidCards.def");
    if (present) {
        cwd.write("AudCards.def", kAudioFile);
        cwd.write("VidCards.def", kVideoFile);
    }
}

// Every answer of both questions, the files opened only after a live
// device was found, and every key and stream released once, in order.
TEST(CardId, AnswersAndReleases)
{
    const kx::Machine devices = kx::Machine()
                                    .device(hardware_key(kAudioKey), "MEDIA", "Wave Device PCI")
                                    .device(hardware_key(kVideoKey), "DISPLAY", "Graphics One");
    const std::string live = machine("Wave Device PCI", "Graphics One");
    const struct {
        const char *what;
        std::string profile;
        bool files;
        const char *fail; // the ledger makes this call fail...
        int occurrence;   // ...the time it is made for this number, from 0
        int32_t audio, video;
        int fopens;
    } rows[] = {
        {"no live-device table", devices.text(), true, nullptr, 0, -2, -1, 0},
        // Every Windows of the NT family: the live-device table is looked
        // for even though no device could match.
        {"no hardware tree at all", kx::Machine().text(), true, nullptr, 0, -2, -1, 0},
        {"nothing installed", kx::Machine().live_table().live("C1", hardware_key(kAudioKey)).text(), false, nullptr, 0,
         0, -1, 0},
        {"installed, not live", kx::Machine(devices).live_table().live("C1", hardware_key(kOtherVideoKey)).text(),
         false, nullptr, 0, 0, -1, 0},
        {"live, files missing", live, false, nullptr, 0, -1, -2, 1},
        {"live, files present", live, true, nullptr, 0, 5, 1234, 1},
        {"live, fopen fails", live, true, "fopen", 0, -1, -2, 1},
        {"live, second fgets fails", live, true, "fgets", 1, 3, 1234, 1},
    };
    kx::TempCwd cwd;
    kx::Dll dll;
    for (const auto &row : rows) {
        kx::load_machine(row.profile);
        put_card_files(cwd, row.files);
        for (const Question *question : {&kAudio, &kVideo}) {
            SCOPED_TRACE(std::string(row.what) + ", " + question->export_name);
            kx::Watched watched(dll.module());
            if (row.fail)
                watched.ledger.fail(row.fail, row.occurrence);
            EXPECT_EQ(question == &kAudio ? row.audio : row.video, kx::call_export(dll, question->export_name));
            EXPECT_EQ(row.fopens, watched.ledger.count("fopen"));
            const bool opened = row.fopens && row.files && !(row.fail && !strcmp(row.fail, "fopen"));
            EXPECT_EQ(opened ? 1 : 0, watched.ledger.count("fclose"));
        }
    }
}

static std::string lines(std::initializer_list<std::string> list)
{
    std::string text;
    for (const std::string &line : list)
        text += (text.empty() ? "" : "\n") + line;
    return text;
}

static const char kBanner[] = "************************************* ";

// The routines behind both exports, linked from the same sources, with an
// output buffer and a trace window.
TEST(CardId, OutputBufferAndTraceLines)
{
    typedef int (*Routine)(char *, const TraceSink *);
    const std::string live = machine("Wave Device PCI", "Graphics One");
    const std::string long_description(1023, 'D');
    const std::string audio_key = hardware_key(kAudioKey), video_key = hardware_key(kVideoKey);
    const std::string candidates = lines({"Spare Adapter", kOtherVideoKey, "Graphics One", kVideoKey});
    const std::string closing = lines({" ", kBanner, "Wave Device PCI", kBanner, " "});
    const std::string video_closing = lines({" ", kBanner, "Graphics One", kBanner, " "});
    const struct {
        const char *what;
        Routine routine;
        std::string profile;
        bool output, trace, files;
        int32_t expected;
        std::string stored; // in the output buffer; empty: untouched
        std::string traced;
    } rows[] = {
        {"audio, everything", identify_audio_card, live, true, true, true, 5, "Wave Device PCI",
         lines({audio_key, "3 WAVE DEVICE", "5 WAVE DEVICE", closing})},
        {"audio, no output buffer", identify_audio_card, live, false, true, true, 5, "",
         lines({audio_key, "3 WAVE DEVICE", "5 WAVE DEVICE"})},
        {"audio, no trace window", identify_audio_card, live, true, false, true, 5, "Wave Device PCI", ""},
        {"audio, no file", identify_audio_card, live, true, true, false, -1, "", audio_key},
        {"audio, no live table", identify_audio_card, kx::Machine().device(audio_key, "MEDIA", "Wave").text(), true,
         true, true, -2, "", "==> CANNOT OPEN CONFIG MANAGER ENUM KEY! <=="},
        {"audio, 1023 characters", identify_audio_card, machine(long_description, "Graphics One"), true, false, true, 0,
         long_description, ""},
        {"video, everything", identify_graphics_card, live, true, true, true, 1234, "Graphics One",
         lines({candidates, video_key, "  ", video_closing})},
        {"video, no output buffer", identify_graphics_card, live, false, true, true, 1234, "",
         lines({candidates, video_key, "  "})},
        {"video, no file", identify_graphics_card, live, true, true, false, -2, "", lines({candidates, video_key})},
        {"video, no live table", identify_graphics_card, kx::Machine().device(video_key, "DISPLAY", "Graphics").text(),
         true, true, true, -1, "", lines({"Graphics", kVideoKey, "==> CANNOT OPEN CONFIG MANAGER ENUM KEY! <=="})},
    };
    kx::TempCwd cwd;
    for (const auto &row : rows) {
        SCOPED_TRACE(row.what);
        kx::load_machine(row.profile);
        put_card_files(cwd, row.files);
        kx::TraceWindow window;
        char output[1025];
        memset(output, 0xbd, sizeof(output));
        EXPECT_EQ(row.expected, row.routine(row.output ? output : nullptr, row.trace ? &window.sink : nullptr));
        if (row.stored.empty())
            EXPECT_EQ(std::string(sizeof(output), '\xbd'), std::string(output, sizeof(output)));
        else
            EXPECT_EQ(row.stored, output);
        EXPECT_EQ('\xbd', output[1024]);
        EXPECT_EQ(row.traced, window.text());
    }
}
