// The device inventory walk and the PCI identifier question, over registry
// fixtures: GetPCIInfo through the real DLL with every key it opens checked
// by the ledger, and the walk, the query and the trace window run from the
// same sources, as kxprobe --trace runs them.
#include "harness/harness.h"
#include "harness/ledger.h"
#include "inventory/pci_query.h"
#include "inventory/trace_window.h"
#include "inventory/walk.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

namespace {

// One instance key below HKLM\Enum\PCI. `cls` and `description` are
// value data as kx::Machine writes it; null leaves the value out.
struct Instance {
    const char *device, *instance, *cls, *description;
};

} // namespace

// The live table holds one node per hardware key, named so that Wine
// enumerates them in the given order; a null key gives a node without a
// HardWareKey. Without `live_table` there is no Config Manager\Enum key.
static std::string machine(const std::vector<Instance> &instances, const std::vector<const char *> &live,
                           bool live_table = true)
{
    kx::Machine machine;
    machine.installed("PCI");
    for (const Instance &i : instances)
        machine.device("PCI\\" + std::string(i.device) + "\\" + i.instance, i.cls, i.description);
    if (!live_table)
        return machine.text();
    machine.live_table();
    for (size_t n = 0; n < live.size(); ++n) {
        char node[16];
        snprintf(node, sizeof(node), "C%02u", (unsigned)n);
        machine.live(node, live[n]).value("Problem", "hex:00,00,00,00");
    }
    return machine.text();
}

// The hardware key's device key: what lies between "PCI\" and the next
// backslash.
static std::string device_of(const std::string &hardware_key)
{
    return hardware_key.substr(4, hardware_key.find('\\', 4) - 4);
}

// Asks GetPCIInfo with the ledger watching; every key must come back.
static int32_t ask_pci_info(const kx::Dll &dll, int32_t selector)
{
    kx::Watched watched(dll.module());
    int32_t answer = kx::call_export(dll, "GetPCIInfo", {kx::arg(selector)});
    EXPECT_GT(watched.ledger.count("RegOpenKeyExA"), 0);
    return answer;
}

using kx::TraceWindow;

// The field itself is read natively (pci_field_test); here, that the answer
// and its trace line reach the caller.
TEST(GetPCIInfo, ReadsTheFieldOfTheLiveHardwareKey)
{
    static const struct {
        int32_t selector, expected;
        const char *trace;
    } rows[] = {
        {0, 0x12ab, "Vendor ID: 12AB"},
        {1, 0x34cd, "Device ID: 34cd"},
        {2, 0x5678, "SubSys ID: 5678"},
        {3, 0, ""},
    };
    kx::Dll dll;
    kx::load_machine(machine({{"VEN_12AB&DEV_34cd&SUBSYS_5678ABCD&REV_01", "0", "DISPLAY", "Adapter"}},
                             {"PCI\\VEN_12AB&DEV_34cd&SUBSYS_5678ABCD&REV_01\\000800"}));
    for (const auto &row : rows) {
        SCOPED_TRACE(row.trace);
        EXPECT_EQ(row.expected, ask_pci_info(dll, row.selector));
        TraceWindow window;
        EXPECT_EQ(row.expected, query_pci_identifier(row.selector, &window.sink));
        EXPECT_EQ(row.trace, window.text());
    }
}

// Which device keys become candidates, and which live node decides. Answers
// are vendor IDs: 0x1111 and 0x2222 name the two adapters.
TEST(GetPCIInfo, FindsTheLiveDisplayAdapter)
{
    const char *adapter1 = "PCI\\VEN_1111&DEV_0001\\BUS_01", *adapter2 = "PCI\\VEN_2222&DEV_0002\\BUS_02";
    const char *bridge = "PCI\\VEN_3333&DEV_0003\\BUS_00";
    static const struct {
        std::vector<Instance> instances;
        std::vector<const char *> live;
        int32_t expected;
    } rows[] = {
        {{{"VEN_1111&DEV_0001", "BUS_01", "Display", "A"}}, {adapter1}, 0x1111},
        {{{"VEN_1111&DEV_0001", "BUS_01", "display", nullptr}}, {adapter1}, 0x1111},
        {{{"VEN_1111&DEV_0001", "BUS_01", "DISPLAY ", "A"}}, {adapter1}, -1},
        {{{"VEN_1111&DEV_0001", "BUS_01", "MULTIDISPLAY", "A"}}, {adapter1}, -1},
        {{{"VEN_1111&DEV_0001", "BUS_01", "MEDIA", "A"}}, {adapter1}, -1},
        {{{"VEN_1111&DEV_0001", "BUS_01", nullptr, "A"}}, {adapter1}, -1},
        // a Class stored as bytes without a terminating zero
        {{{"VEN_1111&DEV_0001", "BUS_01", "hex:44,49,53,50,4c,41,59", "A"}}, {adapter1}, 0x1111},
        {{{"VEN_1111&DEV_0001", "BUS_01", "hex:44,49,53,50,4c,41,59,00,41", "A"}}, {adapter1}, 0x1111},
        // the candidate key is a case-sensitive prefix of the hardware key
        {{{"VEN_11", "BUS_01", "DISPLAY", "A"}}, {"PCI\\VEN_11\\X"}, 0x1100},
        {{{"VEN_11", "BUS_01", "DISPLAY", "A"}}, {adapter1}, 0x1111},
        {{{"VEN_11", "BUS_01", "DISPLAY", "A"}}, {"pci\\VEN_11\\X"}, -1},
        {{{"VEN_11", "BUS_01", "DISPLAY", "A"}}, {"PCI\\ven_11\\X"}, -1},
        {{{"VEN_11", "BUS_01", "DISPLAY", "A"}}, {"PCI\\VEN_1"}, -1},
        // the first live node that matches decides
        {{{"VEN_1111&DEV_0001", "BUS_01", "DISPLAY", "A"}, {"VEN_2222&DEV_0002", "BUS_02", "DISPLAY", "B"}},
         {adapter2, adapter1},
         0x2222},
        {{{"VEN_1111&DEV_0001", "BUS_01", "DISPLAY", "A"}, {"VEN_2222&DEV_0002", "BUS_02", "DISPLAY", "B"}},
         {bridge, adapter1, adapter2},
         0x1111},
        // nodes without a readable HardWareKey say nothing about the rest
        {{{"VEN_1111&DEV_0001", "BUS_01", "DISPLAY", "A"}}, {nullptr, "hex:", adapter1}, 0x1111},
        // registered but not live, nothing registered, no live table
        {{{"VEN_1111&DEV_0001", "BUS_01", "DISPLAY", "A"}}, {bridge}, -1},
        {{{"VEN_1111&DEV_0001", "BUS_01", "DISPLAY", "A"}}, {}, -1},
        {{}, {adapter1, adapter2}, -1},
    };
    kx::Dll dll;
    for (size_t i = 0; i < sizeof(rows) / sizeof(rows[0]); ++i) {
        SCOPED_TRACE(i);
        kx::load_machine(machine(rows[i].instances, rows[i].live));
        EXPECT_EQ(rows[i].expected, ask_pci_info(dll, 0));
    }
}

TEST(GetPCIInfo, NoLiveDeviceTable)
{
    kx::Dll dll;
    kx::load_machine(machine({{"VEN_1111&DEV_0001", "BUS_01", "DISPLAY", "A"}}, {}, false));
    EXPECT_EQ(-1, ask_pci_info(dll, 0));
    EXPECT_EQ(-1, ask_pci_info(dll, 5));
}

// Twenty display device keys fill the candidate table; more are ignored,
// and the instances of one device key count once.
TEST(GetPCIInfo, TwentyCandidates)
{
    static const struct {
        int devices, instances_each;
        const char *live;
        int32_t expected;
    } rows[] = {
        {20, 1, "PCI\\VEN_1019\\0", 0x1019},
        {21, 1, "PCI\\VEN_1019\\0", 0x1019},
        {21, 1, "PCI\\VEN_1020\\0", -1},
        {2, 25, "PCI\\VEN_1001\\0", 0x1001},
    };
    kx::Dll dll;
    for (const auto &row : rows) {
        std::vector<std::string> names;
        for (int d = 0; d < row.devices; ++d)
            for (int n = 0; n < row.instances_each; ++n)
                names.push_back("VEN_" + std::to_string(1000 + d) + "|" + std::to_string(10 + n));
        std::vector<Instance> instances;
        for (std::string &name : names) {
            name[name.find('|')] = 0;
            instances.push_back({name.c_str(), name.c_str() + strlen(name.c_str()) + 1, "DISPLAY", "A"});
        }
        SCOPED_TRACE(std::to_string(row.devices) + " devices, " + row.live);
        kx::load_machine(machine(instances, {row.live}));
        EXPECT_EQ(row.expected, ask_pci_info(dll, 0));
    }
}

// Values written with RegSetValueExA as they stand, without a terminating
// zero: the walk must not read past what it was given.
TEST(GetPCIInfo, UnterminatedHardwareKeys)
{
    static const struct {
        DWORD type;
        size_t size; // bytes written from the text, padded with 'x' before its tail
        const char *head, *tail;
        int32_t selector, expected;
    } rows[] = {
        // 2048 bytes fill the buffer; the last one gives way to the terminator
        {REG_BINARY, 2048, "PCI\\VEN_1234", "DEV_ABCD", 1, 0xabc},
        {REG_BINARY, 2047, "PCI\\VEN_1234", "DEV_ABCD", 1, 0xabcd},
        // one byte too many for the buffer: the node is unreadable
        {REG_BINARY, 2049, "PCI\\VEN_1234", "DEV_ABCD", 0, -1},
        // shorter than the key read before it into the same buffer
        {REG_BINARY, 12, "PCI\\VEN_1234", "", 1, 0},
        {REG_SZ, 12, "PCI\\VEN_1234", "", 1, 0},
    };
    kx::Dll dll;
    for (const auto &row : rows) {
        SCOPED_TRACE(std::to_string(row.size) + " bytes, type " + std::to_string(row.type));
        kx::load_machine(
            machine({{"VEN_1234", "0", "DISPLAY", "A"}}, {"PCI\\VEN_9999&DEV_5555&SUBSYS_00000000\\0", "PCI\\"}));
        std::string data = row.head + std::string(row.size - strlen(row.head) - strlen(row.tail), 'x') + row.tail;
        kx::set_value(HKEY_DYN_DATA, kx::live_node_key(2), "HardWareKey", row.type, data, true);
        EXPECT_EQ(row.expected, ask_pci_info(dll, row.selector));
    }
}

namespace {

// Enumeration and open failures that Wine does not produce, by subkey name.
struct Failures {
    const char *enum_name; // enumerating the index of this name fails
    LONG enum_status;
    bool enum_always;      // every enumeration fails
    const char *open_name; // opening this subkey fails
};

} // namespace

TEST(GetPCIInfo, SkipsWhatFailsAndGoesOn)
{
    static const struct {
        Failures failures;
        int32_t expected;
        int max_enum_calls;
    } rows[] = {
        {{"VEN_1111", ERROR_ACCESS_DENIED, false, nullptr}, 0x2222, 20},
        {{"BUS_01", ERROR_MORE_DATA, false, nullptr}, 0x2222, 20},
        // The replay names the live nodes C00 and C01 by their places.
        {{"KX replay 00000001", ERROR_ACCESS_DENIED, false, nullptr}, 0x2222, 20},
        {{"KX replay 00000002", ERROR_ACCESS_DENIED, false, nullptr}, 0x1111, 20},
        {{nullptr, 0, false, "VEN_1111"}, 0x2222, 20},
        {{nullptr, 0, false, "BUS_01"}, 0x2222, 20},
        {{nullptr, 0, false, "KX replay 00000001"}, 0x2222, 20},
        {{nullptr, 0, false, "KX replay 00000002"}, 0x1111, 20},
        {{nullptr, 0, false, "Enum\\PCI"}, -1, 20},
        {{nullptr, 0, false, "Config Manager\\Enum"}, -1, 20},
        // a registry that fails every enumeration still ends the walk
        {{nullptr, ERROR_ACCESS_DENIED, true, nullptr}, -1, 64},
        {{nullptr, ERROR_MORE_DATA, true, nullptr}, -1, 64},
    };
    // VEN_1111 is live first, unless a failure hides it; VEN_2222 is the
    // live node after it.
    kx::load_machine(machine({{"VEN_1111", "BUS_01", "DISPLAY", "A"}, {"VEN_2222", "BUS_02", "DISPLAY", "B"}},
                             {"PCI\\VEN_1111\\0", "PCI\\VEN_2222\\0"}));
    kx::Dll dll;
    for (size_t i = 0; i < sizeof(rows) / sizeof(rows[0]); ++i) {
        SCOPED_TRACE(i);
        kx::Watched watched(dll.module());
        const Failures &failures = rows[i].failures;
        int enum_calls = 0;
        kx::Hook<decltype(&RegEnumKeyExA)> enumerate(
            dll.module(), "ADVAPI32.dll", "RegEnumKeyExA",
            [&](HKEY key, DWORD index, LPSTR name, LPDWORD length, LPDWORD reserved, LPSTR cls, LPDWORD cls_length,
                PFILETIME written) {
                ++enum_calls;
                if (failures.enum_always)
                    return failures.enum_status;
                LONG status = enumerate.original()(key, index, name, length, reserved, cls, cls_length, written);
                if (status == ERROR_SUCCESS && failures.enum_name && !strcmp(name, failures.enum_name)) {
                    strcpy(name, "garbage");
                    return failures.enum_status;
                }
                return status;
            });
        kx::Hook<decltype(&RegOpenKeyExA)> open(dll.module(), "ADVAPI32.dll", "RegOpenKeyExA",
                                                [&](HKEY parent, LPCSTR name, DWORD options, REGSAM access, PHKEY key) {
                                                    if (failures.open_name && !strcmp(name, failures.open_name)) {
                                                        *key = (HKEY)(uintptr_t)0xdeadbeef;
                                                        return (LONG)ERROR_ACCESS_DENIED;
                                                    }
                                                    return open.original()(parent, name, options, access, key);
                                                });
        EXPECT_EQ(rows[i].expected, kx::call_export(dll, "GetPCIInfo", {kx::arg(0)}));
        EXPECT_LE(enum_calls, rows[i].max_enum_calls);
    }
}

namespace {

// What a question traces through the walk, as the test's callbacks do it:
// each stored candidate, and for each accepted match nothing, the live
// hardware key or a text of the caller's; candidates described "B" may be
// refused.
enum class MatchTrace { nothing, hardware_key, caller_text };
struct WalkTrace {
    const TraceSink *sink;
    MatchTrace match_trace;
    bool refuse_b;
    int *asked;
};

} // namespace

static void trace_stored(const Candidate &candidate, const char *device_name, const void *context)
{
    const WalkTrace &trace = *static_cast<const WalkTrace *>(context);
    trace_line(trace.sink, candidate.description);
    trace_line(trace.sink, device_name);
}

static bool accept_match(Candidate &candidate, const char *hardware_key, const void *context)
{
    const WalkTrace &trace = *static_cast<const WalkTrace *>(context);
    if (trace.refuse_b) {
        ++*trace.asked;
        if (!strcmp(candidate.description, "B"))
            return false;
    }
    if (trace.match_trace != MatchTrace::nothing)
        trace_line(trace.sink, trace.match_trace == MatchTrace::hardware_key ? hardware_key : "caller");
    return true;
}

// The walk's own result, for what the PCI question does not show: the
// candidate table, the matched slot and the walk's trace lines.
TEST(Walk, CandidatesMatchAndTrace)
{
    static const struct {
        std::vector<Instance> instances;
        std::vector<const char *> live;
        bool trace_candidates;
        MatchTrace match_trace;
        bool refuse_b;
        const char *candidates; // key=description, separated by |
        int matched;
        const char *live_key;
        const char *trace;
    } rows[] = {
        // two instances of one device key: one candidate, the first description
        {{{"VEN_1", "0", "DISPLAY", "first"}, {"VEN_1", "1", "DISPLAY", "second"}, {"VEN_2", "0", "DISPLAY", "two"}},
         {},
         true,
         MatchTrace::nothing,
         false,
         "PCI\\VEN_1=first|PCI\\VEN_2=two",
         -1,
         "",
         "first\nVEN_1\ntwo\nVEN_2"},
        // an instance of another class first does not make the description
        {{{"VEN_1", "0", "MEDIA", "sound"}, {"VEN_1", "1", "DISPLAY", "video"}},
         {"PCI\\VEN_1\\1"},
         false,
         MatchTrace::hardware_key,
         false,
         "PCI\\VEN_1=video",
         0,
         "PCI\\VEN_1\\1",
         "PCI\\VEN_1\\1"},
        // no DeviceDesc: an empty description, not the Class text
        {{{"VEN_1", "0", "display", nullptr}}, {}, false, MatchTrace::nothing, false, "PCI\\VEN_1=", -1, "", ""},
        // candidates 0, 1 and 2 all begin the node's key: the last one wins
        {{{"VEN_1", "0", "DISPLAY", "A"}, {"VEN_1&DEV_2", "0", "DISPLAY", "B"}, {"VEN_1&DEV_2&S", "0", "DISPLAY", "C"}},
         {"PCI\\VEN_1&DEV_2&S\\0", "PCI\\VEN_1\\0"},
         false,
         MatchTrace::caller_text,
         false,
         "PCI\\VEN_1=A|PCI\\VEN_1&DEV_2=B|PCI\\VEN_1&DEV_2&S=C",
         2,
         "PCI\\VEN_1&DEV_2&S\\0",
         "caller\ncaller\ncaller"},
        {{{"VEN_1", "0", "DISPLAY", "A"}, {"VEN_1&DEV_2", "0", "DISPLAY", "B"}, {"VEN_3", "0", "DISPLAY", "C"}},
         {"PCI\\VEN_1&DEV_2\\0", "PCI\\VEN_3\\0"},
         false,
         MatchTrace::hardware_key,
         false,
         "PCI\\VEN_1=A|PCI\\VEN_1&DEV_2=B|PCI\\VEN_3=C",
         1,
         "PCI\\VEN_1&DEV_2\\0",
         "PCI\\VEN_1&DEV_2\\0\nPCI\\VEN_1&DEV_2\\0"},
        // a refused candidate does not count; a node with all refused is passed
        {{{"VEN_1", "0", "DISPLAY", "A"}, {"VEN_1&DEV_2", "0", "DISPLAY", "B"}},
         {"PCI\\VEN_1&DEV_2\\0"},
         false,
         MatchTrace::caller_text,
         true,
         "PCI\\VEN_1=A|PCI\\VEN_1&DEV_2=B",
         0,
         "PCI\\VEN_1&DEV_2\\0",
         "caller"},
        {{{"VEN_2", "0", "DISPLAY", "B"}, {"VEN_3", "0", "DISPLAY", "C"}},
         {"PCI\\VEN_2\\0", "PCI\\VEN_3\\0"},
         false,
         MatchTrace::caller_text,
         true,
         "PCI\\VEN_2=B|PCI\\VEN_3=C",
         1,
         "PCI\\VEN_3\\0",
         "caller"},
    };
    for (size_t i = 0; i < sizeof(rows) / sizeof(rows[0]); ++i) {
        const auto &row = rows[i];
        SCOPED_TRACE(i);
        kx::load_machine(machine(row.instances, row.live));
        TraceWindow window;
        int asked = 0;
        const WalkTrace trace = {&window.sink, row.match_trace, row.refuse_b, &asked};
        WalkParams params = bus_walk(Bus::pci, "DISPLAY");
        params.stored = row.trace_candidates ? trace_stored : nullptr;
        params.accept = accept_match;
        params.context = &trace;
        static WalkResult result;
        memset(&result, 0xbd, sizeof(result));
        walk_devices(params, result);
        EXPECT_EQ(WalkOutcome::completed, result.outcome);
        std::string candidates;
        for (int c = 0; c < result.candidates.count; ++c)
            candidates +=
                std::string(c ? "|" : "") + result.candidates.slot[c].key + "=" + result.candidates.slot[c].description;
        EXPECT_EQ(row.candidates, candidates);
        for (int c = result.candidates.count; c < kMaxCandidates; ++c)
            EXPECT_EQ(0, result.candidates.slot[c].key[0] | result.candidates.slot[c].description[0]);
        EXPECT_EQ(row.matched, result.matched);
        if (row.matched >= 0)
            EXPECT_STREQ(row.live_key, result.live_hardware_key);
        EXPECT_EQ(row.trace, window.text());
        EXPECT_EQ(row.refuse_b ? 2 : 0, asked);
    }
}

TEST(Walk, LongDescriptionIsCut)
{
    std::string description(1500, 'd');
    kx::load_machine(machine({{"VEN_1", "0", "DISPLAY", description.c_str()}}, {}, false));
    static WalkResult result;
    memset(&result, 0xbd, sizeof(result));
    walk_devices(bus_walk(Bus::pci, "DISPLAY"), result);
    EXPECT_EQ(WalkOutcome::live_table_unavailable, result.outcome);
    EXPECT_EQ(-1, result.matched);
    ASSERT_EQ(1, result.candidates.count);
    EXPECT_EQ(description.substr(0, kTextSize - 1), result.candidates.slot[0].description);
}

TEST(Trace, AppendsOneLine)
{
    static const struct {
        std::string before, line, after;
    } rows[] = {
        {"", "b", "b"},
        {"a", "b", "a\nb"},
        {"a", "", "a\n"},
        {"a\n", "b", "a\n\nb"},
        {"", "", ""},
        // full: the oldest whole lines go, the newest line stays whole
        {std::string(4095, 'a'), std::string(4095, 'b'), std::string(4095, 'a') + "\n" + std::string(4095, 'b')},
        {std::string(4095, 'a'), std::string(4096, 'b'), std::string(4096, 'b')},
        {"x\n" + std::string(4000, 'a') + "\n" + std::string(4000, 'b'), std::string(200, 'c'),
         std::string(4000, 'b') + "\n" + std::string(200, 'c')},
        {std::string(8000, 'a'), std::string(200, 'c'), std::string(200, 'c')},
        // a line longer than the text can be is cut
        {"a", std::string(9000, 'c'), std::string(8191, 'c')},
    };
    for (size_t i = 0; i < sizeof(rows) / sizeof(rows[0]); ++i) {
        SCOPED_TRACE(i);
        TraceWindow window;
        SetWindowTextA(window.handle, rows[i].before.c_str());
        trace_to_window(window.handle, rows[i].line.c_str());
        std::string after = window.text();
        EXPECT_EQ(rows[i].after.size(), after.size());
        EXPECT_TRUE(rows[i].after == after);
    }
    trace_line(nullptr, "nowhere");
}
