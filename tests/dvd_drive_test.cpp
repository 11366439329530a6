// IsDVDDrivePresent over SCSI hardware trees replayed into Wine's registry:
// through the real DLL for the answer, the caller's buffer and the keys, and
// through the same routine with a trace window for the lines it traces.
#include "harness/harness.h"
#include "harness/ledger.h"
#include "inventory/dvd_drive.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

namespace {

// One instance key below HKLM\Enum\SCSI\<device>; a live drive also has a
// node in Config Manager\Enum whose hardware key is `live`, nodes in the
// order of the drives.
struct Drive {
    const char *device, *cls, *description, *live;
};

} // namespace

// The drive that most rows ask about.
static const Drive kExample = {"EXAMPLE_DVD", "CDROM", "Example DVD-ROM DX-5", "SCSI\\EXAMPLE_DVD\\0"};

static std::string scsi_machine(const std::vector<Drive> &drives, bool live_table = true)
{
    kx::Machine machine;
    for (const Drive &d : drives)
        machine.device(std::string("SCSI\\") + d.device + "\\0", d.cls, d.description);
    if (!live_table)
        return machine.text();
    machine.live_table();
    int n = 0;
    for (const Drive &d : drives)
        if (d.live)
            machine.live("C" + std::to_string(n++), d.live);
    return machine.text();
}

namespace {

// The caller's buffer: the text, its NUL, then a 0xbd fill that no call
// may touch.
struct TextBuffer {
    char bytes[64];
    explicit TextBuffer(const char *text)
    {
        memset(bytes, 0xbd, sizeof(bytes));
        strcpy(bytes, text);
    }
    bool operator==(const TextBuffer &other) const { return !memcmp(bytes, other.bytes, sizeof(bytes)); }
};

} // namespace

static const char kNotLocated[] = "DVD Drive not located\n ";

TEST(IsDVDDrivePresent, AnswersBufferAndTrace)
{
    static const struct {
        const char *name;
        std::vector<Drive> drives;
        const char *text;
        int32_t expected;
        const char *buffer_after, *trace;
        bool live_table;
    } rows[] = {
        {"beginning", {kExample}, "example dvd", 1, "EXAMPLE DVD", "EXAMPLE DVD", true},
        {"whole", {kExample}, "Example DVD-ROM DX-5", 1, "EXAMPLE DVD-ROM DX-5", "EXAMPLE DVD-ROM DX-5", true},
        {"not its beginning", {kExample}, "dvd", 0, "DVD", kNotLocated, true},
        {"longer", {kExample}, "Example DVD-ROM DX-5 Rev B", 0, "EXAMPLE DVD-ROM DX-5 REV B", kNotLocated, true},
        {"empty", {kExample}, "", 1, "", "", true},
        {"only a to z fold", {{"D", "CDROM", "Caf\xe9 DVD", "SCSI\\D\\0"}}, "caf\xe9", 1, "CAF\xe9", "CAF\xe9", true},
        {"0xe9 is not 0xc9", {{"D", "CDROM", "Caf\xe9 DVD", "SCSI\\D\\0"}}, "CAF\xc9", 0, "CAF\xc9", kNotLocated, true},
        {"class in small letters", {{"D", "cdrom", "Example DVD", "SCSI\\D\\0"}}, "ex", 1, "EX", "EX", true},
        {"not a CD-ROM", {{"D", "DiskDrive", "Example DVD", "SCSI\\D\\0"}}, "ex", 0, "ex", kNotLocated, true},
        {"registered, not live", {{"D", "CDROM", "Example DVD", nullptr}}, "ex", 0, "ex", kNotLocated, true},
        {"hardware key of another bus", {{"D", "CDROM", "Example DVD", "PCI\\D\\0"}}, "ex", 0, "ex", kNotLocated, true},
        {"no live-device table", {kExample}, "ex", 0, "ex", "", false},
        {"first live drive refused, second taken",
         {{"A", "CDROM", "Other CD-ROM", "SCSI\\A\\0"}, kExample},
         "example",
         1,
         "EXAMPLE",
         "EXAMPLE",
         true},
        {"two candidates taken for one node",
         {{"AB", "CDROM", "Example DVD", nullptr}, {"ABC", "CDROM", "example dvd-rom", "SCSI\\ABC\\0"}},
         "example",
         1,
         "EXAMPLE",
         "EXAMPLE\nEXAMPLE",
         true},
        {"one of two candidates taken for one node",
         {{"AB", "CDROM", "Other CD-ROM", nullptr}, {"ABC", "CDROM", "Example DVD", "SCSI\\ABC\\0"}},
         "example",
         1,
         "EXAMPLE",
         "EXAMPLE",
         true},
    };
    kx::TraceWindow window;
    ASSERT_NE(nullptr, window.handle);
    for (const auto &row : rows) {
        SCOPED_TRACE(row.name);
        kx::load_machine(scsi_machine(row.drives, row.live_table));
        // A host that sets a locale in the C runtime changes nothing.
        for (const char *locale : {(const char *)nullptr, "French"}) {
            SCOPED_TRACE(locale ? locale : "classic locale");
            kx::CrtdllLocale host(locale);
            kx::Dll dll;
            kx::Watched watched(dll.module());
            TextBuffer buffer(row.text);
            EXPECT_EQ(row.expected, kx::call_export(dll, "IsDVDDrivePresent", {kx::arg(buffer.bytes)}));
            EXPECT_TRUE(buffer == TextBuffer(row.buffer_after)) << buffer.bytes;
        }
        TextBuffer buffer(row.text);
        SetWindowTextA(window.handle, "");
        EXPECT_EQ(row.expected != 0, detect_dvd_drive(buffer.bytes, &window.sink));
        EXPECT_TRUE(buffer == TextBuffer(row.buffer_after)) << buffer.bytes;
        EXPECT_EQ(row.trace, window.text());
    }
}

TEST(IsDVDDrivePresent, NullTextAnswersZeroWithoutReadingTheRegistry)
{
    kx::load_machine(scsi_machine({kExample}));
    kx::Dll dll;
    kx::Watched watched(dll.module());
    EXPECT_EQ(0, kx::call_export(dll, "IsDVDDrivePresent", {kx::arg((const void *)nullptr)}));
    EXPECT_TRUE(watched.ledger.calls().empty());
}

TEST(IsDVDDrivePresent, EveryCallStartsAfresh)
{
    kx::load_machine(scsi_machine({kExample}));
    kx::Dll dll;
    TextBuffer dvd("example dvd"), cd("example cd");
    EXPECT_EQ(1, kx::call_export(dll, "IsDVDDrivePresent", {kx::arg(dvd.bytes)}));
    EXPECT_EQ(0, kx::call_export(dll, "IsDVDDrivePresent", {kx::arg(cd.bytes)}));
    EXPECT_EQ(1, kx::call_export(dll, "IsDVDDrivePresent", {kx::arg(dvd.bytes)}));
    kx::load_machine(scsi_machine({}));
    EXPECT_EQ(0, kx::call_export(dll, "IsDVDDrivePresent", {kx::arg(dvd.bytes)}));
}
