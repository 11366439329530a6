/* BIOSID.EXE stand-in, set through the environment it inherits:
 *   KX_BIOSID_BYTES     "hex:" and the hex digits of what to write to
 *                       BIOSID.TMP; when unset nothing is written
 *   KX_BIOSID_DELAY_MS  wait before creating the file
 *   KX_BIOSID_HOLD_MS   keep the file open this long after writing it
 *   KX_BIOSID_READY     name of an event set once the file is written, and
 *                       closed unless it is being held
 * The file is opened for writing with read sharing, as a program that
 * lets others look while it writes would. */
#include <windows.h>
#include <stdlib.h>
#include <string.h>

static DWORD setting(const char *name)
{
    char text[32];

    if (!GetEnvironmentVariableA(name, text, sizeof(text)))
        return 0;
    return (DWORD)strtoul(text, NULL, 0);
}

static void signal_ready(void)
{
    char name[MAX_PATH];
    HANDLE ready;

    if (!GetEnvironmentVariableA("KX_BIOSID_READY", name, sizeof(name)))
        return;
    if ((ready = OpenEventA(EVENT_MODIFY_STATE, FALSE, name))) {
        SetEvent(ready);
        CloseHandle(ready);
    }
}

static HANDLE write_result(const char *hex)
{
    HANDLE file =
        CreateFileA("BIOSID.TMP", GENERIC_WRITE, FILE_SHARE_READ, NULL, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, NULL);
    char digits[3] = {0};
    DWORD written;

    for (; hex[0] && hex[1]; hex += 2) {
        BYTE byte;
        digits[0] = hex[0];
        digits[1] = hex[1];
        byte = (BYTE)strtoul(digits, NULL, 16);
        WriteFile(file, &byte, 1, &written, NULL);
    }
    return file;
}

int main(void)
{
    static char hex[8192];
    DWORD hold = setting("KX_BIOSID_HOLD_MS");
    HANDLE file;

    if (!GetEnvironmentVariableA("KX_BIOSID_BYTES", hex, sizeof(hex)) || strncmp(hex, "hex:", 4)) {
        signal_ready();
        return 0;
    }
    Sleep(setting("KX_BIOSID_DELAY_MS"));
    file = write_result(hex + 4);
    if (!hold)
        CloseHandle(file);
    signal_ready();
    if (hold) {
        Sleep(hold);
        CloseHandle(file);
    }
    return 0;
}
