// The Windows version question behind IsWin95.
#pragma once

// 1 on a Windows 95 release, otherwise 0, also when the version cannot be
// read.
int running_windows_95(void);
