// GetSystemID: the maker of this computer, as reported by two helper
// programs in the installer's current folder.
#include "sysid/sysid.h"

#include "base/unique.h"

#include <windows.h>

#include <cstring>

// An installer is kept waiting about four seconds per helper at most:
// Kxdodaze.exe gets that long to exit, BIOSID.EXE four polls a second apart
// to leave its file.
enum { kGatewayId = 70, kExitCodeWaitMs = 4000, kPolls = 4, kPollPauseMs = 1000 };

// Kxdodaze.exe is started hidden by its bare name as the application name,
// which CreateProcessA takes from the current folder alone; a bare command
// line would search the calling program's own folder, the system folders
// and PATH first.
static bool start_exit_code_helper(PROCESS_INFORMATION &process)
{
    STARTUPINFOA startup;

    memset(&startup, 0, sizeof(startup));
    startup.cb = sizeof(startup);
    startup.dwFlags = STARTF_USESHOWWINDOW;
    startup.wShowWindow = SW_HIDE;
    return CreateProcessA("Kxdodaze.exe", NULL, NULL, NULL, FALSE, NORMAL_PRIORITY_CLASS, NULL, NULL, &startup,
                          &process);
}

// Kxdodaze.exe answers with its exit code. 0 means it does not know the
// system, and STILL_ACTIVE is what a process that has not ended reports,
// so neither is an answer. A helper that takes too long is left running.
static int ask_exit_code_helper(void)
{
    PROCESS_INFORMATION process;
    DWORD code = STILL_ACTIVE;

    if (!start_exit_code_helper(process))
        return 0;
    // The process handle is closed first, then the thread's.
    UniqueHandle thread(process.hThread), child(process.hProcess);
    bool ended =
        WaitForSingleObject(child.get(), kExitCodeWaitMs) == WAIT_OBJECT_0 && GetExitCodeProcess(child.get(), &code);
    return ended && code != STILL_ACTIVE ? (int)code : 0;
}

// BIOSID.EXE may be a program of any kind, an MS-DOS or 16-bit Windows one
// among them, as only WinExec starts them all; WinExec also waits until a
// windowed program is ready for input, through USER32 where the calling
// process has it loaded, as an installer, a program with a window, has;
// the DLL does not import it. Its command line names the program
// by its whole path, for a bare name would be looked for in the calling
// program's folder, the system folders and PATH first: the current folder
// in its short form, which fits where the long one may not and which an
// MS-DOS program can take, and quoted, as a short form may still hold a
// space where a volume keeps no short names.
static bool start_result_file_helper(void)
{
    static const char kProgram[] = "\\BIOSID.EXE\"";
    char folder[MAX_PATH], command[1 + MAX_PATH + sizeof(kProgram)];
    DWORD length = GetCurrentDirectoryA(sizeof(folder), folder);

    if (!length || length >= sizeof(folder))
        return false;
    length = GetShortPathNameA(folder, command + 1, MAX_PATH);
    if (!length || length >= MAX_PATH)
        return false;
    // A folder at the root of a drive ends in its own backslash.
    command[0] = '"';
    memcpy(command + 1 + length - (command[length] == '\\'), kProgram, sizeof(kProgram));
    return WinExec(command, SW_HIDE) > 31;
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
    if (!start_result_file_helper())
        return 0;
    UniqueFile file(wait_for_result_file());
    if (!file)
        return 0;
    int id = read_result_file(file.get());
    // Windows deletes no file that is open.
    file.reset();
    DeleteFileA("BIOSID.TMP");
    return id;
}

int identify_system(void)
{
    int id = ask_exit_code_helper();
    return id ? id : ask_result_file_helper();
}
