// IsBroadLogicPresent over PCI hardware trees replayed into Wine's registry:
// the manufacturer rule, the keys it visits and closes, and failing calls.
#include "harness/harness.h"
#include "harness/ledger.h"

#include <gtest/gtest.h>

#include <string>

// Two devices of one instance each; the second made by `mfg`, value data
// as kx::Machine writes it.
static std::string two_devices(const char *mfg)
{
    kx::Machine machine;
    machine.installed("PCI\\DEV_A\\INST_0").value("MFG", "Example Graphics Co.");
    return machine.installed("PCI\\DEV_B\\INST_0").value("MFG", mfg).text();
}

TEST(IsBroadLogicPresent, ComparesTheWholeManufacturerIgnoringCase)
{
    static const struct {
        const char *mfg;
        int32_t expected;
    } rows[] = {
        {"BroadLogic", 1},
        {"BROADLOGIC", 1},
        {"broadlogic", 1},
        {"bROADlOGIC", 1},
        {"BroadLogic Inc.", 0},
        {"Broad Logic", 0},
        {"BroadLogi", 0},
        {"", 0},
        // Read as bytes whatever the type, without a NUL of its own.
        {"hex:42,72,6f,61,64,4c,6f,67,69,63", 1},
    };
    for (const auto &row : rows) {
        SCOPED_TRACE(row.mfg);
        kx::load_machine(two_devices(row.mfg));
        // A host that sets a locale in the C runtime changes nothing.
        for (const char *locale : {(const char *)nullptr, "French"}) {
            SCOPED_TRACE(locale ? locale : "classic locale");
            kx::CrtdllLocale host(locale);
            kx::Dll dll;
            EXPECT_EQ(row.expected, kx::call_export(dll, "IsBroadLogicPresent"));
        }
    }
}

TEST(IsBroadLogicPresent, LooksOnlyAtMfgOfPciInstanceKeys)
{
    const struct {
        const char *name;
        kx::Machine machine;
        int32_t expected;
    } rows[] = {
        {"no Enum\\PCI", kx::Machine().installed("SCSI\\DEV_A\\INST_0").value("MFG", "BroadLogic"), 0},
        {"on the device key", kx::Machine().installed("PCI\\DEV_A").value("MFG", "BroadLogic"), 0},
        {"second instance, no Class or DeviceDesc",
         kx::Machine()
             .device("PCI\\DEV_A\\INST_0", "MEDIA", nullptr)
             .installed("PCI\\DEV_A\\INST_1")
             .value("MFG", "BroadLogic"),
         1},
        // Removed: its keys remain but no live node stands for it.
        {"not live",
         kx::Machine().installed("PCI\\DEV_A\\INST_0").value("MFG", "BroadLogic").live("C0001", "PCI\\DEV_Z\\INST_0"),
         1},
    };
    for (const auto &row : rows) {
        SCOPED_TRACE(row.name);
        kx::load_machine(row.machine);
        kx::Dll dll;
        EXPECT_EQ(row.expected, kx::call_export(dll, "IsBroadLogicPresent"));
    }
}

TEST(IsBroadLogicPresent, VisitsAndClosesEveryKeyAfterAMatch)
{
    kx::Machine machine;
    machine.installed("PCI\\DEV_A\\INST_0").value("MFG", "BroadLogic");
    machine.installed("PCI\\DEV_A\\INST_1").value("MFG", "BroadLogic");
    kx::load_machine(machine.device("PCI\\DEV_B\\INST_0", "MEDIA", nullptr).installed("PCI\\DEV_C"));
    kx::Dll dll;
    for (const char *call : {"first call", "second call"}) {
        SCOPED_TRACE(call);
        kx::Watched watched(dll.module());
        EXPECT_EQ(1, kx::call_export(dll, "IsBroadLogicPresent"));
        EXPECT_EQ(1 + 3 + 3, watched.ledger.count("RegOpenKeyExA"));
        EXPECT_EQ(3, watched.ledger.count("RegQueryValueExA"));
        EXPECT_EQ(1 + 3 + 3, watched.ledger.count("RegCloseKey"));
    }
}

namespace {

// Over two_devices: RegEnumKeyExA calls 0 DEV_A, 1 its INST_0, 2 its end,
// 3 DEV_B, 4 its INST_0 (BroadLogic), 5 its end, 6 the bus's end. RegOpenKeyExA
// calls 0 the bus, 1 DEV_A, 2 its INST_0, 3 DEV_B, 4 its INST_0.
struct EnumFault {
    int from, to; // calls from..to fail
    LONG status;
};

} // namespace

TEST(IsBroadLogicPresent, FailingEnumerationSkipsAnIndexAndEndsARunOfFailures)
{
    static const struct {
        EnumFault fault;
        int32_t expected;
        int calls;
    } rows[] = {
        {{-1, -1, 0}, 1, 7},
        {{3, 3, ERROR_ACCESS_DENIED}, 0, 5},
        {{1, 1, ERROR_ACCESS_DENIED}, 1, 7},
        // A key deleted while it is read fails at every index: 16 failures
        // in a row end its level.
        {{0, 1000, ERROR_KEY_DELETED}, 0, 16},
        {{4, 1000, ERROR_KEY_DELETED}, 0, 36},
    };
    kx::load_machine(two_devices("BroadLogic"));
    kx::Dll dll;
    for (size_t i = 0; i < sizeof(rows) / sizeof(rows[0]); ++i) {
        SCOPED_TRACE(i);
        kx::Watched watched(dll.module());
        int calls = 0;
        kx::Hook<decltype(&RegEnumKeyExA)> hook(
            dll.module(), "ADVAPI32.dll", "RegEnumKeyExA",
            [&](HKEY key, DWORD index, LPSTR name, LPDWORD length, LPDWORD reserved, LPSTR cls, LPDWORD cls_length,
                PFILETIME written) {
                int call = calls++;
                if (call > 1000)
                    return (LONG)ERROR_NO_MORE_ITEMS; // ends a walk that would never end
                if (call >= rows[i].fault.from && call <= rows[i].fault.to)
                    return rows[i].fault.status;
                return hook.original()(key, index, name, length, reserved, cls, cls_length, written);
            });
        EXPECT_EQ(rows[i].expected, kx::call_export(dll, "IsBroadLogicPresent"));
        EXPECT_EQ(rows[i].calls, calls);
    }
}

TEST(IsBroadLogicPresent, FailingOpenOrReadSkipsThatKey)
{
    static const struct {
        const char *function;
        int occurrence;
        int32_t expected;
    } rows[] = {
        {"RegOpenKeyExA", 0, 0}, {"RegOpenKeyExA", 1, 1},    {"RegOpenKeyExA", 2, 1},    {"RegOpenKeyExA", 3, 0},
        {"RegOpenKeyExA", 4, 0}, {"RegQueryValueExA", 0, 1}, {"RegQueryValueExA", 1, 0},
    };
    kx::load_machine(two_devices("BroadLogic"));
    kx::Dll dll;
    for (const auto &row : rows) {
        SCOPED_TRACE(std::string(row.function) + " " + std::to_string(row.occurrence));
        kx::Watched watched(dll.module());
        watched.ledger.fail(row.function, row.occurrence);
        EXPECT_EQ(row.expected, kx::call_export(dll, "IsBroadLogicPresent"));
    }
}
