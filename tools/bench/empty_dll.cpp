// kxempty.dll: a library with an entry routine and nothing else, compiled
// and linked as KXVozaDa.dll is. What loading and freeing it costs is what
// any such library costs; kxbench sets KXVozaDa.dll against it.
#include <windows.h>

extern "C" BOOL WINAPI DllMain(HINSTANCE, DWORD, LPVOID)
{
    return TRUE;
}
