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
