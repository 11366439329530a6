#include "winver/win_version.h"

#include <windows.h>

// Windows 95 reports platform 1 with minor version 0; Windows 98 and Me
// report minor versions 10 and 90 on the same platform. Only the platform
// and the minor version are looked at.
int running_windows_95(void)
{
    OSVERSIONINFOA info;

    info.dwOSVersionInfoSize = sizeof(info);
    if (!GetVersionExA(&info))
        return 0;
    return info.dwPlatformId == VER_PLATFORM_WIN32_WINDOWS && info.dwMinorVersion < 10;
}
