/* A KXVozaDa.dll that has only two of the exports, with answers of its own,
 * and no version resource: what kxprobe must recognise as the wrong DLL. */
#include <windows.h>

__declspec(dllexport) int WINAPI GetPCIInfo(int selector)
{
    return 0x1234 + selector;
}

__declspec(dllexport) int WINAPI IsWin95(void)
{
    return 1;
}
