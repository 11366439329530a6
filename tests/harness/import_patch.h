// Replacing the functions that KXVozaDa.dll imports, so that a test can
// watch every acquisition and release and make any call fail.
#pragma once

#include <windows.h>

#include <functional>
#include <utility>

namespace kx {

// The import address table slot through which `module` calls
// dll!function, or null when the module does not import it by name.
void **import_slot(HMODULE module, const char *dll, const char *function);

// Points one import of `module` at `replacement` for the lifetime of the
// object and puts the original back afterwards.
class ImportPatch {
public:
    ImportPatch(HMODULE module, const char *dll, const char *function, const void *replacement);
    ~ImportPatch();
    ImportPatch(const ImportPatch &) = delete;
    ImportPatch &operator=(const ImportPatch &) = delete;

    bool applied() const { return slot_ != nullptr; }
    // The function the slot held before; call through it to pass a call on.
    template <class Fn> Fn original() const { return reinterpret_cast<Fn>(original_); }

private:
    void **slot_;
    void *original_;
};

namespace hook_detail {

// A plain function pointer of its own for one hook: it loads `context` into
// EAX and jumps to `target`, which takes it as a register argument, and
// leaves the caller's arguments and return address where they are, so that
// stdcall and cdecl imports alike can be pointed at it. Its address is
// null, and the test fails, when every entry is taken.
class Entry {
public:
    Entry(const void *target, const void *context);
    ~Entry();
    Entry(const Entry &) = delete;
    Entry &operator=(const Entry &) = delete;

    const void *address() const { return address_; }

private:
    const void *address_;
};

template <class Fn> struct Calls;

#define KX_HOOK_CALLS(convention)                                                                         \
    template <class R, class... A> struct Calls<R(__attribute__((convention)) *)(A...)> {                 \
        using Replacement = std::function<R(A...)>;                                                       \
        static R __attribute__((convention, regparm(1))) enter(const Replacement *replacement, A... args) \
        {                                                                                                 \
            return (*replacement)(args...);                                                               \
        }                                                                                                 \
    }
KX_HOOK_CALLS(stdcall);
KX_HOOK_CALLS(cdecl);
#undef KX_HOOK_CALLS

} // namespace hook_detail

// Points one import of `module` at `replacement`, a lambda or any callable
// of the import's own arguments and result, for the lifetime of the object
// and puts back what the slot held before. Hooks of one import nest: each
// one's original() is the one before it.
//
//   kx::Hook<decltype(&Sleep)> sleep(dll.module(), "KERNEL32.dll", "Sleep",
//                                    [&](DWORD ms) { sleep.original()(ms / 10); });
template <class Fn> class Hook {
    using Calls = hook_detail::Calls<Fn>;

public:
    template <class F>
    Hook(HMODULE module, const char *dll, const char *function, F &&replacement)
        : replacement_(std::forward<F>(replacement)),
          entry_(reinterpret_cast<const void *>(&Calls::enter), &replacement_),
          patch_(entry_.address() ? module : nullptr, dll, function, entry_.address())
    { }
    Hook(const Hook &) = delete;
    Hook &operator=(const Hook &) = delete;

    bool applied() const { return patch_.applied(); }
    // What the slot held before: call through it to pass a call on.
    Fn original() const { return patch_.original<Fn>(); }

private:
    const typename Calls::Replacement replacement_;
    const hook_detail::Entry entry_;
    ImportPatch patch_;
};

} // namespace kx
