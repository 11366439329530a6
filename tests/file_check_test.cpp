// IsFileAvailable on real files in a temporary current folder.
#include "base/unique.h"
#include "harness/harness.h"
#include "harness/ledger.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <climits>
#include <cstring>
#include <string>

namespace {

// kDevice: `path` names a device; kPipe: a pipe that the test holds open.
enum Setup { kAbsent, kFile, kFolder, kHeldForReading, kHeldForWriting, kDevice, kPipe };

struct Row {
    const char *name;
    Setup setup;
    std::string content;
    const char *signature; // null: no signature pointer
    std::string expected_start;
    int length;
    const char *failing;
    int32_t expected;
    int reads; // -1: not looked at
    const char *path = "target";
};

} // namespace

const std::string kMz("MZ\x90\0\x03\0", 6);

const Row kRows[] = {
    {"absent, no signature", kAbsent, "", nullptr, "", 0, nullptr, 0, 0},
    {"absent, with signature", kAbsent, "", "MZ", "", 2, nullptr, 0, 0},
    {"folder", kFolder, "", nullptr, "", 0, nullptr, 0, 0},
    {"held open for writing", kHeldForWriting, "MZ", nullptr, "", 0, nullptr, 0, 0},
    {"held open for reading", kHeldForReading, "MZ", "", "MZ", 2, nullptr, 1, 1},
    {"null signature, any length", kFile, "MZ", nullptr, "", 5, nullptr, 1, 0},
    {"length 0", kFile, "MZ", "x", "x", 0, nullptr, 1, 0},
    {"length -1", kFile, "MZ", "x", "x", -1, nullptr, 1, 0},
    {"length INT_MIN", kFile, "MZ", "x", "x", INT_MIN, nullptr, 1, 0},
    {"empty file", kFile, "", "M", "M", 1, nullptr, 0, 1},
    {"exactly the signature", kFile, kMz, "", kMz, 6, nullptr, 1, 1},
    {"longer than the signature", kFile, kMz + "rest", "", kMz, 6, nullptr, 1, 1},
    {"shorter than the signature", kFile, "MZ", "", "MZP", 3, nullptr, 0, 1},
    {"last byte differs", kFile, kMz, "", kMz.substr(0, 5) + '\x04', 6, nullptr, 0, 1},
    {"bytes past a NUL differ", kFile, kMz, "", kMz.substr(0, 3) + std::string("\0\x04\0", 3), 6, nullptr, 0, 1},
    {"letter case differs", kFile, "Setup", "", "SETUP", 5, nullptr, 0, 1},
    {"read fails", kFile, "MZ", "", "MZ", 2, "ReadFile", 0, 1},
    {"buffer cannot be had", kFile, "MZ", "", "MZ", 2, "HeapAlloc", 0, 0},
    {"length far beyond memory", kFile, "MZ", "", "MZ", 0x7ffffff0, nullptr, 0, -1},
    {"NUL", kDevice, "", nullptr, "", 0, nullptr, 0, 0, "NUL"},
    {"nul.txt, which is NUL", kDevice, "", nullptr, "", 0, nullptr, 0, 0, "nul.txt"},
    {"pipe held open, never written to", kPipe, "", "", "MZ", 2, nullptr, 0, 0, "\\\\.\\pipe\\kx-file-check"},
};

// The server end of a pipe that no one writes to, let go of by a thread of
// the timer queue after five seconds: a read from the pipe waits until then.
static bool g_pipe_let_go;

static void CALLBACK let_go(void *server, BOOLEAN)
{
    g_pipe_let_go = true;
    CloseHandle(server);
}

TEST(IsFileAvailable, AnswersPerFileAndSignature)
{
    for (const Row &row : kRows) {
        SCOPED_TRACE(row.name);
        kx::TempCwd cwd;
        UniqueFile other;
        if (row.setup == kFolder)
            ASSERT_TRUE(CreateDirectoryA("target", nullptr));
        if (row.setup == kFile || row.setup == kHeldForReading || row.setup == kHeldForWriting)
            cwd.write("target", row.content);
        HANDLE timer = nullptr, server = INVALID_HANDLE_VALUE;
        if (row.setup == kPipe) {
            g_pipe_let_go = false;
            server = CreateNamedPipeA(row.path, PIPE_ACCESS_OUTBOUND, PIPE_TYPE_BYTE, 1, 0, 0, 0, nullptr);
            CreateTimerQueueTimer(&timer, nullptr, let_go, server, 5000, 0, 0);
        }
        // Another handle on the file that lets everyone read and write it.
        if (row.setup == kHeldForReading || row.setup == kHeldForWriting)
            other.reset(CreateFileA("target", row.setup == kHeldForReading ? GENERIC_READ : GENERIC_WRITE,
                                    FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING, 0, nullptr));

        // The signature sits in a buffer with a guard byte after it; the
        // DLL must neither change nor read past it.
        std::string signature = row.expected_start + '\xbd';
        const std::string before = signature;
        std::string path = row.path;
        kx::Dll dll;
        kx::Watched watched(dll.module());
        if (row.failing)
            watched.ledger.fail(row.failing);
        // Heap blocks come filled with the expected bytes, as a recycled
        // block may be, so that only a read that really fills the block can
        // be trusted.
        const std::string &seed = row.expected_start;
        kx::Hook<decltype(&HeapAlloc)> seeded(dll.module(), "KERNEL32.dll", "HeapAlloc",
                                              [&](HANDLE heap, DWORD flags, SIZE_T size) {
                                                  LPVOID block = seeded.original()(heap, flags, size);
                                                  if (block)
                                                      memcpy(block, seed.data(), std::min<size_t>(size, seed.size()));
                                                  return block;
                                              });

        EXPECT_EQ(row.expected,
                  kx::call_export(dll, "IsFileAvailable",
                                  {kx::arg(path.c_str()), kx::arg(row.signature ? &signature[0] : nullptr),
                                   kx::arg((int32_t)row.length)}));
        EXPECT_EQ(before, signature);
        EXPECT_EQ(row.path, path);
        if (timer && DeleteTimerQueueTimer(nullptr, timer, INVALID_HANDLE_VALUE) && !g_pipe_let_go)
            CloseHandle(server);
        EXPECT_FALSE(g_pipe_let_go) << "the call waited until the pipe was let go";
        if (row.reads >= 0)
            EXPECT_EQ(row.reads, watched.ledger.count("ReadFile"));
        const bool opens = row.setup != kAbsent && row.setup != kFolder && row.setup != kHeldForWriting;
        EXPECT_EQ(opens ? 1 : 0, watched.ledger.count("CloseHandle"));
    }
}
