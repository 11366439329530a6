#include "capture.h"

#include <windows.h>

#include <cstring>

// The capture holds the registry's hardware tree, written by the profile
// writer of kxprobe --capture; no answer lines are asked here.
bool capture_machine(const char *path, CaptureLine, void *, char error[kProfileErrorSize])
{
    // The answers come from the DLL beside the program; a capture without
    // it could not say what the machine answered.
    HMODULE dll = LoadLibraryA("KXVozaDa.dll");
    if (!dll) {
        const DWORD code = GetLastError();
        lstrcpynA(error,
                  "KXVozaDa.dll, which must be in the same folder as this program, does not load: ", kProfileErrorSize);
        const size_t used = strlen(error);
        windows_error_text(code, error + used, kProfileErrorSize - used);
        return false;
    }
    FreeLibrary(dll);
    return profile_capture(path, error);
}
