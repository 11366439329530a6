/* An installer's view of the kit: asks every question through the
 * import library and the header alone, as C (and, compiled again, as C++),
 * and writes one line per answer to standard output in the format that the
 * NSIS sample writes. No C runtime: the program links only KXVozaDa,
 * KERNEL32 and USER32, as GNU ld or Microsoft's linker does it. */
#include "KXVozaDa.h"

static void put(const char *line)
{
    DWORD written;

    WriteFile(GetStdHandle(STD_OUTPUT_HANDLE), line, lstrlenA(line), &written, NULL);
}

static void answer(const char *question, int value)
{
    char line[128];

    wsprintfA(line, "%s=%d\r\n", question, value);
    put(line);
}

/* The DLL may upper-case the text, so it gets a copy, printed afterwards. */
static void ask_dvd_drive(const char *text)
{
    char copy[64], line[160];
    int value;

    lstrcpyA(copy, text);
    value = IsDVDDrivePresent(copy);
    wsprintfA(line, "IsDVDDrivePresent(%s)=%d %s\r\n", text, value, copy);
    put(line);
}

#ifdef __cplusplus
extern "C"
#endif
    void WINAPI
    kit_ask(void)
{
    int selector;
    char question[32];

    answer("GetAudioCardID", GetAudioCardID());
    answer("GetGraphicsCardID", GetGraphicsCardID());
    for (selector = 0; selector < 4; selector++) {
        wsprintfA(question, "GetPCIInfo(%d)", selector);
        answer(question, GetPCIInfo(selector));
    }
    answer("GetSystemID", GetSystemID());
    answer("IsATIMotionComp", IsATIMotionComp());
    answer("IsBroadLogicPresent", IsBroadLogicPresent());
    ask_dvd_drive("Generic DVD-ROM");
    ask_dvd_drive("Example CD-RW");
    answer("IsFileAvailable(VidCards.def)", IsFileAvailable("VidCards.def", NULL, 0));
    answer("IsFileAvailable(VidCards.def,0.)", IsFileAvailable("VidCards.def", "0.", 2));
    answer("IsFileAvailable(VidCards.def,1.)", IsFileAvailable("VidCards.def", "1.", 2));
    answer("IsFileAvailable(Missing.def)", IsFileAvailable("Missing.def", NULL, 0));
    answer("IsInterleavedBob", IsInterleavedBob());
    answer("IsWin95", IsWin95());
    ExitProcess(0);
}
