// A record of what KXVozaDa.dll acquires and releases through its imports,
// and a way to make any one of those calls fail.
#pragma once

#include "harness/import_patch.h"

#include <initializer_list>
#include <map>
#include <memory>
#include <string>
#include <vector>

namespace kx {

class Ledger {
public:
    // Makes call number `occurrence` (from 0) of `function` fail in the way
    // named `mode`, one of those its hook offers (failure_modes); the first
    // of them when `mode` is empty.
    void fail(const char *function, int occurrence = 0, const char *mode = "");
    // The ways a hooked function that has been called can fail, in the
    // hook's order.
    const std::vector<std::string> &failure_modes(const std::string &function) const;

    // Every hooked call in order, by function name.
    const std::vector<std::string> &calls() const { return calls_; }
    int count(const char *function) const;
    // Acquisitions and releases in order: "+key 0x...", "-key 0x...".
    const std::vector<std::string> &events() const { return events_; }
    // Empty when everything acquired was released exactly once, in the
    // reverse order of acquisition; otherwise one line per fault.
    std::string problems() const;

    // For hooks: records the call and tells whether it must fail and how:
    // 0 to behave normally, otherwise the position (from 1) in `modes` of
    // the failure to produce. Leaves a last error of its own, as any
    // Windows call may.
    int enter(const char *function, std::initializer_list<const char *> modes = {"fails"});
    void acquire(const char *kind, const void *handle);
    void release(const char *kind, const void *handle);

private:
    struct Held {
        std::string kind;
        const void *handle;
    };
    std::vector<Held> held_;
    std::vector<std::string> calls_, events_, faults_;
    std::map<std::string, int> seen_;
    struct Failing {
        int occurrence;
        std::string mode;
    };
    std::map<std::string, Failing> failing_;
    std::map<std::string, std::vector<std::string>> modes_;
};

// Hooks every function through which the DLL acquires or releases a key,
// handle, module, stream or heap block, and the calls whose failure a test
// may want, recording into `ledger` for the lifetime of the object.
class ResourceHooks {
public:
    ResourceHooks(HMODULE dll, Ledger &ledger);
    ResourceHooks(const ResourceHooks &) = delete;
    ResourceHooks &operator=(const ResourceHooks &) = delete;

private:
    std::vector<std::shared_ptr<void>> hooks_;
};

// The resource hooks on `dll` for the lifetime of the object, recording
// into `ledger`; at the end, a test failure names whatever was not released
// exactly once in reverse order.
class Watched {
public:
    explicit Watched(HMODULE dll) : hooks_(dll, ledger) { }
    ~Watched();
    Watched(const Watched &) = delete;
    Watched &operator=(const Watched &) = delete;

    Ledger ledger;

private:
    ResourceHooks hooks_;
};

} // namespace kx
