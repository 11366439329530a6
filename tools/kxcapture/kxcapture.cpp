// kxcapture: what a customer double-clicks to capture the machine for
// support. One window and no questions: the capture goes to a new file
// beside the program, or to the temporary folder where the program's own
// folder cannot be written (a CD-ROM, a read-only share), and the window
// says where, with the answers that the capture holds.
//
// It starts on every 32-bit Windows from 95 on, as kxprobe does: no C
// runtime start-up code, its own entry point, a dialog from its resources
// with the plain controls of USER32, and fixed buffers.
#include "capture.h"
#include "resource.h"

#include <windows.h>

#include <cstring>

enum { kCaptured = WM_APP }; // posted by the capture's thread as it ends

// Long enough for a few hundred answer lines; a Windows 9x edit control
// holds at most 64 KB.
enum { kAnswersSize = 32768, kNoteSize = 1024 };

static struct {
    HWND dialog;
    HANDLE thread; // while the capture runs
    bool saved;
    char path[MAX_PATH];
    char note[kNoteSize];          // why the file is in the temporary folder, if it is
    char error[kProfileErrorSize]; // why nothing was saved
    char answers[kAnswersSize];
} g_capture;

// Appends `text` to the zero-terminated `buffer` of `size` bytes, cut at
// its end.
static void append(char *buffer, size_t size, const char *text)
{
    const size_t used = strlen(buffer);
    lstrcpynA(buffer + used, text, (int)(size - used));
}

static void append_windows_error(char *buffer, size_t size, DWORD code)
{
    const size_t used = strlen(buffer);
    windows_error_text(code, buffer + used, (unsigned long)(size - used));
}

// The machine's network name, as a file name may hold it.
static void machine_name(char (&name)[MAX_COMPUTERNAME_LENGTH + 1])
{
    DWORD length = sizeof name;
    if (!GetComputerNameA(name, &length) || !length)
        lstrcpynA(name, "machine", sizeof name);
    for (char *c = name; *c; ++c) {
        const bool plain = (*c >= 'A' && *c <= 'Z') || (*c >= 'a' && *c <= 'z') || (*c >= '0' && *c <= '9');
        if (!plain && *c != '-')
            *c = '_';
    }
}

// Claims a new file for the capture in `folder`: "NAME-2026-12-09-153005.reg",
// with "-2" and on after it where that is taken, so that no capture
// replaces another. The capture makes the file itself, so the claim only
// tries that the folder takes it. ERROR_SUCCESS with the file's path, or
// why the folder takes none.
static DWORD claim_file(const char *folder, char (&path)[MAX_PATH])
{
    char name[MAX_COMPUTERNAME_LENGTH + 1];
    machine_name(name);
    SYSTEMTIME now;
    GetLocalTime(&now);
    char stem[64];
    wsprintfA(stem, "%s-%04u-%02u-%02u-%02u%02u%02u", name, now.wYear, now.wMonth, now.wDay, now.wHour, now.wMinute,
              now.wSecond);
    for (int serial = 1; serial < 100; ++serial) {
        char file[80];
        wsprintfA(file, serial == 1 ? "%s.reg" : "%s-%d.reg", stem, serial);
        if (strlen(folder) + strlen(file) >= sizeof path)
            return ERROR_FILENAME_EXCED_RANGE;
        lstrcpynA(path, folder, sizeof path);
        append(path, sizeof path, file);
        HANDLE claimed = CreateFileA(path, GENERIC_WRITE, 0, nullptr, CREATE_NEW, FILE_ATTRIBUTE_NORMAL, nullptr);
        if (claimed != INVALID_HANDLE_VALUE) {
            CloseHandle(claimed);
            DeleteFileA(path);
            return ERROR_SUCCESS;
        }
        const DWORD error = GetLastError();
        if (error != ERROR_FILE_EXISTS && error != ERROR_ALREADY_EXISTS)
            return error;
    }
    return ERROR_FILE_EXISTS;
}

// The folders that the capture may go to, each written to `folder` with
// its trailing backslash; false when there is none.
static bool program_folder(char (&folder)[MAX_PATH])
{
    const DWORD length = GetModuleFileNameA(nullptr, folder, sizeof folder);
    char *slash = length && length < sizeof folder ? strrchr(folder, '\\') : nullptr;
    if (slash)
        slash[1] = 0;
    return slash != nullptr;
}

static bool temporary_folder(char (&folder)[MAX_PATH])
{
    const DWORD length = GetTempPathA(sizeof folder, folder);
    return length && length < sizeof folder;
}

// Windows 95 answers GetTempPath with the current folder when neither TMP
// nor TEMP is set, which is the program's own when Explorer starts it; the
// Windows folder's TEMP is there on every installation.
static bool windows_temporary_folder(char (&folder)[MAX_PATH])
{
    const UINT length = GetWindowsDirectoryA(folder, sizeof folder);
    if (!length || length + 6 > sizeof folder)
        return false;
    append(folder, sizeof folder, folder[length - 1] == '\\' ? "TEMP\\" : "\\TEMP\\");
    return true;
}

// Picks the file to capture to: beside the program, else in the temporary
// folder, saying in the note why. False, with each folder's reason in the
// error, when no folder takes a file.
static bool choose_file()
{
    static bool (*const kFolders[])(char(&)[MAX_PATH]) = {program_folder, temporary_folder, windows_temporary_folder};
    char tried[3][MAX_PATH] = {};
    lstrcpynA(g_capture.error, "No folder could be written:", sizeof g_capture.error);
    for (int i = 0; i < 3; ++i) {
        if (!kFolders[i](tried[i]))
            continue;
        bool again = false;
        for (int j = 0; j < i; ++j)
            again = again || !lstrcmpiA(tried[i], tried[j]);
        if (again)
            continue;
        const DWORD error = claim_file(tried[i], g_capture.path);
        if (error == ERROR_SUCCESS) {
            g_capture.error[0] = 0;
            return true;
        }
        char reason[kProfileErrorSize] = "";
        append_windows_error(reason, sizeof reason, error);
        append(g_capture.error, sizeof g_capture.error, i ? "; " : " ");
        append(g_capture.error, sizeof g_capture.error, tried[i]);
        append(g_capture.error, sizeof g_capture.error, ": ");
        append(g_capture.error, sizeof g_capture.error, reason);
        if (i == 0) {
            append(g_capture.note, sizeof g_capture.note, "This program's folder, ");
            append(g_capture.note, sizeof g_capture.note, tried[i]);
            append(g_capture.note, sizeof g_capture.note,
                   ", cannot be written, so the file was saved in the temporary folder: ");
            append(g_capture.note, sizeof g_capture.note, reason);
        }
    }
    return false;
}

static void add_answer(void *, const char *text)
{
    append(g_capture.answers, sizeof g_capture.answers, text);
    append(g_capture.answers, sizeof g_capture.answers, "\r\n");
}

static DWORD WINAPI capture_thread(void *)
{
    g_capture.saved = capture_machine(g_capture.path, add_answer, nullptr, g_capture.error);
    PostMessageA(g_capture.dialog, kCaptured, 0, 0);
    return 0;
}

static void show_result(HWND dialog)
{
    const bool saved = g_capture.saved;
    SetDlgItemTextA(dialog, IDC_HEADING,
                    saved ? "This machine was captured to the file:"
                          : "This machine could not be captured, and nothing was saved.");
    SetDlgItemTextA(dialog, IDC_PATH, saved ? g_capture.path : "");
    SetDlgItemTextA(dialog, IDC_ADVICE,
                    saved ? "Please send this file to support." : "Please tell support what this window says.");
    const char *note =
        *g_capture.note ? g_capture.note : "Capturing only reads this machine: nothing on it was changed.";
    SetDlgItemTextA(dialog, IDC_NOTE, saved ? note : g_capture.error);
    SetDlgItemTextA(dialog, IDC_ANSWERS, g_capture.answers);
    EnableWindow(GetDlgItem(dialog, IDC_OPEN), saved);
    HWND close = GetDlgItem(dialog, IDCANCEL);
    EnableWindow(close, TRUE);
    SendMessageA(dialog, WM_NEXTDLGCTL, (WPARAM)close, TRUE);
}

// The capture runs on a thread of its own, so that the window is drawn
// and answers messages meanwhile: the helper programs of GetSystemID may
// broadcast to every top-level window and wait for each to answer.
static void start_capture(HWND dialog)
{
    g_capture.dialog = dialog;
    if (choose_file()) {
        DWORD id;
        g_capture.thread = CreateThread(nullptr, 0, capture_thread, nullptr, 0, &id);
        if (g_capture.thread)
            return;
        lstrcpynA(g_capture.error, "The capture could not be started: ", sizeof g_capture.error);
        append_windows_error(g_capture.error, sizeof g_capture.error, GetLastError());
    }
    show_result(dialog);
}

static void end_capture(HWND dialog)
{
    WaitForSingleObject(g_capture.thread, INFINITE);
    CloseHandle(g_capture.thread);
    g_capture.thread = nullptr;
    show_result(dialog);
}

// Explorer opens the folder with the file selected; /select is one of its
// switches since Windows 95.
static void open_folder(HWND dialog)
{
    char command[MAX_PATH + 32];
    wsprintfA(command, "explorer.exe /select,\"%s\"", g_capture.path);
    const UINT started = WinExec(command, SW_SHOWNORMAL);
    if (started > 31)
        return;
    char text[kProfileErrorSize] = "The folder could not be opened: ";
    append_windows_error(text, sizeof text, started ? started : ERROR_NOT_ENOUGH_MEMORY);
    MessageBoxA(dialog, text, KX_CAPTURE_TITLE, MB_OK | MB_ICONEXCLAMATION);
}

static INT_PTR CALLBACK capture_dialog(HWND dialog, UINT message, WPARAM wparam, LPARAM)
{
    switch (message) {
    case WM_INITDIALOG:
        start_capture(dialog);
        return TRUE;
    case kCaptured:
        end_capture(dialog);
        return TRUE;
    case WM_COMMAND:
        if (LOWORD(wparam) == IDC_OPEN)
            open_folder(dialog);
        // A capture cut off would leave half a file: the window stays
        // until it ends.
        else if (LOWORD(wparam) == IDCANCEL && !g_capture.thread)
            EndDialog(dialog, g_capture.saved ? 0 : 1);
        return TRUE;
    default:
        return FALSE;
    }
}

// The image's entry point. The exit status is 0 when the machine was
// captured, 1 when not, 2 when the window could not be made.
extern "C" void kxcapture_start()
{
    const INT_PTR status =
        DialogBoxParamA(GetModuleHandleA(nullptr), MAKEINTRESOURCEA(IDD_CAPTURE), nullptr, capture_dialog, 0);
    ExitProcess(status < 0 ? 2 : (UINT)status);
}
