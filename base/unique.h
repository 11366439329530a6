// What a call holds (a registry key, a kernel, file or search handle, a
// module, a heap block, a window, a stream, a COM interface), released when
// its guard goes out of scope. Guards declared one after the other are released in the reverse
// order, so a call releases everything in the reverse order of acquisition
// by construction. All inline: a guard costs what the hand-written release
// costs.
#pragma once

#include <windows.h>

#include <cstdio>

// `Traits` says what is held: its type `Value`, the value `invalid()` that
// holds nothing, and `close()`, which releases a valid one and, for a kind
// whose release can fail, says whether it succeeded.
template <class Traits> class Unique {
public:
    typedef typename Traits::Value Value;

    Unique() = default;
    explicit Unique(Value value) : value_(value) { }
    ~Unique() { reset(); }
    Unique(const Unique &) = delete;
    Unique &operator=(const Unique &) = delete;

    Value get() const { return value_; }
    explicit operator bool() const { return value_ != Traits::invalid(); }

    // Releases what is held, if anything, and holds `value` instead.
    void reset(Value value = Traits::invalid())
    {
        if (value_ != Traits::invalid())
            Traits::close(value_);
        value_ = value;
    }

    // Releases what is held, for a kind whose release can fail, and says
    // whether it succeeded; true when nothing was held. A file's last writes
    // can fail only as it is closed.
    bool close()
    {
        const Value value = release();
        return value == Traits::invalid() || Traits::close(value);
    }

    // Lets go of what is held without releasing it.
    Value release()
    {
        Value value = value_;
        value_ = Traits::invalid();
        return value;
    }

    // For a call that hands its result out through a pointer: releases what
    // is held and gives the address to write the new value to. What a
    // failed call leaves there is no value of its own: release() drops it.
    Value *put()
    {
        reset();
        return &value_;
    }

private:
    Value value_ = Traits::invalid();
};

// Most kinds hold nothing with a null value.
template <class T> struct NullInvalid {
    typedef T Value;
    static T invalid() { return nullptr; }
};

struct KeyTraits : NullInvalid<HKEY> {
    static void close(HKEY key) { RegCloseKey(key); }
};

// Process and thread handles, and other kernel objects.
struct HandleTraits : NullInvalid<HANDLE> {
    static void close(HANDLE handle) { CloseHandle(handle); }
};

// CreateFileA's handles: INVALID_HANDLE_VALUE holds none.
struct FileTraits {
    typedef HANDLE Value;
    static HANDLE invalid() { return INVALID_HANDLE_VALUE; }
    static bool close(HANDLE file) { return CloseHandle(file) != FALSE; }
};

// FindFirstFileA's handles, which FindClose closes.
struct FindTraits {
    typedef HANDLE Value;
    static HANDLE invalid() { return INVALID_HANDLE_VALUE; }
    static void close(HANDLE find) { FindClose(find); }
};

struct ModuleTraits : NullInvalid<HMODULE> {
    static void close(HMODULE module) { FreeLibrary(module); }
};

// A block of the process heap. HeapFree of a null pointer is undefined on
// Windows 9x, and is never called.
template <class T> struct HeapTraits : NullInvalid<T *> {
    static void close(T *block) { HeapFree(GetProcessHeap(), 0, block); }
};

// A window of this thread's.
struct WindowTraits : NullInvalid<HWND> {
    static void close(HWND window) { DestroyWindow(window); }
};

// A C runtime stream, from fopen.
struct StreamTraits : NullInvalid<FILE *> {
    static bool close(FILE *stream) { return fclose(stream) == 0; }
};

// A reference to a COM interface.
template <class Interface> struct ComTraits : NullInvalid<Interface *> {
    static void close(Interface *object) { object->Release(); }
};

typedef Unique<KeyTraits> UniqueKey;
typedef Unique<HandleTraits> UniqueHandle;
typedef Unique<FileTraits> UniqueFile;
typedef Unique<FindTraits> UniqueFind;
typedef Unique<ModuleTraits> UniqueModule;
template <class T> using UniqueHeap = Unique<HeapTraits<T>>;
typedef Unique<WindowTraits> UniqueWindow;
typedef Unique<StreamTraits> UniqueStream;
template <class Interface> using UniqueCom = Unique<ComTraits<Interface>>;
