// kxprobe run as an installer author runs it: capturing a machine's
// hardware tree into a profile that replays it elsewhere, checking card
// definition files, asking a library of machines.
#include "harness/harness.h"
#include "profile/profile.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <set>
#include <string>
#include <vector>

using namespace std::string_literals;

// Runs kxprobe and keeps what it printed, its lines ended by LF alone, and
// those lines.
static std::string g_printed;
static std::vector<std::string> g_lines;

static DWORD kxprobe(const std::string &args, const char *version = nullptr)
{
    const kx::Ran ran = kx::run_kxprobe(args, version);
    g_printed = ran.text;
    g_printed.erase(std::remove(g_printed.begin(), g_printed.end(), '\r'), g_printed.end());
    g_lines = ran.lines;
    return ran.status;
}

static const std::string kSamples = kx::source_path("samples");

// The bundled sample machines, and the empty tree ("").
static std::vector<std::string> machines()
{
    const std::string folder = kSamples + "/machines/";
    std::vector<std::string> paths = {""};
    for (const std::string &name : kx::files_matching(folder + "*.reg"))
        paths.push_back(folder + name);
    return paths;
}

// The registry text of a capture: its lines but the comments.
static std::string registry_text(const std::string &capture)
{
    std::string text;
    for (const std::string &line : kx::lines(capture))
        if (line.compare(0, 1, ";"))
            text += line + "\n";
    return text;
}

TEST(Capture, LoadingACaptureAndCapturingAgainGivesTheSameFile)
{
    std::vector<std::string> rows = machines();
    ASSERT_GE(rows.size(), 2u) << "no sample machines";
    for (const std::string &machine : rows) {
        SCOPED_TRACE(machine);
        kx::TempCwd cwd;
        profile_clear();
        if (!machine.empty()) {
            kx::load_machine_file(machine);
            EXPECT_EQ(0u, kxprobe("--profile " + machine));
            EXPECT_EQ(0u, g_printed.find(machine.substr(machine.rfind('/') + 1) +
                                         " holds no answers of the captured machine: nothing to compare"));
        }
        // As a customer's Windows 95 runs it, trace window and all.
        EXPECT_EQ(0u, kxprobe("--capture first.reg --trace", "win95"));
        EXPECT_TRUE(kx::contains(g_printed, "IsWin95 = 1: Windows 95"));
        if (!machine.empty())
            EXPECT_TRUE(kx::contains(g_printed, "\n    Vendor ID: "));
        profile_clear();
        EXPECT_EQ(0u, kxprobe("--profile first.reg --capture second.reg"));
        EXPECT_EQ(0u, g_printed.find("first.reg: captured by kxprobe " KX_VERSION " on ")) << g_printed;
        EXPECT_TRUE(kx::contains(g_printed, "\nthe replay answers as the captured machine did: 7 answers compared\n"));
        EXPECT_TRUE(kx::contains(g_printed,
                                 "\nIsWin95 = 1 on the captured machine, from its Windows, which no replay "
                                 "has; 0 here\n    then: IsWin95 = 1: Windows 95\n"));
        std::string first = kx::read_file("first.reg");
        EXPECT_EQ(0u, first.find("REGEDIT4\r\n\r\n; Captured by kxprobe " KX_VERSION " on "));
        EXPECT_TRUE(kx::contains(first, "\r\n; IsWin95 = 1: Windows 95\r\n"));
        EXPECT_EQ(registry_text(first), registry_text(kx::read_file("second.reg")));
        if (!machine.empty()) {
            EXPECT_TRUE(kx::contains(first, "[HKEY_DYN_DATA\\Config Manager\\Enum]\r\n"));
            EXPECT_TRUE(kx::contains(first, "\"HardWareKey\"=\"PCI\\\\VEN_"));
        }
    }
    profile_clear();
}

// Live nodes listed in another order than Wine's: the first in the file
// decides for every program asking the replay, and a capture of it gives
// the nodes back by the same names, in the same order.
TEST(Replay, KeepsTheCapturedOrderOfLiveNodes)
{
    static const struct {
        const char *label;
        const char *first_device, *first_description, *second_device, *second_description, *cls;
        std::vector<std::pair<std::string, DWORD>> asked; // kxask's arguments and answer
        std::vector<std::string> printed;
    } rows[] = {
        {"two live audio devices",
         "VEN_1F00&DEV_0064\\BUS_00",
         "Example Sound Works Wave 64 PCI",
         "VEN_1E7C&DEV_5500\\BUS_00",
         "Generic PCI Wave Audio",
         "MEDIA",
         {{"GetAudioCardID", 3}},
         {"GetAudioCardID = 3: ", "    live device \"Example Sound Works Wave 64 PCI\"; AudCards.def line 6: "}},
        {"two live display adapters",
         "VEN_1D5A&DEV_0300\\BUS_00",
         "Example Graphics Co. Vista 4 PCI",
         "VEN_1D5A&DEV_0804\\BUS_01",
         "Example Graphics Co. Vista 8 AGP",
         "DISPLAY",
         {{"GetGraphicsCardID", 2001}, {"GetPCIInfo 1", 0x300}},
         {"GetGraphicsCardID = 2001: ", "GetPCIInfo(1) = 768 (0300): ",
          "    live device \"Example Graphics Co. Vista 4 PCI\" (PCI\\VEN_1D5A&DEV_0300\\BUS_00)"}},
    };
    kx::TempCwd cwd;
    for (const auto &row : rows) {
        SCOPED_TRACE(row.label);
        const std::string machine =
            kx::Machine()
                .device(std::string("PCI\\") + row.first_device, row.cls, row.first_description)
                .device(std::string("PCI\\") + row.second_device, row.cls, row.second_description)
                .live_table()
                .live("C2", std::string("PCI\\") + row.first_device)
                .live("C1", std::string("PCI\\") + row.second_device)
                .live("a node \"named\" [oddly]", "ROOT\\0")
                .live("KX replay 00000001", "ROOT\\1")
                .text();
        cwd.write("machine.reg", machine);
        const std::string replay = "--profile machine.reg --folder " + kSamples;
        EXPECT_EQ(0u, kxprobe(replay + " --capture back.reg --force"));
        for (const std::string &line : row.printed)
            EXPECT_TRUE(kx::contains(g_printed, "\n" + line));
        for (const auto &asked : row.asked)
            EXPECT_EQ(asked.second, kxprobe(replay + " --run \"" + kx::bin_dir() + "kxask.exe\" " + asked.first))
                << asked.first;
        std::vector<std::string> nodes;
        const std::string back = kx::read_file("back.reg");
        for (size_t at = 0; (at = back.find("\n[HKEY_DYN_DATA\\Config Manager\\Enum\\", at)) != std::string::npos;)
            nodes.push_back(back.substr(at + 1, back.find('\r', at) - at - 1)), ++at;
        EXPECT_EQ((std::vector<std::string>{"[HKEY_DYN_DATA\\Config Manager\\Enum\\C2]",
                                            "[HKEY_DYN_DATA\\Config Manager\\Enum\\C1]",
                                            "[HKEY_DYN_DATA\\Config Manager\\Enum\\a node \"named\" [oddly]]",
                                            "[HKEY_DYN_DATA\\Config Manager\\Enum\\KX replay 00000001]"}),
                  nodes);
    }
    profile_clear();
}

// A capture replayed with another card file: the answer that changed is
// named with the line that decided it then and now; the exit status says
// nothing of it.
TEST(Replay, NamesWhatChangedSinceTheCapture)
{
    kx::TempCwd cwd;
    const std::string machine = kSamples + "/machines/win98-two-displays-pc.reg";
    ASSERT_EQ(0u, kxprobe("--profile " + machine + " --folder " + kSamples + " --capture capture.reg"));
    cwd.write("AudCards.def", kx::read_file(kSamples + "/AudCards.def"));
    cwd.write("VidCards.def",
              kx::read_file(kSamples + "/VidCards.def") + "0.20.03.Example Graphics Co. Vista 8 AGP\r\n");
    EXPECT_EQ(0u, kxprobe("--profile capture.reg"));
    EXPECT_TRUE(kx::contains(
        g_printed,
        "\nGetGraphicsCardID 2002 -> 2003 (likely cause: the card files changed)\n"
        "    then: live device \"Example Graphics Co. Vista 8 AGP\"; VidCards.def line 8: \"0.20.02.Example "
        "Graphics Co. Vista 8\"\n"
        "    now: live device \"Example Graphics Co. Vista 8 AGP\"; VidCards.def line 9: \"0.20.03.Example "
        "Graphics Co. Vista 8 AGP\"\n"));
    EXPECT_FALSE(kx::contains(g_printed, "the replay answers as the captured machine did"));
    EXPECT_LT(g_printed.find(" -> "), g_printed.find("\nKXVozaDa.dll: "));
    EXPECT_EQ(0u, kxprobe("--profile capture.reg --json"));
    EXPECT_EQ(0u, g_printed.find("{\"replay\": [\n  {\"kind\": \"captured\", \"text\": \"capture.reg: captured by "))
        << g_printed;
    EXPECT_TRUE(kx::contains(g_printed,
                             "{\"kind\": \"differs\", \"question\": \"GetGraphicsCardID\", \"then\": "
                             "2002, \"now\": 2003, \"why\": \"the card files changed\", "));
    EXPECT_TRUE(kx::contains(g_printed, "\n],\n \"answers\": [\n  {\"export\": null, "));
    profile_clear();
}

TEST(Capture, AnUnwritableFileIsAUsageErrorAndNothingIsAsked)
{
    kx::TempCwd cwd;
    static const char *const rows[] = {"no\\such\\folder\\machine.reg", "."};
    for (const char *path : rows) {
        SCOPED_TRACE(path);
        EXPECT_EQ(2u, kxprobe(std::string("--capture ") + path));
        EXPECT_EQ(std::string::npos, g_printed.find("IsWin95"));
    }
}

// A description with the characters that JSON escapes.
static const kx::Machine kQuotingMachine =
    kx::Machine()
        .device("PCI\\VEN_1E7C&DEV_5500\\BUS_00", "MEDIA", "Wave \"Q\" \\ Audio \xe9")
        .live("C1", "PCI\\VEN_1E7C&DEV_5500\\BUS_00");

// The tests' texts use ANSI only from Latin-1, which is UTF-16 unchanged.
static std::string json_text(const std::string &text)
{
    std::string json = "\"";
    for (unsigned char c : text) {
        if (c == '"' || c == '\\')
            json += '\\';
        if (c >= 0x80)
            json += (char)(0xc0 | c >> 6), c = 0x80 | (c & 0x3f);
        json += (char)c;
    }
    return json + "\"";
}

// Every line of the text output is in the JSON: each answer as a record's
// "text", each line under it among its "details".
TEST(Json, CarriesEveryAnswerAndDetailOfTheText)
{
    kx::TempCwd cwd;
    kx::load_machine(kQuotingMachine);
    // More lines than the trace window keeps: the audio card's trace is cut.
    std::string audio;
    for (int line = 0; line < 600; ++line)
        audio += "0 FILLER LINE " + std::to_string(1000 + line) + "\n";
    cwd.write("AudCards.def", audio + "7 WAVE \"Q\"\n");
    // Arguments longer than any fixed line, and the lines holding them,
    // come out whole: in the text, the JSON and a capture's comments.
    const std::string dvd(5000, 'd');
    std::string signature, upper_signature;
    for (int i = 0; i < 1500; ++i)
        signature += "4d5a", upper_signature += "4D5A";
    const struct {
        std::string options, whole;
    } rows[] = {
        {"", ""},
        {"--trace", ""},
        {"--file AudCards.def --signature 3720", ""},
        {"--capture c.reg --force --dvd " + dvd,
         "IsDVDDrivePresent(\"" + dvd +
             "\") = 0: no live CD-ROM drive's description begins with it; the text now reads \"" + dvd + "\""},
        {"--file AudCards.def --signature " + signature, ", " + upper_signature + ") = 0: unreadable"},
    };
    for (const auto &row : rows) {
        const std::string &options = row.options;
        SCOPED_TRACE(options.substr(0, 60));
        EXPECT_EQ(0u, kxprobe(options));
        const std::string text = g_printed;
        const std::vector<std::string> lines = g_lines;
        EXPECT_TRUE(kx::contains(text, row.whole)) << text.substr(0, 200);
        if (kx::contains(options, "--capture"))
            EXPECT_TRUE(kx::contains(kx::read_file("c.reg"), "; " + row.whole + "\r\n"));
        EXPECT_EQ(options == "--trace"s, text.find("\n    ... trace cut at 8191 characters: the ") != std::string::npos)
            << text;
        EXPECT_EQ(0u, kxprobe("--json " + options));
        std::string json = g_printed;
        EXPECT_EQ(0u, json.find("{\"answers\": [\n  {\"export\": ")) << json;
        EXPECT_EQ(json.size() - 4, json.rfind("\n]}\n")) << json;
        size_t answers = 0;
        for (const std::string &line : lines) {
            bool detail = line.compare(0, 4, "    ") == 0;
            answers += !detail;
            // How long a call took differs between the two runs.
            size_t took = line.find(" (took ");
            std::string expected = detail ? json_text(line.substr(4)) : "\"text\": " + json_text(line.substr(0, took));
            if (took != std::string::npos)
                expected.pop_back();
            EXPECT_TRUE(kx::contains(json, expected));
        }
        size_t records = 0;
        for (size_t at = 0; (at = json.find("{\"export\": ", at)) != std::string::npos; ++at)
            ++records;
        EXPECT_EQ(answers, records);
        // The description's e acute of the ANSI code page, in UTF-8.
        EXPECT_TRUE(kx::contains(json, "Wave \\\"Q\\\" \\\\ Audio \xc3\xa9"));
    }
    profile_clear();
}

// A usage error is one line that names the option or the value, then a
// pointer to --help; --help and --version answer anywhere on the line.
TEST(CommandLine, ErrorsNameTheProblem)
{
    const std::string decoder = kSamples + "/machines/win98-decoder-pc.reg";
    // An argument whose trailing backslashes the program's command line
    // doubles before its closing quote: past what Wine takes.
    const std::string program = kx::bin_dir() + "kxprobe.exe", doubled = " x\" \"y" + std::string(20000, '\\');
    const struct {
        std::string tail;
        DWORD status;
        std::string printed; // how the output begins; with --output, that of out.log
    } rows[] = {
        {"--bogus", 2, "kxprobe: --bogus: no such option\nkxprobe --help lists the options\n"},
        {"--dvd x stray", 2, "kxprobe: stray: not an option\nkxprobe --help lists the options\n"},
        // CRTDLL ends a quoted part at "" (and keeps one quote of it).
        {"--dvd \"a\"\"b c\"", 2, "kxprobe: c: not an option\nkxprobe --help lists the options\n"},
        {"--file x --signature 4D5", 2,
         "kxprobe: --signature 4D5: give the bytes as pairs of hex digits, such as 4D5A\n"
         "kxprobe --help lists the options\n"},
        {"--signature 4D5A", 2, "kxprobe: --signature needs --file\nkxprobe --help lists the options\n"},
        {"--profile", 2, "kxprobe: --profile needs the FILE of a machine profile\nkxprobe --help lists the options\n"},
        {"--explain \"\"", 2,
         "kxprobe: --explain: the device description is empty\nkxprobe --help lists the options\n"},
        {"--check-defs --explain x", 2,
         "kxprobe: --explain: --check-defs and --explain are asked one at a time\nkxprobe --help lists the options\n"},
        {"--run", 2, "kxprobe: --run needs a PROGRAM to run\nkxprobe --help lists the options\n"},
        {"--baseline b.json", 2, "kxprobe: --baseline needs --library\nkxprobe --help lists the options\n"},
        {"--library m --trace", 2, "kxprobe: --trace does not go with --library\n"},
        {"--check-defs . --profile x.reg --json", 2, "kxprobe: --profile does not go with --check-defs\n"},
        {"--file x --signature \"\"", 2, "kxprobe: --signature \"\": give the bytes as pairs of hex digits"},
        {"--profile " + decoder + " --folder no\\such\\folder", 2, "kxprobe: --folder no\\such\\folder: "},
        {"--profile " + decoder + " --capture c.reg --run no-such-program.exe", 2,
         "kxprobe: cannot start no-such-program.exe: "},
        {"--capture exists.reg", 2, "kxprobe: --capture exists.reg: the file exists; add --force to replace it\n"},
        {"--output out.log --bogus", 2, "kxprobe: --bogus: no such option\n"},
        {"--output exists.reg --profile exists.reg", 2, "kxprobe: --output exists.reg: the file of --profile"},
        {"/?", 0, "usage: kxprobe "},
        {"-h --bogus", 0, "usage: kxprobe "},
        {"--folder no\\such\\folder", 2, "kxprobe: --folder no\\such\\folder: "},
        {"--run no-such-program.exe", 2, "kxprobe: cannot start no-such-program.exe: "},
        {"--profile " + decoder + " --capture c.reg --run " + program + doubled, 2,
         "kxprobe: --run " + program + ": the command line is " + std::to_string(program.size() + 40006) +
             " characters; Windows takes at most 32766\n"},
        {"--profile .", 2, "kxprobe: cannot read .: a folder, not a file\n"},
        {"--capture .", 2, "kxprobe: cannot write .: a folder, not a file\n"},
        {"--version", 0, "kxprobe " KX_VERSION "\n"},
        {"--bogus --version", 0, "kxprobe " KX_VERSION "\n"},
        {"--json --help", 0, "usage: kxprobe "},
    };
    kx::TempCwd cwd;
    cwd.write("exists.reg", "REGEDIT4\r\n");
    const std::string before = kx::capture_profile();
    for (const auto &row : rows) {
        SCOPED_TRACE(row.tail.substr(0, 100));
        EXPECT_EQ(row.status, kxprobe(row.tail));
        if (kx::contains(row.tail, "--output out.log")) {
            EXPECT_EQ("", g_printed);
            g_printed = kx::read_file("out.log");
            g_printed.erase(std::remove(g_printed.begin(), g_printed.end(), '\r'), g_printed.end());
        }
        EXPECT_EQ(0u, g_printed.find(row.printed)) << g_printed;
        // A usage or path error changes nothing.
        EXPECT_EQ(before, kx::capture_profile());
        EXPECT_EQ("REGEDIT4\r\n", kx::read_file("exists.reg"));
        EXPECT_EQ(INVALID_FILE_ATTRIBUTES, GetFileAttributesA("c.reg"));
    }
}

// --run lets a program of the user's ask the replayed machine, which Wine
// keeps only while a program runs, and passes its exit status on.
TEST(Run, AProgramAsksTheReplayedMachine)
{
    kx::TempCwd cwd;
    const std::string machine = kSamples + "/machines/win98-pc.reg";
    EXPECT_EQ(7514u, kxprobe("--profile " + machine + " --run \"" + kx::bin_dir() + "kxask.exe\" GetPCIInfo 0"))
        << g_printed;
    EXPECT_EQ(1042u, kxprobe("--profile " + machine + " --run \"" + kx::bin_dir() + "kxask.exe\" GetPCIInfo 1"))
        << g_printed;
    // The program's path is taken from where kxprobe was started.
    ASSERT_TRUE(kx::install("kxask.exe", "asker.exe") && kx::install("KXVozaDa.dll"));
    EXPECT_EQ(7514u, kxprobe("--profile " + machine + " --folder " + kSamples + " --run asker GetPCIInfo 0"))
        << g_printed;
}

// One card line added to a copy of the bundled VidCards.def: against the
// bundled library's baseline, the one machine whose answer it changes is
// named with the line that decided before and the one that decides now.
// The tree loaded before the run is there again after it.
TEST(Library, AnAddedCardLineIsNamedAgainstTheBaseline)
{
    static const struct {
        const char *added;
        DWORD status;
        const char *printed;
    } rows[] = {
        {"", 0,
         "win98-two-displays-pc.reg      1D5A   0804   0804      1     2002          0    1\n"
         "    GetAudioCardID: \"Generic PCI Wave Audio\", AudCards.def line 4: \"1 Generic PCI Wave Audio\"\n"
         "    GetGraphicsCardID: \"Example Graphics Co. Vista 8 AGP\", VidCards.def line 8: "
         "\"0.20.02.Example Graphics Co. Vista 8\"\n"},
        {"0.20.03.Example Graphics Co. Vista 8 AGP\r\n", 1,
         "win98-two-displays-pc.reg: GetGraphicsCardID 2002 -> 2003\n"
         "    before: VidCards.def line 8: \"0.20.02.Example Graphics Co. Vista 8\" "
         "(device \"Example Graphics Co. Vista 8 AGP\")\n"
         "    now: VidCards.def line 9: \"0.20.03.Example Graphics Co. Vista 8 AGP\" "
         "(device \"Example Graphics Co. Vista 8 AGP\")\n"
         "answers that differ from Z:"},
        // A line for the MEDIA device that no line named.
        {"5 Example Audio Labs\r\n", 1,
         "win98-unlisted-audio-pc.reg: GetAudioCardID 0 -> 5\n"
         "    before: AudCards.def no line matches (device \"Example Audio Labs Studio PCI\")\n"
         "    now: AudCards.def line 8: \"5 Example Audio Labs\" (device \"Example Audio Labs Studio PCI\")\n"},
    };
    kx::TempCwd cwd;
    kx::load_machine(kx::read_file(kSamples + "/machines/win98-decoder-pc.reg"));
    const std::string before = kx::capture_profile();
    for (const auto &row : rows) {
        SCOPED_TRACE(row.added);
        bool audio = row.added[0] == '5';
        cwd.write("AudCards.def", kx::read_file(kSamples + "/AudCards.def") + (audio ? row.added : ""));
        cwd.write("VidCards.def", kx::read_file(kSamples + "/VidCards.def") + (audio ? "" : row.added));
        EXPECT_EQ(row.status,
                  kxprobe("--library " + kSamples + "/machines --baseline " + kSamples + "/machines/baseline.json"));
        EXPECT_TRUE(kx::contains(g_printed, row.printed));
        size_t changes = 0;
        for (size_t at = 0; (at = g_printed.find(" -> ", at)) != std::string::npos; ++at)
            ++changes;
        EXPECT_EQ(row.status, changes) << g_printed;
        EXPECT_EQ(before, kx::capture_profile());
    }
    profile_clear();
}

// A library of one machine against baselines made from its own JSON: what
// each difference is called, and which baselines are refused before any
// machine is asked. A profile that does not load is reported in its row.
// The tree comes back in every case.
TEST(Library, ComparesEachFieldAndRefusesAnUnreadableBaseline)
{
    kx::TempCwd cwd;
    cwd.write("a.reg", kx::read_file(kSamples + "/machines/win98-decoder-pc.reg"));
    // FindFirstFileA finds this one by its short name, MACHIN~1.REG.
    cwd.write("machine.regx", "not a profile");
    const std::string before = kx::capture_profile();
    ASSERT_EQ(0u, kxprobe("--library . --json --folder " + kSamples)) << g_printed;
    const std::string json = g_printed;
    EXPECT_EQ(std::string::npos, json.find("machine.regx")) << json;
    auto edited = [&](const char *from, const char *to) {
        std::string text = json;
        size_t at = text.find(from);
        EXPECT_NE(std::string::npos, at) << from;
        return at == std::string::npos ? text : text.replace(at, strlen(from), to);
    };
    static const struct {
        const char *from, *to;
        DWORD status;
        const char *printed;
    } rows[] = {
        {"", "", 0, "every answer is as in "},
        {"\"IsBroadLogicPresent\": 1", "\"IsBroadLogicPresent\": 0", 1, "a.reg: IsBroadLogicPresent 0 -> 1\n"},
        {"\"GetPCIInfo(1)\": 1042, ", "", 1, "a.reg: GetPCIInfo(1) (none) -> 1042\n"},
        {"\"a.reg\"", "\"z.reg\"", 1, "a.reg: not in the baseline\nz.reg: in the baseline, not in the library\n"},
        {"\"IsDVDDrivePresent\": 0}", "\"IsDVDDrivePresent\": 0", 2,
         "baseline.json: line 2: not a machine's answers as kxprobe --library --json writes them\n"},
        {"]}\n", "", 2, "baseline.json: ends before its closing line\n"},
        {"{\"library\": [", "{\"machines\": [", 2, "baseline.json: line 1: not as kxprobe --library --json"},
    };
    for (const auto &row : rows) {
        SCOPED_TRACE(row.from);
        cwd.write("baseline.json", *row.from ? edited(row.from, row.to) : json);
        EXPECT_EQ(row.status, kxprobe("--library . --baseline baseline.json --folder " + kSamples));
        EXPECT_TRUE(kx::contains(g_printed, row.printed));
        EXPECT_EQ(before, kx::capture_profile());
    }
    cwd.write("b.reg", "REGEDIT4\r\n\r\nnot a key\r\n");
    cwd.write("baseline.json", json);
    EXPECT_EQ(2u, kxprobe("--library . --baseline baseline.json --folder " + kSamples));
    EXPECT_TRUE(kx::contains(g_printed, "\nb.reg                        refused: b.reg: line 3: "));
    EXPECT_TRUE(kx::contains(g_printed, "\nb.reg: not in the baseline\n"));
    EXPECT_EQ(before, kx::capture_profile());
    EXPECT_EQ(2u, kxprobe("--library . --baseline no-such.json"));
    EXPECT_EQ(0u, g_printed.find("kxprobe: " + cwd.path() + "\\no-such.json: ")) << g_printed;
    EXPECT_EQ(2u, kxprobe("--library no-such-folder"));
    EXPECT_EQ(0u, g_printed.find("kxprobe: " + cwd.path() + "\\no-such-folder: ")) << g_printed;
    ASSERT_TRUE(CreateDirectoryA("empty", nullptr));
    EXPECT_EQ(2u, kxprobe("--library empty"));
    EXPECT_EQ("kxprobe: " + cwd.path() + "\\empty: no machine profiles (*.reg) in this folder\n", g_printed);
    EXPECT_EQ(2u, kxprobe("--library . --baseline empty"));
    EXPECT_EQ("kxprobe: " + cwd.path() + "\\empty: a folder, not a file\n", g_printed);
    RemoveDirectoryA("empty");
}

// The bundled library in both forms: the machines in name order, each
// table row's cells and lines under it carried by that machine's JSON line;
// and which drives each --dvd text finds, a description that only begins
// like the text included.
TEST(Library, TheTableAndTheJsonSayTheSame)
{
    const std::string longer(9000, 'L'); // than any fixed line
    const struct {
        const char *dvd;
        const char *found; // the DVD answer of each machine, in name order
    } rows[] = {
        {nullptr, "01111"},
        {"Generic DVD-ROM DX-50", "01000"},
        {"generic dvd-rom dx-8", "10000"},
        {longer.c_str(), "00000"},
    };
    static const char *const kMachines[] = {"win98-decoder-pc.reg", "win98-dvd-prefix-pc.reg", "win98-pc.reg",
                                            "win98-two-displays-pc.reg", "win98-unlisted-audio-pc.reg"};
    kx::TempCwd cwd;
    for (const auto &row : rows) {
        SCOPED_TRACE(row.dvd ? std::string(row.dvd).substr(0, 60) : "default");
        std::string options = "--library " + kSamples + "/machines --folder " + kSamples;
        if (row.dvd)
            options += std::string(" --dvd \"") + row.dvd + "\"";
        EXPECT_EQ(0u, kxprobe(options));
        const std::string table = g_printed;
        EXPECT_TRUE(kx::contains(table, std::string("IsDVDDrivePresent(\"") +
                                            (row.dvd ? row.dvd : "Generic DVD-ROM DX-5") + "\")\n"));
        EXPECT_EQ(0u, kxprobe(options + " --json"));
        const std::string json = g_printed;
        size_t at = 0, line = 0;
        for (int i = 0; i < 5; ++i) {
            at = table.find(std::string("\n") + kMachines[i] + " ", at);
            ASSERT_NE(std::string::npos, at) << kMachines[i] << "\n" << table;
            size_t end = table.find('\n', at + 1);
            EXPECT_EQ(row.found[i], table[end - 1]) << table.substr(at, end - at);
            line = json.find("\n  {\"machine\": \"" + std::string(kMachines[i]) + "\", ", line);
            ASSERT_NE(std::string::npos, line) << kMachines[i] << "\n" << json;
            std::string record = json.substr(line, json.find('\n', line + 1) - line);
            EXPECT_TRUE(kx::contains(record, std::string("\"IsDVDDrivePresent\": ") + row.found[i] + "}"));
            // The lines under the row: each card question's device and line.
            for (size_t next = table.find("\n    ", end); next == end; next = table.find("\n    ", end)) {
                end = table.find('\n', next + 1);
                std::string detail = table.substr(next + 5, end - next - 5);
                size_t comma = detail.find("\", ");
                std::string device = detail.substr(detail.find('"') + 1, comma - detail.find('"') - 1);
                EXPECT_TRUE(kx::contains(record, "\"device\": " + json_text(device) +
                                                     ", \"line\": " + json_text(detail.substr(comma + 3)) + "}"));
            }
        }
    }
}

// Two audio devices whose keys begin alike, both matched by the live
// node: the later listed decides, and Wine lists them in the other order
// unless the profile already does. Said with --profile and in the rows of
// --library, never compared with a baseline.
TEST(Library, NamesWhatWinesOrderMayChange)
{
    auto machine = [](const char *first, const char *first_description, const char *second,
                      const char *second_description) {
        return kx::Machine()
            .device(std::string("PCI\\") + first + "\\BUS_00", "MEDIA", first_description)
            .device(std::string("PCI\\") + second + "\\BUS_00", "MEDIA", second_description)
            .live_table()
            .live("C1", "PCI\\VEN_1E7C&DEV_55001\\BUS_00")
            .text();
    };
    kx::TempCwd cwd;
    cwd.write("a-captured.reg", machine("VEN_1E7C&DEV_55001", "Example Sound Works Wave 64", "VEN_1E7C&DEV_5500",
                                        "Generic PCI Wave Audio"));
    cwd.write("b-sorted.reg", machine("VEN_1E7C&DEV_5500", "Generic PCI Wave Audio", "VEN_1E7C&DEV_55001",
                                      "Example Sound Works Wave 64"));
    const std::string note =
        "order: GetAudioCardID: PCI\\VEN_1E7C&DEV_5500 begins PCI\\VEN_1E7C&DEV_55001, the live "
        "node PCI\\VEN_1E7C&DEV_55001\\BUS_00 matches both, and the one listed later in "
        "Enum\\PCI decides: PCI\\VEN_1E7C&DEV_5500 as captured, PCI\\VEN_1E7C&DEV_55001 in "
        "Wine's order\n";
    EXPECT_EQ(0u, kxprobe("--profile a-captured.reg --folder " + kSamples));
    EXPECT_TRUE(kx::contains(g_printed, "\n" + note + "KXVozaDa.dll: "));
    EXPECT_EQ(0u, kxprobe("--profile b-sorted.reg --folder " + kSamples));
    EXPECT_FALSE(kx::contains(g_printed, "order: "));
    EXPECT_EQ(0u, kxprobe("--library . --folder " + kSamples));
    EXPECT_TRUE(kx::contains(g_printed, "\n    " + note + "b-sorted.reg "));
    auto count = [](const std::string &text, const std::string &part) {
        size_t found = 0;
        for (size_t at = 0; (at = text.find(part, at)) != std::string::npos; ++at)
            ++found;
        return found;
    };
    EXPECT_EQ(1u, count(g_printed, "order: ")) << g_printed;
    EXPECT_EQ(0u, kxprobe("--library . --json --folder " + kSamples));
    const std::string json = g_printed;
    EXPECT_TRUE(kx::contains(json,
                             "\"IsDVDDrivePresent\": 0, \"order\": [\"GetAudioCardID: PCI\\\\VEN_1E7C&DEV_5500 "
                             "begins "));
    EXPECT_EQ(1u, count(json, "\"order\": [")) << json;
    // Baselines with and without what the order may change compare equal.
    cwd.write("baseline.json", json);
    EXPECT_EQ(0u, kxprobe("--library . --folder " + kSamples + " --baseline baseline.json")) << g_printed;
    const size_t order = json.find(", \"order\": [");
    cwd.write("baseline.json", json.substr(0, order) + json.substr(json.find("]}", order) + 1));
    EXPECT_EQ(0u, kxprobe("--library . --folder " + kSamples + " --baseline baseline.json")) << g_printed;
    profile_clear();
}

// More machines than the library takes is said before any is asked.
TEST(Library, MoreThanAThousandMachinesAreRefused)
{
    kx::TempCwd cwd;
    for (int i = 0; i <= 1000; ++i)
        cwd.write(("m" + std::to_string(i) + ".reg").c_str(), "");
    EXPECT_EQ(2u, kxprobe("--library ."));
    EXPECT_EQ("kxprobe: " + cwd.path() + ": more than 1000 machine profiles; split the library\n", g_printed);
}

// The program's own splitting of its command line, seen in the text that
// IsDVDDrivePresent is asked about.
TEST(CommandLine, IsSplitTheWindowsWay)
{
    static const struct {
        const char *tail, *argument;
    } rows[] = {
        {"--dvd plain", "plain"},
        {"--dvd \"two words\"", "two words"},
        {"--dvd half\" quoted\"", "half quoted"},
        {"--dvd a\\b", "a\\b"},
        {"--dvd a\\\\\"b c\"", "a\\b c"},
        {"--dvd a\\\"b", "a\"b"},
        {"--dvd \"a\"\"b\"", "a\"b"},
        {"--dvd \"\"", ""},
        {"\t--dvd\t  tabbed  ", "tabbed"},
    };
    kx::TempCwd cwd;
    for (const auto &row : rows) {
        SCOPED_TRACE(row.tail);
        EXPECT_EQ(0u, kxprobe(row.tail));
        EXPECT_TRUE(kx::contains(g_printed, std::string("IsDVDDrivePresent(\"") + row.argument + "\") = "));
    }
    // A quoted program name ends at its closing quote.
    const kx::Ran version = kx::run("\"" + kx::bin_dir() + "kxprobe.exe\"--version");
    EXPECT_EQ(0u, version.status);
    EXPECT_EQ("kxprobe " KX_VERSION "\r\n", version.text);
}

// A wrong KXVozaDa.dll beside kxprobe: it says which file answered, names
// each export that the file lacks, asks the rest and fails. One without
// exports is told each of the .def's, in its order.
TEST(WrongDll, IsNamedWithWhatItLacks)
{
    static const struct {
        const char *dll;
        std::vector<std::string> asked;
        const char *traced; // --trace's GetPCIInfo(0) line ends so, as kxprobe's own routine answers otherwise
    } rows[] = {
        {"kxpartial.dll",
         {"GetPCIInfo(0) = 4660 (1234)", "GetPCIInfo(2) = 4662 (1236)", "IsWin95 = 1"},
         " [but the DLL answers 4660: this trace is of kxprobe's built-in copy]"},
        {"kxempty.dll", {}, nullptr},
    };
    // Every export of the real DLL is either lacking or answered.
    std::set<std::string> exports = kx::Dll().exports();
    kx::TempCwd cwd;
    ASSERT_TRUE(kx::install("kxprobe.exe"));
    cwd.write("machine.reg", "REGEDIT4\r\n");
    const std::string probe = "\"" + cwd.path() + "\\kxprobe.exe\"";
    for (const auto &row : rows) {
        SCOPED_TRACE(row.dll);
        ASSERT_TRUE(kx::install(row.dll, "KXVozaDa.dll"));
        const kx::Ran asked = kx::run(probe + " --file kxprobe.exe");
        const std::string &printed = asked.text;
        EXPECT_EQ(1u, asked.status);
        EXPECT_EQ(0u, printed.find("KXVozaDa.dll: " + cwd.path() +
                                   "\\KXVozaDa.dll, file version unknown; card "
                                   "files and helpers from " +
                                   cwd.path() + "\r\n"))
            << printed;
        for (const std::string &name : exports) {
            bool lacking =
                printed.find(std::string("    does not export ") + name + ": not asked\r\n") != std::string::npos;
            bool answered = printed.find(std::string("\n") + name) != std::string::npos;
            EXPECT_NE(lacking, answered) << name << "\n" << printed;
        }
        for (const std::string &line : row.asked)
            EXPECT_TRUE(kx::contains(printed, line));
        std::string lacking;
        for (const kx::DefExport &listed : kx::def_exports())
            lacking += "    does not export " + listed.name + ": not asked\r\n";
        EXPECT_EQ(row.asked.empty(), printed.find(lacking) != std::string::npos) << printed;
        const kx::Ran traced = kx::run(probe + " --trace");
        EXPECT_EQ(1u, traced.status);
        const auto pci = std::find_if(traced.lines.begin(), traced.lines.end(),
                                      [](const std::string &line) { return !line.rfind("GetPCIInfo(0) = ", 0); });
        EXPECT_EQ(row.traced != nullptr, pci != traced.lines.end()) << traced.text;
        if (row.traced && pci != traced.lines.end())
            EXPECT_EQ(row.traced, pci->substr(pci->size() - std::min(pci->size(), strlen(row.traced))));
        const kx::Ran library = kx::run(probe + " --library .");
        EXPECT_EQ(1u, library.status);
        EXPECT_EQ("kxprobe: KXVozaDa.dll: " + kx::windows_error(ERROR_PROC_NOT_FOUND) + "\r\n", library.text);
    }
    // Windows' words name the file that did not load in place of their %1.
    std::string bad_format = kx::windows_error(ERROR_BAD_EXE_FORMAT);
    bad_format.replace(bad_format.find("%1"), 2, cwd.path() + "\\KXVozaDa.dll");
    cwd.write("KXVozaDa.dll", "not a DLL");
    const kx::Ran asked = kx::run(probe), library = kx::run(probe + " --library .");
    EXPECT_EQ(1u, asked.status);
    EXPECT_EQ("kxprobe: cannot load KXVozaDa.dll: " + bad_format + "\r\n", asked.text);
    EXPECT_EQ(1u, library.status);
    EXPECT_EQ("kxprobe: KXVozaDa.dll: " + bad_format + "\r\n", library.text);
}

// kxprobe --check-defs and --explain: what it says of card definition
// files, and that it reads them as the DLL does.
static const char kCleanAudio[] = "; audio cards\r\n5 WAVE DEVICE\r\n3 WAVE DEVICE PCI\n\x1a";
static const char kCleanVideo[] = "0.12.34.GRAPHICS ONE\n0.00.07.Graphics Two\n";

// Each trap gets its warning, on its line, and the exit status says so.
// More lines than --check-defs keeps in memory at once: an override within
// the first block, one across the boundary and one from the last line.
static std::string lines_past_a_block()
{
    std::string video = "0.00.01.LONG KEY TEXT\n";
    for (int line = 2; line <= 70000; ++line) {
        char filler[32];
        snprintf(filler, sizeof(filler), "0.00.02.FILLER %05d\n", line);
        video += line == 65536 ? "0.00.04.EDGE CASE KEY\n" : line == 65537 ? "0.00.05.EDGE\n" : filler;
    }
    return video + "0.00.03.LONG\n";
}

// `text` as Notepad saves Unicode: UTF-16 little-endian after its mark.
static std::string utf16(const std::string &text)
{
    std::string wide = "\xff\xfe";
    for (char c : text)
        wide += std::string(1, c) + '\0';
    return wide;
}

TEST(CheckDefs, WarnsOfEveryTrap)
{
    const struct {
        const char *what;
        std::string audio, video;
        std::vector<std::string> printed; // each somewhere in the output
        DWORD status;
        std::vector<std::string> absent = {}; // nowhere in the output
    } rows[] = {
        {"clean files",
         kCleanAudio,
         kCleanVideo,
         {"line 1: ignored: \"; audio cards\\n\"", "line 2: card 5, key text \"WAVE DEVICE\"",
          "line 3: card 3, key text \"WAVE DEVICE PCI\"", "line 2: card 7, key text \"GRAPHICS TWO\"",
          "\nAudCards.def: 2 card lines; VidCards.def: 2 card lines; 0 warnings\r\n"},
         0},
        {"last line without line feed",
         "3 WAVE DEVICE",
         kCleanVideo,
         {"line 1: card 3, key text \"WAVE DEVIC\"",
          "line 1: warning: the last line has no line feed, so it loses its last real character \"E\"",
          "; 1 warning\r\n"},
         1},
        {"line longer than 1023",
         "1 " + std::string(1021, 'X') + "7 WAVE DEVICE\n",
         kCleanVideo,
         {"line 1: warning: longer than 1023 characters", "line 1 piece 2: card 7, key text \"WAVE DEVICE\"",
          "line 1 piece 2: warning: this piece of a long line counts as a card line of its own", "; 2 warnings\r\n"},
         1},
        {"too short",
         "3 WAVE\n",
         kCleanVideo,
         {"line 1: warning: looks like a card line but is ignored: a card line has at least 9 characters"},
         1},
        {"indented",
         " 3 WAVE DEVICE\n",
         kCleanVideo,
         {"line 1: warning: looks like a card line but is ignored: a card line begins in the first column"},
         1},
        {"video line not beginning with 0",
         kCleanAudio,
         "0.12.34.GRAPHICS ONE\n1.00.07.GRAPHICS TWO\n",
         {"line 2: warning: looks like a card line but is ignored: a VidCards.def card line begins with 0"},
         1},
        {"non-digit identifier",
         kCleanAudio,
         "0.1x.34.NAME\n",
         {"line 1: warning: identifier characters are not all digits; they are summed unchecked to 8234"},
         1},
        {"data after Ctrl-Z",
         "3 WAVE DEVICE\n\x1a\n5 WAVE DEVICE\n",
         kCleanVideo,
         {"line 1: card 3", "warning: the Ctrl-Z at byte 14 ends the data; what follows it is never read",
          "; 1 warning\r\n"},
         1},
        {"overridden by a shorter later key",
         "3 WAVE DEVICE PCI\n5 Wave Device\n",
         kCleanVideo,
         {"line 1: warning: never decides: the key text of line 2, \"WAVE DEVICE\", begins its own"},
         1},
        {"overridden by an empty key",
         kCleanAudio,
         "0.12.34.GRAPHICS ONE\n0.00.01.\n",
         {"line 1: warning: never decides: the key text of line 2, \"\", begins its own"},
         1},
        {"more lines than one block",
         kCleanAudio,
         lines_past_a_block(),
         {"line 1: warning: never decides: the key text of line 70001, \"LONG\", begins its own",
          "line 65536: warning: never decides: the key text of line 65537, \"EDGE\", begins its own",
          "line 70001: card 3, key text \"LONG\"", "; 2 warnings\r\n"},
         1},
        {"lone CR kept in the key",
         "3 WAVE DEVICE\r\r\n",
         kCleanVideo,
         {"line 1: card 3, key text \"WAVE DEVICE\\r\"", "0 warnings"},
         0},
        {"UTF-8 byte-order mark",
         kCleanAudio,
         "\xef\xbb\xbf" + std::string(kCleanVideo),
         {"VidCards.def:\r\n  warning: the file begins with a UTF-8 byte-order mark, bytes EF BB BF, which the DLL "
          "reads as the first three characters of line 1: that line is ignored, where without them it is card 1234",
          "VidCards.def: 1 card line; 1 warning\r\n"},
         1},
        {"UTF-16",
         utf16("; audio cards\r\n5 WAVE DEVICE\r\n"),
         kCleanVideo,
         {"AudCards.def:\r\n  warning: the file is UTF-16 text, which the DLL reads a byte at a time as ANSI text",
          "AudCards.def: 0 card lines; VidCards.def: 2 card lines; 1 warning\r\n"},
         1,
         {"longer than 1023", "warning: a NUL byte"}},
        {"NUL bytes",
         "3 WAVE DEVICE\0X\n5 WAVE\0DEVICE\n"s,
         kCleanVideo,
         {"line 1: card 3, key text \"WAVE DEVIC\"\r\n  line 1: warning: a NUL byte at character 14 ends the line for "
          "the DLL, which reads only what comes before it, and drops the character before it, \"E\", in place of the "
          "line feed\r\n  line 2: ignored: \"5 WAVE\"\r\n  line 2: warning: a NUL byte at character 7"},
         1,
         {"longer than 1023", "piece"}},
        {"card digits and blanks",
         "12 Two Digit Audio\n4Nospace Audio\n",
         kCleanVideo,
         {"line 1: card 1, key text \" TWO DIGIT AUDIO\"\r\n  line 1: warning: the card digit is followed by \"2\", "
          "not a "
          "blank: the DLL reads card 1 and takes \"2\" for the separator, which is not part of the key text\r\n  line "
          "1: warning: the key text begins with a blank, so it matches only a description that begins with one",
          "line 2: card 4, key text \"OSPACE AUDIO\"", "; 3 warnings\r\n"},
         1},
        {"identifier part not 0.HH.LL.",
         kCleanAudio,
         "0.12.345.NAME\n",
         {"line 1: card 1234, key text \".NAME\"\r\n  line 1: warning: the identifier part \"0.12.345\" is not "
          "0.HH.LL.: "
          "the DLL does not look at the characters where the dots belong, and takes the key text from the ninth "
          "character on"},
         1},
    };
    kx::TempCwd cwd;
    for (const auto &row : rows) {
        SCOPED_TRACE(row.what);
        cwd.write("AudCards.def", row.audio);
        cwd.write("VidCards.def", row.video);
        const kx::Ran ran = kx::run_kxprobe("--check-defs " + cwd.path());
        EXPECT_EQ(row.status, ran.status) << ran.text;
        for (const std::string &text : row.printed)
            EXPECT_TRUE(kx::contains(ran.text, text));
        for (const std::string &text : row.absent)
            EXPECT_FALSE(kx::contains(ran.text, text));
    }
}

// A missing file is a warning; a folder that is not there is an error of
// the command line.
TEST(CheckDefs, MissingFileAndCurrentFolder)
{
    static const struct {
        const char *tail;
        DWORD status;
        const char *printed; // how the output begins
    } rows[] = {
        {"--check-defs", 1,
         "AudCards.def:\r\n  warning: does not open; GetAudioCardID answers -1 for a live device\r\nVidCards.def:\r\n"
         "  line 1: card 1234, key text \"GRAPHICS ONE\"\r\n  line 2: card 7, key text \"GRAPHICS TWO\"\r\n"
         "AudCards.def: does not open; VidCards.def: 2 card lines; 1 warning\r\n"},
        {"--check-defs --quiet", 1,
         "AudCards.def: warning: does not open; GetAudioCardID answers -1 for a live device\r\n"
         "AudCards.def: does not open; VidCards.def: 2 card lines; 1 warning\r\n"},
        {"--check-defs no-such-folder", 2, "kxprobe: --check-defs no-such-folder: no such folder\r\n"},
        {"--check-defs VidCards.def", 2, "kxprobe: --check-defs VidCards.def: a file, not a folder\r\n"},
        {"--explain \"Graphics One\"", 1,
         "search text \"GRAPHICS ONE\"\r\nAudCards.def:\r\n  does not open: GetAudioCardID = -1\r\n"},
        {"--explain x no-such-folder", 2, "kxprobe: --explain no-such-folder: no such folder\r\n"},
        {"--quiet", 2, "kxprobe: --quiet goes only with --check-defs\r\n"},
    };
    kx::TempCwd cwd;
    cwd.write("VidCards.def", kCleanVideo);
    for (const auto &row : rows) {
        SCOPED_TRACE(row.tail);
        const kx::Ran ran = kx::run_kxprobe(row.tail);
        EXPECT_EQ(row.status, ran.status) << ran.text;
        EXPECT_EQ(0u, ran.text.find(row.printed)) << ran.text;
    }
}

// A sound device and a display adapter, both live, both described as
// `description`.
static std::string live_cards(const char *description)
{
    return kx::Machine()
        .device("PCI\\VEN_1E7C&DEV_5500\\BUS_00", "MEDIA", description)
        .device("PCI\\VEN_1D5A&DEV_0412\\BUS_01", "DISPLAY", description)
        .live_table()
        .live("C1", "PCI\\VEN_1E7C&DEV_5500\\BUS_00")
        .live("C2", "PCI\\VEN_1D5A&DEV_0412\\BUS_01")
        .text();
}

// --explain and the DLL read the same files to the same answer.
TEST(CheckDefs, ExplainAgreesWithTheDll)
{
    const struct {
        const char *what, *description;
        std::string audio, video;
        std::vector<std::string> printed;
        DWORD status = 0;
    } rows[] = {
        {"several matches",
         "Wave Device PCI",
         "3 WAVE DEVICE\n5 wave device\n7 WAVE DEVICE PCI 128\n",
         kCleanVideo,
         {"search text \"WAVE DEVICE PCI\"", "line 1 matches: card 3", "line 2 matches: card 5", "GetAudioCardID = 5",
          "GetGraphicsCardID = -1"}},
        {"last line loses a character",
         "Wave Devicz",
         "4 WAVE DEVICE",
         "0.00.09.WAVE DEVICE",
         {"line 1 matches: card 4, key text \"WAVE DEVIC\"", "GetGraphicsCardID = 9"}},
        {"piece of a long line",
         "Wave Device",
         "1 " + std::string(1021, 'X') + "7 WAVE DEVICE\n",
         "0.12.34.\r\n0.1x.34.WAVE\r\n",
         {"line 1 piece 2 matches: card 7", "GetGraphicsCardID = 8234"}},
        {"Ctrl-Z",
         "Graphics One",
         "3 GRAPHICS ONE\n\x1a\n5 GRAPHICS ONE\n",
         "\x1a\n0.12.34.GRAPHICS ONE\n",
         {"GetAudioCardID = 3", "GetGraphicsCardID = -1"}},
        {"missing file", "Graphics One", "", "", {"does not open: GetAudioCardID = -1"}, 1},
        {"byte-order mark", "Graphics One", kCleanAudio, "\xef\xbb\xbf" + std::string(kCleanVideo), {"= -1\r\n"}},
        {"UTF-16", "Wave Device", utf16("5 WAVE DEVICE\r\n"), utf16("0.12.34.WAVE DEVICE\r\n"), {"= 0\r\n"}},
        {"NUL bytes", "Wave Devicx", "3 WAVE DEVICE\0X\n"s, "0.00.05.WAVE\0DEVICE\n"s, {"\"WAVE DEVIC\"", "\"WAV\""}},
        {"no blank after the digit", "Ospace Audio", "4Nospace Audio\n12 Ospace Audio\n", kCleanVideo, {"= 4\r\n"}},
    };
    static const char *const kQuestions[] = {"GetAudioCardID", "GetGraphicsCardID"};
    kx::TempCwd cwd;
    kx::Dll dll;
    for (const auto &row : rows) {
        SCOPED_TRACE(row.what);
        kx::load_machine(live_cards(row.description));
        DeleteFileA("AudCards.def");
        DeleteFileA("VidCards.def");
        if (!row.audio.empty())
            cwd.write("AudCards.def", row.audio);
        if (!row.video.empty())
            cwd.write("VidCards.def", row.video);
        const kx::Ran ran = kx::run_kxprobe(std::string("--explain \"") + row.description + "\" " + cwd.path());
        EXPECT_EQ(row.status, ran.status);
        for (const std::string &text : row.printed)
            EXPECT_TRUE(kx::contains(ran.text, text));
        for (const char *question : kQuestions) {
            const std::string answer =
                std::string(question) + " = " + std::to_string(kx::call_export(dll, question)) + "\r\n";
            EXPECT_TRUE(kx::contains(ran.text, answer));
        }
    }
}

// The sample files give the sample machine's live cards real identifiers,
// which kxprobe shows with the live description and the deciding line.
TEST(CheckDefs, SampleMachine)
{
    kx::TempCwd cwd;
    for (const char *name : {"AudCards.def", "VidCards.def"})
        cwd.write(name, kx::read_file(kSamples + "/" + name));
    const kx::Ran checked = kx::run_kxprobe("--check-defs");
    EXPECT_EQ(0u, checked.status) << checked.text;
    const kx::Ran ran = kx::run_kxprobe("--profile " + kSamples + "/machines/win98-pc.reg");
    EXPECT_EQ(0u, ran.status) << ran.text;
    for (const char *text :
         {"GetAudioCardID = 1: ",
          "    live device \"Generic PCI Wave Audio\"; AudCards.def line 4: \"1 Generic PCI Wave Audio\"",
          "GetGraphicsCardID = 1002: ",
          "    live device \"Generic Graphics Accelerator 3D AGP\"; VidCards.def line 6: \"0.10.02.Generic Graphics "
          "Accelerator 3D\""})
        EXPECT_TRUE(kx::contains(ran.text, text));
}
