// A scripted DirectDraw that KXVozaDa.dll reaches through its own
// GetSystemDirectoryA, LoadLibraryA, GetProcAddress and FreeLibrary, with
// the system folder answered as the ledger says: hand-written vtables that
// log every call with its arguments, count references, record their calls
// in a ledger and fail the way the ledger is told.
#pragma once

#include "harness/harness.h"
#include "harness/ledger.h"

#include <string>

namespace kx {

class FakeDirectDraw {
public:
    explicit FakeDirectDraw(const Dll &dll);
    FakeDirectDraw(const FakeDirectDraw &) = delete;
    FakeDirectDraw &operator=(const FakeDirectDraw &) = delete;

    enum { kSurfaceRequestSize = 108, kCapsSize = 364 };

    // Runs the export once with `ledger` recording: ddraw.dll's module,
    // every interface handed out, and each call that can fail, which fails
    // as ledger.fail() says. GetCaps writes `caps2` as dwCaps2.
    int32_t ask(const char *name, Ledger &ledger, DWORD caps2 = 0);

    // Of the last ask(): every call with its arguments, each followed by a
    // space; references not given back; the surface request (0xbd where
    // CreateSurface was not called); the dwSize that GetCaps was given.
    const std::string &calls() const;
    std::string held_references() const;
    const BYTE *surface_request() const;
    DWORD caps_size() const;

private:
    const Dll &dll_;
    ImportPatch folder_, load_, entry_, free_;
};

} // namespace kx
