#include "machine.h"

#include "command_line.h"
#include "interrupt.h"
#include "machine_capture.h"
#include "output.h"
#include "replay.h"

#include "base/unique.h"
#include "profile/profile.h"
#include "tools/exports/export_table.h"

int windows_error(const char *what, const char *name, unsigned long code, int status, const char *file)
{
    static Text error;
    const TextInUse in_use(error);
    text_windows_error(error, code, file);
    out_format(kStderr, "kxprobe: %s %s: %s\r\n", what, name, error.text());
    return status;
}

// Wine's ntdll exports wine_get_version; no Windows release does.
bool running_under_wine()
{
    HMODULE ntdll = GetModuleHandleA("ntdll.dll");
    return ntdll && GetProcAddress(ntdll, "wine_get_version");
}

// Progress is for a person watching: only a console gets it, so that it
// never mixes into output that a program reads, and only once the work
// has taken a second.
static DWORD g_started;
static bool g_reported;

static void report_progress(const char *doing, const char *path, unsigned long keys)
{
    if (GetTickCount() - g_started < 1000 || !out_is_console(kStderr))
        return;
    out_format(kStderr, "\rkxprobe: %s %s: %lu keys", doing, path, keys);
    g_reported = true;
}

static void start_progress()
{
    g_started = GetTickCount();
    g_reported = false;
    profile_report_progress(report_progress);
}

static void end_progress()
{
    if (g_reported)
        out_text(kStderr, "\r\n");
    profile_report_progress(nullptr);
}

int load_profile(const char *path)
{
    if (!running_under_wine()) {
        out_text(kStderr, "kxprobe: --profile rewrites the hardware tree; refused outside Wine\r\n");
        return kUsageError;
    }
    static char error[kProfileErrorSize];
    unsigned long skipped = 0;
    start_progress();
    const InterruptibleLoad interruptible;
    bool loaded = profile_load(path, error, &skipped, replay_reader());
    end_progress();
    if (!loaded) {
        out_format(kStderr, "kxprobe: %s\r\n", error);
        return kUsageError;
    }
    replay_read_registry();
    if (skipped)
        out_format(kStderr,
                   "kxprobe: %s: %lu keys outside HKLM\\Enum\\PCI, HKLM\\Enum\\SCSI and "
                   "HKEY_DYN_DATA\\Config Manager\\Enum passed over\r\n",
                   path, skipped);
    return kOk;
}

int capture(const char *path, const AskOptions &ask, HMODULE dll, DWORD load_error, const AnswerSink *show,
            bool &complete)
{
    const MachineCapture machine = {path, "kxprobe " KX_VERSION, dll, load_error, ask, show, nullptr};
    static char error[kProfileErrorSize];
    start_progress();
    bool captured = capture_machine(machine, complete, error);
    end_progress();
    if (!captured) {
        out_format(kStderr, "kxprobe: %s\r\n", error);
        return kUsageError;
    }
    return kOk;
}

// Runs the program in this Wine session, with the replayed machine still
// there, waits for it and answers with its exit status.
static int run_program(const Options &options, const char *program)
{
    UniqueHeap<char> command(join_command_line(options.run, options.run_count));
    if (!command)
        return windows_error("--run", options.run[0], ERROR_NOT_ENOUGH_MEMORY, kUsageError);
    STARTUPINFOA startup = {};
    startup.cb = sizeof(startup);
    PROCESS_INFORMATION process;
    if (!CreateProcessA(program, command.get(), nullptr, nullptr, TRUE, 0, nullptr, nullptr, &startup, &process))
        return windows_error("cannot start", options.run[0], GetLastError(), kUsageError);
    UniqueHandle thread(process.hThread), child(process.hProcess);
    DWORD status = kUsageError;
    WaitForSingleObject(child.get(), INFINITE);
    GetExitCodeProcess(child.get(), &status);
    return (int)status;
}

int capture_then_run(const Options &options, const AskOptions &ask, const char *program)
{
    if (options.capture) {
        DWORD load_error;
        UniqueModule dll(load_kxvozada(load_error));
        bool complete;
        int status = capture(options.capture, ask, dll.get(), load_error, nullptr, complete);
        if (status != kOk)
            return status;
    }
    return run_program(options, program);
}
