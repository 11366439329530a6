/*
 * KXVozaDa.h: the questions that KXVozaDa.dll answers about the machine an
 * installer runs on, for C and C++. This file is the DLL's contract: the
 * calling convention below, and beside each prototype the meaning of every
 * answer. The kit's CALLING.txt takes the next paragraph from here.
 *
 * Every function uses the Windows standard calling convention (WINAPI,
 * stdcall): its arguments are 32-bit values pushed right to left and
 * removed by the DLL, and its result, a 32-bit signed integer, comes back
 * in EAX. Strings are 8-bit ANSI and zero-terminated. Yes/no answers are
 * exactly 0 or 1. Failures come back only through the result: nothing is
 * shown or logged, and every function leaves the calling thread's last
 * error (GetLastError) as it found it, on every path. Letter case is
 * folded by the DLL itself, a to z only, whatever locale the calling
 * program has set in the C runtime. Call from one thread, one call at a
 * time; each call asks the machine afresh.
 *
 * The file and program names that the DLL reads (AudCards.def, VidCards.def,
 * Kxdodaze.exe, BIOSID.EXE, BIOSID.TMP) resolve against the current
 * directory of the calling process: make the folder that holds them current
 * before asking.
 *
 * The device questions on the PCI and SCSI buses (GetAudioCardID,
 * GetGraphicsCardID, GetPCIInfo, IsDVDDrivePresent) list the installed
 * devices of their class, then take the first node of the live-device table
 * (HKEY_DYN_DATA\Config Manager\Enum) whose HardWareKey begins with one of
 * their keys. Of the installed devices at most 20 are kept, so a 21st
 * display adapter answers as absent; each key ("PCI\" or "SCSI\" and the
 * device key's name) is cut to 1023 characters. A live node that does not
 * open or has no readable HardWareKey is passed over, and the nodes after
 * it are still looked at. A subkey index of the live-device table or of
 * the installed tree that fails to enumerate is passed over too, and 16
 * such failures in a row end that level as if it held no more keys.
 *
 * Link with libKXVozaDa.a (MinGW) or KXVozaDa.lib (Microsoft's linker), or
 * load the DLL with LoadLibraryA and look the functions up by these plain
 * names with GetProcAddress; the KXVOZADA_*_FN types fit the results.
 */
#ifndef KXVOZADA_H
#define KXVOZADA_H

#include <windows.h>

#ifdef __cplusplus
extern "C" {
#endif

/* Audio card of the live PCI multimedia device, by the identifier that
 * AudCards.def in the current directory gives its description:
 *    0..9  the identifier of the last line of AudCards.def that matches;
 *          0 also when no line matches, and when no PCI multimedia device
 *          is live (card 0 and "no card" cannot be told apart)
 *   -1     a live device was found, but AudCards.def cannot be opened
 *   -2     the live-device table cannot be read: every Windows of the NT
 *          family, which has none, even without any PCI device */
int WINAPI GetAudioCardID(void);

/* Graphics card of the live PCI display adapter, by the identifier that
 * VidCards.def in the current directory gives its description:
 *   the identifier of the last line of VidCards.def that matches: 0..9999
 *        when its four identifier characters are digits. They are not
 *        checked: each counts as its byte value, read unsigned, less that
 *        of '0', so "0.1x.34." gives 8234 and any value from -52217 to
 *        229977 can come back, -1 and -2 included
 *   -1   no line matches, no PCI display adapter is live, or the
 *        live-device table cannot be read (not Windows 95/98)
 *   -2   a live adapter was found, but VidCards.def cannot be opened */
int WINAPI GetGraphicsCardID(void);

/* One identifier of the live PCI display adapter, from its hardware key
 * (PCI\VEN_vvvv&DEV_dddd&SUBSYS_ssssssss&REV_rr):
 *   selector 0: the vendor ID; 1: the device ID; 2: the upper four hex
 *   digits of the subsystem field (the lower four are never read).
 *    0..65535  the identifier; 0 also when the key lacks the field. Any
 *              other selector gives 0 too, unless the key holds "###"
 *              (Windows writes no such key): then the up to four hex
 *              digits after the character that follows it, as for a field
 *   -1         no PCI display adapter is live, or the live-device table
 *              cannot be read (not Windows 95/98) */
int WINAPI GetPCIInfo(int selector);

/* Maker of the computer, as the helper programs Kxdodaze.exe and BIOSID.EXE
 * in the current directory report it; both are started from there only,
 * never from the program's own folder, the system folders or PATH. BIOSID.EXE
 * is started with WinExec, so it may be a program of any kind, MS-DOS and
 * 16-bit Windows ones included, by the current folder's whole path in its
 * short form, quoted. Blocks for up to about 8 seconds, and while WinExec
 * waits for a windowed BIOSID.EXE to be ready for input (Windows gives it
 * up to 30 seconds), which it does in a process that has USER32 loaded, as
 * every program with a window has; the DLL itself does not import it.
 *    the exit code of Kxdodaze.exe, when it ends within 4 seconds with a
 *    code other than 0 and 259 (any 32-bit value, negative ones included);
 *    a Kxdodaze.exe that crashes ends with the exception's code, such as
 *    0xC0000005 (-1073741819), and that comes back as the identifier too
 *   70  otherwise, when BIOSID.EXE writes a BIOSID.TMP naming Gateway
 *    0  the system is not recognised, or WinExec answers 31 or less for
 *       BIOSID.EXE (not started), which ends the call at once */
int WINAPI GetSystemID(void);

/* 1  the display driver, asked through DirectDraw, creates a 100 by 100
 *    "MC12" YUV overlay surface in video memory (motion compensation)
 * 0  it does not, or DirectDraw is missing or fails. DirectDraw is loaded
 *    from the system folder only, never from the program's or the current
 *    folder */
int WINAPI IsATIMotionComp(void);

/* 1  a device of the PCI hardware tree names BroadLogic (any letter case,
 *    a to z only) as its manufacturer; registered is enough, it need not be
 *    live
 * 0  none does, or the tree cannot be read (not Windows 95/98) */
int WINAPI IsBroadLogicPresent(void);

/* description: a writable, NUL-terminated string, the beginning of a drive
 * description such as "Generic DVD-ROM". The DLL upper-cases it in place
 * (a to z only, whatever the C runtime's locale) once it has compared it
 * with a live drive: pass a copy.
 * 1  a live CD-ROM-class drive on the SCSI bus has a description that
 *    begins with the text, letter case aside
 * 0  none has, the tree cannot be read (not Windows 95/98), or the text
 *    is NULL */
int WINAPI IsDVDDrivePresent(char *description);

/* path: the file to check, relative to the current directory or absolute.
 * signature, length: the bytes the file must begin with, compared exactly;
 * no comparison when signature is NULL or length is 0 or less.
 * 1  the file opens for reading and, when asked, begins with the signature
 * 0  the file cannot be opened for reading (absent, a directory, locked
 *    for writing by another process), is shorter than the signature, its
 *    first bytes differ, or no buffer of length bytes can be had to read
 *    them into; also at once, reading nothing, for a path that opens
 *    something other than a file on a disk: a device such as NUL, CON,
 *    COM1, LPT1 or AUX (also as "nul.txt" or in a folder), or a pipe */
int WINAPI IsFileAvailable(const char *path, const void *signature, int length);

/* 1  the display driver's hardware capabilities carry bob deinterlacing of
 *    interleaved video (DDCAPS2_CANBOBINTERLEAVED)
 * 0  they do not, or DirectDraw is missing or fails (loaded from the
 *    system folder only, as for IsATIMotionComp) */
int WINAPI IsInterleavedBob(void);

/* 1  a Windows 95 release: the 9x platform with a minor version below 10
 * 0  any other Windows (98, Me, the NT family), or the version is unknown */
int WINAPI IsWin95(void);

/* The same functions as pointer types, for GetProcAddress. */
typedef int(WINAPI *KXVOZADA_ASK_FN)(void);
typedef int(WINAPI *KXVOZADA_GETPCIINFO_FN)(int selector);
typedef int(WINAPI *KXVOZADA_ISDVDDRIVEPRESENT_FN)(char *description);
typedef int(WINAPI *KXVOZADA_ISFILEAVAILABLE_FN)(const char *path, const void *signature, int length);

#ifdef __cplusplus
}
#endif

#endif /* KXVOZADA_H */
