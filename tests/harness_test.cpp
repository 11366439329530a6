// The ledger that every resource test relies on must itself catch a release
// out of order, a double release and a leak, and its guard must say so.
#include "harness/harness.h"
#include "harness/ledger.h"

#include <gtest/gtest-spi.h>
#include <gtest/gtest.h>

TEST(Ledger, JudgesReleaseOrder)
{
    static const struct {
        const char *script; // +N acquires handle N, -N releases it
        bool clean;
    } rows[] = {
        {"+1+2-2-1", true}, {"+1-1+2-2", true}, {"+1+2-1-2", false},
        {"+1-1-1", false},  {"+1+2-2", false},  {"-3", false},
    };
    for (const auto &row : rows) {
        SCOPED_TRACE(row.script);
        kx::Ledger ledger;
        for (const char *p = row.script; *p; p += 2) {
            const void *handle = (const void *)(uintptr_t)(p[1] - '0');
            if (*p == '+')
                ledger.acquire("key", handle);
            else
                ledger.release("key", handle);
        }
        EXPECT_EQ(row.clean, ledger.problems().empty()) << ledger.problems();
    }
}

TEST(Ledger, GuardNamesWhatWasKept)
{
    kx::Dll dll;
    EXPECT_NONFATAL_FAILURE(
        {
            kx::Watched watched(dll.module());
            watched.ledger.acquire("key", (const void *)1);
        },
        "+key 00000001 never released");
}

// This program's own import of MulDiv, a stdcall function of three
// arguments, so that a hook that left the stack as it should not fails here.
TEST(Hook, NestsAndPutsTheImportBack)
{
    const HMODULE self = GetModuleHandleA(nullptr);
    void **slot = kx::import_slot(self, "KERNEL32.dll", "MulDiv");
    ASSERT_NE(nullptr, slot);
    void *const real = *slot;
    std::vector<int> seen;
    {
        kx::Hook<decltype(&MulDiv)> outer(self, "KERNEL32.dll", "MulDiv", [&](int a, int b, int c) {
            seen.push_back(a);
            return outer.original()(a, b, c) + 100;
        });
        ASSERT_TRUE(outer.applied());
        EXPECT_EQ(106, MulDiv(2, 3, 1));
        {
            kx::Hook<decltype(&MulDiv)> inner(self, "KERNEL32.dll", "MulDiv",
                                              [&](int a, int b, int c) { return inner.original()(a + 1, b, c) * 2; });
            EXPECT_EQ(218, MulDiv(2, 3, 1));
        }
        EXPECT_EQ(112, MulDiv(4, 3, 1));
    }
    EXPECT_EQ(real, *slot);
    EXPECT_EQ(6, MulDiv(2, 3, 1));
    EXPECT_EQ((std::vector<int>{2, 3, 4}), seen);

    kx::Hook<decltype(&MulDiv)> absent(self, "KERNEL32.dll", "NoSuchFunction", [](int, int, int) { return 0; });
    EXPECT_FALSE(absent.applied());
}

// The DLL's C runtime calls are cdecl: the caller takes its arguments
// back, and the stack checked after the export's call shows it did.
TEST(Hook, ServesCdeclImports)
{
    kx::Dll dll;
    kx::TempCwd cwd;
    cwd.write("target", "KXSIG and more");
    char signature[] = "KXSIG";
    auto ask = [&] {
        return kx::call_export(dll, "IsFileAvailable", {kx::arg("target"), kx::arg(signature), kx::arg(5)});
    };
    const int32_t matching = ask();
    int compared = 0, differs = 0;
    {
        kx::Hook<int(__cdecl *)(const void *, const void *, size_t)> hook(
            dll.module(), "CRTDLL.dll", "memcmp", [&](const void *a, const void *b, size_t n) {
                ++compared;
                return differs ? differs : hook.original()(a, b, n);
            });
        ASSERT_TRUE(hook.applied());
        EXPECT_EQ(matching, ask());
        differs = 1;
        EXPECT_NE(matching, ask());
    }
    EXPECT_EQ(2, compared);
    EXPECT_EQ(matching, ask());
}

// A folder that cannot be made is reported; nothing is made current or
// removed in its place.
TEST(TempCwd, NamesAFolderItCannotMake)
{
    char before[MAX_PATH], after[MAX_PATH];
    GetCurrentDirectoryA(sizeof before, before);
    {
        kx::Environment environment;
        environment.set("TMP", "C:\\kx-no-such-folder\\").set("TEMP", "C:\\kx-no-such-folder\\");
        EXPECT_NONFATAL_FAILURE(
            {
                kx::TempCwd cwd;
                EXPECT_EQ("", cwd.path());
            },
            "cannot make C:\\kx-no-such-folder\\kxtest-");
    }
    GetCurrentDirectoryA(sizeof after, after);
    EXPECT_STREQ(before, after);
}
