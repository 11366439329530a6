// GetAudioCardID and GetGraphicsCardID: the card definition files read in
// text mode from the current folder, the live PCI devices of a registry
// fixture, every answer of both questions, and the routines' output buffer
// and trace lines.
#include "harness/harness.h"
#include "harness/ledger.h"
#include "inventory/card_id.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <string>
#include <vector>

namespace {

const char kAudioKey[] = "VEN_1E7C&DEV_5500&SUBSYS_55001E7C&REV_01";
const char kVideoKey[] = "VEN_1D5A&DEV_0412&SUBSYS_3F011D5A&REV_02";
const char kOtherVideoKey[] = "VEN_1D5A&DEV_0300&SUBSYS_00000000&REV_01";

std::string device(const char *key, const char *cls, const std::string &description)
{
    return std::string("[HKEY_LOCAL_MACHINE\\Enum\\PCI\\") + key + "\\BUS_00&DEV_0F&FUNC_00]\n\"Class\"=\"" + cls +
           "\"\n\"DeviceDesc\"=\"" + description + "\"\n\n";
}

std::string live_node(const char *node, const char *key)
{
    return std::string("[HKEY_DYN_DATA\\Config Manager\\Enum\\") + node + "]\n\"HardWareKey\"=\"PCI\\\\" + key +
           "\\\\BUS_00&DEV_0F&FUNC_00\"\n\n";
}

std::string live_hardware_key(const char *key)
{
    return std::string("PCI\\") + key + "\\BUS_00&DEV_0F&FUNC_00";
}

// A sound device and two display adapters installed; the sound device and
// the first adapter live.
std::string machine(const std::string &audio, const std::string &video)
{
    return "REGEDIT4\n\n" + device(kAudioKey, "Media", audio) + device(kOtherVideoKey, "DISPLAY", "Spare Adapter") +
           device(kVideoKey, "DISPLAY", video) + "[HKEY_DYN_DATA\\Config Manager\\Enum]\n\n" +
           live_node("C1000010", kVideoKey) + live_node("C1000020", kAudioKey);
}

struct Question {
    const char *export_name, *file;
};
const Question kAudio = {"GetAudioCardID", "AudCards.def"};
const Question kVideo = {"GetGraphicsCardID", "VidCards.def"};

struct LookupRow {
    const char *what;
    Question question;
    std::string description, file;
    int32_t expected;
};

void check_lookups(const std::vector<LookupRow> &rows)
{
    kx::TempCwd cwd;
    kx::Dll dll;
    for (const LookupRow &row : rows) {
        kx::load_machine(machine(row.description, row.description));
        cwd.write(row.question.file, row.file);
        EXPECT_EQ(row.expected, kx::call_export(dll, row.question.export_name)) << row.what;
        DeleteFileA(row.question.file);
    }
}

TEST(CardLookup, QualifyingLinesAndMatching)
{
    const std::string w1020(1020, 'W');
    check_lookups({
        {"audio: empty file", kAudio, "Wave Device PCI", "", 0},
        {"audio: example, last match wins", kAudio, "Wave Device PCI",
         "3 WAVE DEVICE\n7 WAVE DEVICE PCI 128\n# WAVE DEVICE\n5 wave device\n3 WAVE\n", 5},
        {"audio: 8 characters is too short", kAudio, "Abcde", "4 ABCDE\n", 0},
        {"audio: 9 characters counts", kAudio, "Abcdefgh", "4 ABCDEF\n", 4},
        {"audio: first character not a digit", kAudio, "Wave Device", "A WAVE DEVICE\n 3 WAVE DEVICE\n", 0},
        {"audio: separator not examined", kAudio, "Wave Device", "6xWAVE DEVICE\n", 6},
        {"audio: a later non-match does not reset", kAudio, "Wave Device", "6 WAVE DEVICE\n2 OTHER CARD\n", 6},
        {"audio: key longer than description", kAudio, "Wave", "6 WAVE DEVICE\n", 0},
        {"audio: folding a..z only", kAudio, "WAVE Device PCI", "8 wave device\n", 8},
        {"audio: accented letters not folded", kAudio, "CAF\xc9 AUDIO", "8 caf\xe9 audio\n", 0},
        {"audio: accented letters exact", kAudio, "Caf\xe9 Audio", "8 CAF\xe9 AUDIO\n", 8},
        {"audio: trailing blanks needed", kAudio, "Wave Device", "2 WAVE DEVICE  \n", 0},
        {"audio: trailing blanks present", kAudio, "Wave Device  PCI", "2 WAVE DEVICE  \n", 2},
        {"audio: identifier 0", kAudio, "Wave Device", "4 WAVE DEVICE\n0 WAVE DEVICE\n", 0},
        {"video: example", kVideo, "Graphics One Pro", "0.12.34.GRAPHICS ONE\n", 1234},
        {"video: only a leading 0 counts", kVideo, "Graphics One", "1.12.34.GRAPHICS ONE\n", -1},
        {"video: 8 characters is too short", kVideo, "Graphics", "0.12.34\n", -1},
        {"video: empty key text matches all", kVideo, "Anything", "0.12.34.\n", 1234},
        {"video: no match", kVideo, "Graphics Two", "0.12.34.GRAPHICS ONE\n", -1},
        {"video: empty file", kVideo, "Graphics Two", "", -1},
        {"video: identifier 0000", kVideo, "Graphics One", "0.00.00.GRAPHICS ONE\n", 0},
        {"video: last match wins", kVideo, "Graphics One", "0.99.99.GRAPHICS\n0.00.42.graphics one\n", 42},
        {"video: separators not examined", kVideo, "Graphics One", "0x12y34zGRAPHICS ONE\n", 1234},
        {"video: letter summed unvalidated", kVideo, "Name", "0.1x.34.NAME\n", 8234},
        {"video: blank summed unvalidated", kVideo, "Name", "0. 2.34.NAME\n", -15766},
        {"video: byte 0xff summed as 255", kVideo, "Name", "0.\xff" "0.00.NAME\n", 207000},
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

const char kAudioFile[] = "3 WAVE DEVICE\n5 WAVE DEVICE\n";
const char kVideoFile[] = "0.12.34.GRAPHICS ONE\n";

void put_card_files(const kx::TempCwd &cwd, bool present)
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
    const std::string live_table = "[HKEY_DYN_DATA\\Config Manager\\Enum]\n\n";
    const std::string devices =
        device(kAudioKey, "MEDIA", "Wave Device PCI") + device(kVideoKey, "DISPLAY", "Graphics One");
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
        {"no live-device table", "REGEDIT4\n\n" + devices, true, nullptr, 0, -2, -1, 0},
        // Every Windows of the NT family: the live-device table is looked
        // for even though no device could match.
        {"no hardware tree at all", "REGEDIT4\n\n", true, nullptr, 0, -2, -1, 0},
        {"nothing installed", "REGEDIT4\n\n" + live_table + live_node("C1", kAudioKey), false, nullptr, 0, 0, -1,
         0},
        {"installed, not live", "REGEDIT4\n\n" + devices + live_table + live_node("C1", kOtherVideoKey), false,
         nullptr, 0, 0, -1, 0},
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
            const std::string tag = std::string(row.what) + ", " + question->export_name;
            kx::Ledger ledger;
            kx::ResourceHooks hooks(dll.module(), ledger);
            if (row.fail)
                ledger.fail(row.fail, row.occurrence);
            EXPECT_EQ(question == &kAudio ? row.audio : row.video, kx::call_export(dll, question->export_name))
                << tag;
            EXPECT_EQ(row.fopens, ledger.count("fopen")) << tag;
            const bool opened = row.fopens && row.files && !(row.fail && !strcmp(row.fail, "fopen"));
            EXPECT_EQ(opened ? 1 : 0, ledger.count("fclose")) << tag;
            EXPECT_EQ("", ledger.problems()) << tag;
        }
    }
}

std::string lines(std::initializer_list<std::string> list)
{
    std::string text;
    for (const std::string &line : list)
        text += (text.empty() ? "" : "\n") + line;
    return text;
}

const char kBanner[] = "************************************* ";

// The routines behind both exports, linked from the same sources, with an
// output buffer and a trace window.
TEST(CardId, OutputBufferAndTraceLines)
{
    typedef int (*Routine)(char *, HWND);
    const std::string live = machine("Wave Device PCI", "Graphics One");
    const std::string long_description(1023, 'D');
    const std::string audio_key = live_hardware_key(kAudioKey), video_key = live_hardware_key(kVideoKey);
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
        {"audio, no live table", identify_audio_card, "REGEDIT4\n\n" + device(kAudioKey, "MEDIA", "Wave"), true,
         true, true, -2, "", "==> CANNOT OPEN CONFIG MANAGER ENUM KEY! <=="},
        {"audio, 1023 characters", identify_audio_card, machine(long_description, "Graphics One"), true, false,
         true, 0, long_description, ""},
        {"video, everything", identify_graphics_card, live, true, true, true, 1234, "Graphics One",
         lines({candidates, video_key, "  ", video_closing})},
        {"video, no output buffer", identify_graphics_card, live, false, true, true, 1234, "",
         lines({candidates, video_key, "  "})},
        {"video, no file", identify_graphics_card, live, true, true, false, -2, "", lines({candidates, video_key})},
        {"video, no live table", identify_graphics_card, "REGEDIT4\n\n" + device(kVideoKey, "DISPLAY", "Graphics"),
         true, true, true, -1, "", lines({"Graphics", kVideoKey, "==> CANNOT OPEN CONFIG MANAGER ENUM KEY! <=="})},
    };
    kx::TempCwd cwd;
    for (const auto &row : rows) {
        kx::load_machine(row.profile);
        put_card_files(cwd, row.files);
        kx::TraceWindow window;
        char output[1025];
        memset(output, 0xbd, sizeof(output));
        EXPECT_EQ(row.expected, row.routine(row.output ? output : nullptr, row.trace ? window.handle : nullptr))
            << row.what;
        if (row.stored.empty())
            EXPECT_EQ(std::string(sizeof(output), '\xbd'), std::string(output, sizeof(output))) << row.what;
        else
            EXPECT_EQ(row.stored, output) << row.what;
        EXPECT_EQ('\xbd', output[1024]) << row.what;
        EXPECT_EQ(row.traced, window.text()) << row.what;
    }
}

// Runs kxprobe with the command-line tail `args` in the folder `dir` and
// returns its exit code, with what it printed in `output`.
const char kCleanAudio[] = "; audio cards\r\n5 WAVE DEVICE\r\n3 WAVE DEVICE PCI\n\x1a";
const char kCleanVideo[] = "0.12.34.GRAPHICS ONE\n0.00.07.Graphics Two\n";

// Each trap gets its warning, on its line, and the exit status says so.
// More lines than --check-defs keeps in memory at once: an override within
// the first block, one across the boundary and one from the last line.
std::string lines_past_a_block()
{
    std::string video = "0.00.01.LONG KEY TEXT\n";
    for (int line = 2; line <= 70000; ++line) {
        char filler[32];
        snprintf(filler, sizeof(filler), "0.00.02.FILLER %05d\n", line);
        video += line == 65536 ? "0.00.04.EDGE CASE KEY\n" : line == 65537 ? "0.00.05.EDGE\n" : filler;
    }
    return video + "0.00.03.LONG\n";
}

TEST(CheckDefs, WarnsOfEveryTrap)
{
    const struct {
        const char *what;
        std::string audio, video;
        std::vector<std::string> printed; // each somewhere in the output
        DWORD status;
    } rows[] = {
        {"clean files", kCleanAudio, kCleanVideo,
         {"line 1: ignored: \"; audio cards\\n\"", "line 2: card 5, key text \"WAVE DEVICE\"",
          "line 3: card 3, key text \"WAVE DEVICE PCI\"", "line 2: card 7, key text \"GRAPHICS TWO\"", "\n0 warnings"},
         0},
        {"last line without line feed", "3 WAVE DEVICE", kCleanVideo,
         {"line 1: card 3, key text \"WAVE DEVIC\"",
          "line 1: warning: the last line has no line feed, so it loses its last real character \"E\"",
          "\n1 warning\r"},
         1},
        {"line longer than 1023", "1 " + std::string(1021, 'X') + "7 WAVE DEVICE\n", kCleanVideo,
         {"line 1: warning: longer than 1023 characters", "line 1 piece 2: card 7, key text \"WAVE DEVICE\"",
          "line 1 piece 2: warning: this piece of a long line counts as a card line of its own", "\n2 warnings"},
         1},
        {"too short", "3 WAVE\n", kCleanVideo,
         {"line 1: warning: looks like a card line but is ignored: a card line has at least 9 characters"}, 1},
        {"indented", " 3 WAVE DEVICE\n", kCleanVideo,
         {"line 1: warning: looks like a card line but is ignored: a card line begins in the first column"}, 1},
        {"video line not beginning with 0", kCleanAudio, "0.12.34.GRAPHICS ONE\n1.00.07.GRAPHICS TWO\n",
         {"line 2: warning: looks like a card line but is ignored: a VidCards.def card line begins with 0"}, 1},
        {"non-digit identifier", kCleanAudio, "0.1x.34.NAME\n",
         {"line 1: warning: identifier characters are not all digits; they are summed unchecked to 8234"}, 1},
        {"data after Ctrl-Z", "3 WAVE DEVICE\n\x1a\n5 WAVE DEVICE\n", kCleanVideo,
         {"line 1: card 3", "warning: the Ctrl-Z at byte 14 ends the data; what follows it is never read",
          "\n1 warning\r"},
         1},
        {"overridden by a shorter later key", "3 WAVE DEVICE PCI\n5 Wave Device\n", kCleanVideo,
         {"line 1: warning: never decides: the key text of line 2, \"WAVE DEVICE\", begins its own"}, 1},
        {"overridden by an empty key", kCleanAudio, "0.12.34.GRAPHICS ONE\n0.00.01.\n",
         {"line 1: warning: never decides: the key text of line 2, \"\", begins its own"}, 1},
        {"more lines than one block", kCleanAudio, lines_past_a_block(),
         {"line 1: warning: never decides: the key text of line 70001, \"LONG\", begins its own",
          "line 65536: warning: never decides: the key text of line 65537, \"EDGE\", begins its own",
          "line 70001: card 3, key text \"LONG\"", "\n2 warnings"},
         1},
        {"lone CR kept in the key", "3 WAVE DEVICE\r\r\n", kCleanVideo,
         {"line 1: card 3, key text \"WAVE DEVICE\\r\"", "0 warnings"}, 0},
    };
    kx::TempCwd cwd;
    for (const auto &row : rows) {
        cwd.write("AudCards.def", row.audio);
        cwd.write("VidCards.def", row.video);
        std::string output;
        EXPECT_EQ(row.status, kx::run_kxprobe("--check-defs " + cwd.path(), output)) << row.what << "\n" << output;
        for (const std::string &text : row.printed)
            EXPECT_NE(std::string::npos, output.find(text)) << row.what << ": no " << text << "\n" << output;
    }
}

TEST(CheckDefs, MissingFileAndCurrentFolder)
{
    kx::TempCwd cwd;
    cwd.write("VidCards.def", kCleanVideo);
    std::string output;
    EXPECT_EQ(1u, kx::run_kxprobe("--check-defs", output)) << output;
    EXPECT_NE(std::string::npos,
              output.find("AudCards.def:\r\n  warning: does not open; GetAudioCardID answers -1 for a live device"))
        << output;
    EXPECT_NE(std::string::npos, output.find("VidCards.def:\r\n  line 1: card 1234")) << output;
}

// --explain and the DLL read the same files to the same answer.
TEST(CheckDefs, ExplainAgreesWithTheDll)
{
    const struct {
        const char *what, *description;
        std::string audio, video;
        std::vector<std::string> printed;
    } rows[] = {
        {"several matches", "Wave Device PCI", "3 WAVE DEVICE\n5 wave device\n7 WAVE DEVICE PCI 128\n", kCleanVideo,
         {"search text \"WAVE DEVICE PCI\"", "line 1 matches: card 3", "line 2 matches: card 5",
          "GetAudioCardID = 5", "GetGraphicsCardID = -1"}},
        {"last line loses a character", "Wave Devicz", "4 WAVE DEVICE", "0.00.09.WAVE DEVICE",
         {"line 1 matches: card 4, key text \"WAVE DEVIC\"", "GetGraphicsCardID = 9"}},
        {"piece of a long line", "Wave Device", "1 " + std::string(1021, 'X') + "7 WAVE DEVICE\n",
         "0.12.34.\r\n0.1x.34.WAVE\r\n", {"line 1 piece 2 matches: card 7", "GetGraphicsCardID = 8234"}},
        {"Ctrl-Z", "Graphics One", "3 GRAPHICS ONE\n\x1a\n5 GRAPHICS ONE\n", "\x1a\n0.12.34.GRAPHICS ONE\n",
         {"GetAudioCardID = 3", "GetGraphicsCardID = -1"}},
        {"missing file", "Graphics One", "", "", {"does not open: GetAudioCardID = -1"}},
    };
    kx::TempCwd cwd;
    kx::Dll dll;
    for (const auto &row : rows) {
        kx::load_machine(machine(row.description, row.description));
        DeleteFileA("AudCards.def");
        DeleteFileA("VidCards.def");
        if (!row.audio.empty())
            cwd.write("AudCards.def", row.audio);
        if (!row.video.empty())
            cwd.write("VidCards.def", row.video);
        std::string output;
        EXPECT_EQ(0u, kx::run_kxprobe(std::string("--explain \"") + row.description + "\" " + cwd.path(), output))
            << row.what;
        for (const std::string &text : row.printed)
            EXPECT_NE(std::string::npos, output.find(text)) << row.what << ": no " << text << "\n" << output;
        for (const Question *question : {&kAudio, &kVideo}) {
            const std::string answer = std::string(question->export_name) + " = " +
                                       std::to_string(kx::call_export(dll, question->export_name)) + "\r\n";
            EXPECT_NE(std::string::npos, output.find(answer)) << row.what << ": no " << answer << "\n" << output;
        }
    }
}

// The sample files give the sample machine's live cards real identifiers,
// which kxprobe shows with the live description and the deciding line.
TEST(CheckDefs, SampleMachine)
{
    const std::string samples = std::string("Z:") + KX_SOURCE_DIR + "/samples/";
    kx::TempCwd cwd;
    for (const char *name : {"AudCards.def", "VidCards.def"})
        ASSERT_TRUE(CopyFileA((samples + name).c_str(), name, FALSE)) << name;
    std::string output;
    EXPECT_EQ(0u, kx::run_kxprobe("--check-defs", output)) << output;
    EXPECT_EQ(0u, kx::run_kxprobe("--profile " + samples + "machines/win98-pc.reg", output)) << output;
    for (const char *text :
         {"GetAudioCardID = 1: ", "    live device \"Generic PCI Wave Audio\"; AudCards.def line 4: \"1 Generic PCI Wave Audio\"",
          "GetGraphicsCardID = 1002: ",
          "    live device \"Generic Graphics Accelerator 3D AGP\"; VidCards.def line 6: \"0.10.02.Generic Graphics Accelerator 3D\""})
        EXPECT_NE(std::string::npos, output.find(text)) << "no " << text << "\n" << output;
}

} // namespace
