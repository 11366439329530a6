/* Kxdodaze.exe stand-in: runs for KX_DODAZE_RUN_MS milliseconds, then
 * exits with KX_DODAZE_EXIT (decimal, -1 for all bits set; 0 when unset).
 * Both come from the environment it inherits. */
#include <windows.h>
#include <stdlib.h>

static DWORD setting(const char *name)
{
    char text[32];

    if (!GetEnvironmentVariableA(name, text, sizeof(text)))
        return 0;
    return (DWORD)strtoul(text, NULL, 0);
}

int main(void)
{
    Sleep(setting("KX_DODAZE_RUN_MS"));
    ExitProcess(setting("KX_DODAZE_EXIT"));
}
