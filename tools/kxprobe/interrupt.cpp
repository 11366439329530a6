// The console runs its control handlers on a thread of their own, while the
// load goes on: the handler only raises the flag that the load reads.
#include "interrupt.h"

#include "output.h"

#include "profile/profile.h"

#include <windows.h>

static volatile long g_interrupted;

// Closing the window, logging off and shutting down end the process once
// the handlers return, however they answer; those are left to the next
// handler.
static BOOL WINAPI on_console_event(DWORD event)
{
    if (event != CTRL_C_EVENT && event != CTRL_BREAK_EVENT)
        return FALSE;
    g_interrupted = 1;
    return TRUE;
}

InterruptibleLoad::InterruptibleLoad()
{
    char left[kProfilePathSize];
    if (profile_left_behind(left))
        out_format(kStderr,
                   "kxprobe: a load that was cut off left the hardware tree that it replaced in %s; "
                   "--profile with that file puts it back\r\n",
                   left);
    g_interrupted = 0;
    profile_stop_when(&g_interrupted);
    SetConsoleCtrlHandler(on_console_event, TRUE);
}

InterruptibleLoad::~InterruptibleLoad()
{
    SetConsoleCtrlHandler(on_console_event, FALSE);
    profile_stop_when(nullptr);
}
