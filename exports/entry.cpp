// The library's entry routine. The DLL has no C runtime start-up code, so
// this is the image's entry point itself; it accepts every notification and
// keeps nothing, so loading never fails on the library's account.
#include <windows.h>

extern "C" BOOL WINAPI DllMain(HINSTANCE, DWORD, LPVOID)
{
    return TRUE;
}
