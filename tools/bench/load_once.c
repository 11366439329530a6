/* kxloadonce NAME [window]: times the first LoadLibraryA and FreeLibrary of
 * the library NAME in this fresh process and exits with the time in
 * microseconds, or -1 when it does not load. With "window", USER32 is loaded
 * first, as every program with a window has it. Wine keeps a system library
 * loaded once anything has loaded it, so this is the only way to see again
 * what loading a library costs when it brings its imports along. */
#include <windows.h>

int main(int argc, char **argv)
{
    LARGE_INTEGER frequency, start, end;
    HMODULE module;

    if (argc < 2)
        return -1;
    if (argc > 2)
        LoadLibraryA("USER32.dll");
    QueryPerformanceFrequency(&frequency);
    QueryPerformanceCounter(&start);
    module = LoadLibraryA(argv[1]);
    if (!module)
        return -1;
    FreeLibrary(module);
    QueryPerformanceCounter(&end);
    return (int)((end.QuadPart - start.QuadPart) * 1000000 / frequency.QuadPart);
}
