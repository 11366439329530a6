// GetSystemID: the maker of this computer, as reported by two helper
// programs in the installer's current folder.
#include "sysid/sysid.h"

#include <windows.h>

#include <cstring>

// An installer is kept waiting about four seconds per helper at most:
// Kxdodaze.exe gets that long to exit, BIOSID.EXE four polls a second apart
// to leave its file.
enum { kGatewayId = 70, kExitCodeWaitMs = 4000, kPolls = 4, kPollPauseMs = 1000 };

// Both helpers are started hidden by their bare names as the application
// name, which CreateProcessA takes from the current folder alone. WinExec
// and a bare command line would search the calling program's own folder,
// the system folders and PATH first.
static bool start_helper(const char *program, char *command, PROCESS_INFORMATION &process)
{
    STARTUPINFOA startup;

    memset(&startup, 0, sizeof(startup));
    startup.cb = sizeof(startup);
    startup.dwFlags = STARTF_USESHOWWINDOW;
    startup.wShowWindow = SW_HIDE;
    return CreateProcessA(program, command, NULL, NULL, FALSE, NORMAL_PRIORITY_CLASS, NULL, NULL, &startup, &process);
}

static void close_helper(PROCESS_INFORMATION &process)
{
    CloseHandle(process.hProcess);
    CloseHandle(process.hThread);
}

// Kxdodaze.exe answers with its exit code. 0 means it does not know the
// system, and STILL_ACTIVE is what a process that has not ended reports,
// so neither is an answer. A helper that takes too long is left running.
static int ask_exit_code_helper(void)
{
    PROCESS_INFORMATION process;
    DWORD code = STILL_ACTIVE;
    int id = 0;

    if (!start_helper("Kxdodaze.exe", NULL, process))
        return 0;
    if (WaitForSingleObject(process.hProcess, kExitCodeWaitMs) == WAIT_OBJECT_0 &&
        GetExitCodeProcess(process.hProcess, &code) && code != STILL_ACTIVE)
        id = (int)code;
    close_helper(process);
    return id;
}

// While BIOSID.EXE still holds BIOSID.TMP open for writing, a read-only
// open that shares only reading is refused, so a half-written file is
// never read.
static HANDLE wait_for_result_file(void)
{
    for (int poll = 0; poll < kPolls; ++poll) {
        Sleep(kPollPauseMs);
        HANDLE file = CreateFileA("BIOSID.TMP", GENERIC_READ, FILE_SHARE_READ, NULL, OPEN_EXISTING, 0, NULL);
        if (file != INVALID_HANDLE_VALUE)
            return file;
    }
    return INVALID_HANDLE_VALUE;
}

// The maker's name stands near the start of the file: only its first 511
// bytes are searched.
static int read_result_file(HANDLE file)
{
    char text[512];
    DWORD size = 0;

    if (!ReadFile(file, text, sizeof(text) - 1, &size, NULL))
        return 0;
    text[size] = 0;
    return strstr(text, "Gateway") || strstr(text, "GATEWAY") ? kGatewayId : 0;
}

static int ask_result_file_helper(void)
{
    // BIOSID.EXE is never waited for: it only has to leave its file behind.
    char command[] = "BIOSID.EXE";
    PROCESS_INFORMATION process;

    if (!start_helper("BIOSID.EXE", command, process))
        return 0;
    close_helper(process);
    HANDLE file = wait_for_result_file();
    if (file == INVALID_HANDLE_VALUE)
        return 0;
    int id = read_result_file(file);
    CloseHandle(file);
    DeleteFileA("BIOSID.TMP");
    return id;
}

int identify_system(void)
{
    int id = ask_exit_code_helper();
    return id ? id : ask_result_file_helper();
}
