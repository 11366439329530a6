/* kxask EXPORT [NUMBER]
 *
 * Loads KXVozaDa.dll by name as an installer does, calls one export that
 * takes no argument or one number, and exits with its answer, so that a
 * test can ask the DLL from a process that runs as another Windows
 * version. Exits with 0xdeadbeef when the DLL or the export is missing. */
#include <windows.h>
#include <stdlib.h>

int main(int argc, char **argv)
{
    HMODULE dll;
    FARPROC fn;
    int answer;

    if (argc < 2 || !(dll = LoadLibraryA("KXVozaDa.dll")))
        return (int)0xdeadbeef;
    if (!(fn = GetProcAddress(dll, argv[1])))
        return (int)0xdeadbeef;
    if (argc > 2)
        answer = ((int(WINAPI *)(int))fn)(atoi(argv[2]));
    else
        answer = ((int(WINAPI *)(void))fn)();
    FreeLibrary(dll);
    return answer;
}
