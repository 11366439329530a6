// kxcapture: what a customer double-clicks to capture the machine for
// support. One window and no questions: the capture goes to a new file
// beside the program, or to the temporary folder where the program's own
// folder cannot be written (a CD-ROM, a read-only share), and the window
// says where, with the answers that the capture holds. It asks and captures
// with kxprobe's own routines, so that its file is the one that kxprobe
// --capture writes, and kxprobe --profile replays.
//
// It starts on every 32-bit Windows from 95 on, as kxprobe does: no C
// runtime start-up code, its own entry point, a dialog from its resources
// with the plain controls of USER32, and fixed buffers.
#include "resource.h"

#include "base/windows_error.h"
#include "tools/exports/export_table.h"
#include "tools/kxprobe/machine_capture.h"
#include "tools/kxprobe/output.h"

#include <windows.h>

#include <cstring>

namespace {

enum { kCaptured = WM_APP }; // posted by the capture's thread as it ends

enum { kNoteSize = 1024 };

// The exit status: as kxprobe's, 1 when KXVozaDa.dll did not load or lacks
// an export, the machine being captured all the same.
enum Status { kSaved, kSavedWithoutAnswers, kNotSaved };

} // namespace

static struct {
    HWND dialog;
    HANDLE thread; // while the capture runs
    Status status;
    bool waiting; // the note says what a question waits for
    char path[MAX_PATH];
    char note[kNoteSize];          // why the file is in the temporary folder, if it is, and why answers lack
    char error[kProfileErrorSize]; // why nothing was saved
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
        UniqueFile claimed(CreateFileA(path, GENERIC_WRITE, 0, nullptr, CREATE_NEW, FILE_ATTRIBUTE_NORMAL, nullptr));
        if (claimed) {
            claimed.reset();
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

// The capture's comment lines go to the answers box as they are kept, from
// the capture's thread; the window's thread draws them meanwhile.
static void show_line(void *, const char *line)
{
    HWND box = GetDlgItem(g_capture.dialog, IDC_ANSWERS);
    if (g_capture.waiting)
        SetDlgItemTextA(g_capture.dialog, IDC_NOTE, "");
    g_capture.waiting = false;
    const int end = GetWindowTextLengthA(box);
    SendMessageA(box, EM_SETSEL, end, end);
    SendMessageA(box, EM_REPLACESEL, FALSE, (LPARAM)line);
    SendMessageA(box, EM_REPLACESEL, FALSE, (LPARAM) "\r\n");
}

static void show_waiting(void *, const char *text)
{
    char note[kNoteSize] = "Please wait: ";
    append(note, sizeof note, text);
    append(note, sizeof note, ".");
    SetDlgItemTextA(g_capture.dialog, IDC_NOTE, note);
    g_capture.waiting = true;
}

// Why the file holds no answers, or not every one, after the note.
static void say_answers_lack(bool dll, DWORD load_error, bool complete)
{
    char *const note = g_capture.note;
    if (*note)
        append(note, kNoteSize, " ");
    if (dll && !complete)
        append(note, kNoteSize,
               "This KXVozaDa.dll does not answer every question: the lines below name those it lacks, and the "
               "file holds the answers it gave.");
    if (dll)
        return;
    append(note, kNoteSize, "KXVozaDa.dll, which must be in the same folder as this program, does not load: ");
    const size_t used = strlen(note);
    windows_error_text(load_error, note + used, (unsigned long)(kNoteSize - used),
                       dll_file("KXVozaDa.dll", load_error));
    append(note, kNoteSize,
           " The file holds this machine's devices without their answers; please send it all the same.");
}

// KXVozaDa.dll is the one beside the program, which Windows finds first,
// asked in the program's folder, which Explorer makes current.
static DWORD WINAPI capture_thread(void *)
{
    DWORD load_error;
    UniqueModule dll(load_kxvozada(load_error));
    static const CaptureWatcher watcher = {show_line, show_waiting, nullptr};
    const MachineCapture capture = {g_capture.path,
                                    "kxcapture " KX_VERSION,
                                    dll.get(),
                                    load_error,
                                    {kDefaultDvdText, nullptr, nullptr, nullptr},
                                    nullptr,
                                    &watcher};
    bool complete;
    const bool saved = capture_machine(capture, complete, g_capture.error);
    const bool loaded = (bool)dll;
    dll.reset();
    g_capture.status = !saved ? kNotSaved : loaded && complete ? kSaved : kSavedWithoutAnswers;
    if (g_capture.status == kSavedWithoutAnswers)
        say_answers_lack(loaded, load_error, complete);
    if (!saved)
        CharUpperBuffA(g_capture.error, 1); // "Cannot capture ..."
    PostMessageA(g_capture.dialog, kCaptured, 0, 0);
    return 0;
}

static void show_result(HWND dialog)
{
    const bool saved = g_capture.status != kNotSaved;
    SetDlgItemTextA(dialog, IDC_HEADING,
                    saved ? "This machine was captured to the file:"
                          : "This machine could not be captured, and nothing was saved.");
    SetDlgItemTextA(dialog, IDC_PATH, saved ? g_capture.path : "");
    SetDlgItemTextA(dialog, IDC_ADVICE,
                    saved ? "Please send this file to support." : "Please tell support what this window says.");
    const char *note =
        *g_capture.note ? g_capture.note : "Capturing only reads this machine: nothing on it was changed.";
    SetDlgItemTextA(dialog, IDC_NOTE, saved ? note : g_capture.error);
    // Support reads the lines from the first, which the box followed down.
    HWND box = GetDlgItem(dialog, IDC_ANSWERS);
    SendMessageA(box, EM_SETSEL, 0, 0);
    SendMessageA(box, EM_SCROLLCARET, 0, 0);
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
    g_capture.status = kNotSaved;
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
    const UniqueHandle thread(g_capture.thread);
    g_capture.thread = nullptr;
    WaitForSingleObject(thread.get(), INFINITE);
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

static INT_PTR CALLBACK lender_dialog(HWND, UINT, WPARAM, LPARAM)
{
    return FALSE;
}

// The answers box is read aloud over the telephone, so its lines are set in
// a fixed-pitch font, up to the most text that a Windows 9x edit control
// holds. The dialog manager makes a template's font and keeps it while the
// dialog lives: a hidden child dialog lends it, since nothing here imports
// GDI32 to make one.
static void prepare_answers_box(HWND dialog)
{
    HWND box = GetDlgItem(dialog, IDC_ANSWERS);
    SendMessageA(box, EM_LIMITTEXT, 0, 0);
    HWND lender =
        CreateDialogParamA(GetModuleHandleA(nullptr), MAKEINTRESOURCEA(IDD_FIXED_FONT), dialog, lender_dialog, 0);
    if (lender)
        SendMessageA(box, WM_SETFONT, SendMessageA(lender, WM_GETFONT, 0, 0), FALSE);
}

static INT_PTR CALLBACK capture_dialog(HWND dialog, UINT message, WPARAM wparam, LPARAM)
{
    switch (message) {
    case WM_INITDIALOG:
        prepare_answers_box(dialog);
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
            EndDialog(dialog, g_capture.status);
        return TRUE;
    default:
        return FALSE;
    }
}

// The image's entry point; the exit status is a Status, kNotSaved when the
// window could not be made.
extern "C" void kxcapture_start()
{
    const INT_PTR status =
        DialogBoxParamA(GetModuleHandleA(nullptr), MAKEINTRESOURCEA(IDD_CAPTURE), nullptr, capture_dialog, 0);
    ExitProcess(status < 0 ? (UINT)kNotSaved : (UINT)status);
}
