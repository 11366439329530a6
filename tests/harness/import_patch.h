// Replacing the functions that KXVozaDa.dll imports, so that a test can
// watch every acquisition and release and make any call fail.
#pragma once

#include <windows.h>

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

} // namespace kx
