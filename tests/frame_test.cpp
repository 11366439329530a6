// The library frame: IsWin95 as each Windows version, and with every answer
// that GetVersionExA can give.
#include "harness/harness.h"
#include "harness/ledger.h"

#include <gtest/gtest.h>

TEST(IsWin95, AnswersPerWindowsVersion)
{
    static const struct {
        const char *version;
        DWORD expected;
    } rows[] = {
        {"win95", 1}, {"win98", 0}, {"winme", 0}, {"nt40", 0}, {"winxp", 0}, {"win10", 0},
    };
    for (const auto &row : rows) {
        SCOPED_TRACE(row.version);
        EXPECT_EQ(row.expected, kx::run_as_version("kxask.exe", row.version, "IsWin95"));
    }
}

namespace {

// What the patched GetVersionExA reports.
struct FakeVersion {
    BOOL result;
    DWORD platform, major, minor;
};

} // namespace

TEST(IsWin95, AnswersFromPlatformAndMinorVersionOnly)
{
    static const struct {
        FakeVersion fake;
        int32_t expected;
    } rows[] = {
        {{TRUE, VER_PLATFORM_WIN32_WINDOWS, 4, 0}, 1},  {{TRUE, VER_PLATFORM_WIN32_WINDOWS, 4, 9}, 1},
        {{TRUE, VER_PLATFORM_WIN32_WINDOWS, 4, 10}, 0}, {{TRUE, VER_PLATFORM_WIN32_WINDOWS, 4, 90}, 0},
        {{TRUE, VER_PLATFORM_WIN32_WINDOWS, 7, 3}, 1},  {{TRUE, VER_PLATFORM_WIN32_WINDOWS, 4, 0xffffffff}, 0},
        {{TRUE, VER_PLATFORM_WIN32_NT, 4, 0}, 0},       {{TRUE, VER_PLATFORM_WIN32s, 3, 1}, 0},
        {{FALSE, VER_PLATFORM_WIN32_WINDOWS, 4, 0}, 0},
    };
    kx::Dll dll;
    FakeVersion fake{};
    DWORD size_seen = 0;
    int calls = 0;
    kx::Hook<decltype(&GetVersionExA)> hook(dll.module(), "KERNEL32.dll", "GetVersionExA", [&](LPOSVERSIONINFOA info) {
        ++calls;
        size_seen = info->dwOSVersionInfoSize;
        if (fake.result) {
            info->dwPlatformId = fake.platform;
            info->dwMajorVersion = fake.major;
            info->dwMinorVersion = fake.minor;
        }
        return fake.result;
    });
    ASSERT_TRUE(hook.applied());
    for (size_t i = 0; i < sizeof(rows) / sizeof(rows[0]); ++i) {
        SCOPED_TRACE(i);
        fake = rows[i].fake;
        size_seen = 0xdeadbeef;
        calls = 0;
        EXPECT_EQ(rows[i].expected, kx::call_export(dll, "IsWin95"));
        EXPECT_EQ(148u, size_seen);
        EXPECT_EQ(1, calls);
    }
}

TEST(IsWin95, FailingGetVersionExAThroughTheLedger)
{
    kx::Dll dll;
    kx::Watched watched(dll.module());
    watched.ledger.fail("GetVersionExA");
    EXPECT_EQ(0, kx::call_export(dll, "IsWin95"));
    EXPECT_EQ(1, watched.ledger.count("GetVersionExA"));
}
