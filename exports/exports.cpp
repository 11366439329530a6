// Every export of KXVozaDa.def, each a call into the routine of its area.
// They are defined against the installers' own header: a C function whose
// definition parts from its prototype there does not compile, and one that
// the header lacks fails -Werror=missing-declarations; a prototype there
// without an export here fails Image.ExportsWhatTheHeaderDeclares
// (tests/pe_test.cpp).
#include "include/KXVozaDa.h"

#include "display/display.h"
#include "filecheck/file_check.h"
#include "inventory/broadlogic.h"
#include "inventory/card_id.h"
#include "inventory/dvd_drive.h"
#include "inventory/pci_query.h"
#include "sysid/sysid.h"
#include "winver/win_version.h"

namespace {

// The Windows calls of a routine leave last errors of their own, failing or
// not; each export gives the caller's back, which an installer may read
// after any call (NSIS's System plug-in does).
struct LastErrorKept {
    DWORD value = GetLastError();
    ~LastErrorKept() { SetLastError(value); }
};

} // namespace

// The device questions run their routines with no description buffer and
// no trace sink.
extern "C" int WINAPI GetAudioCardID(void)
{
    LastErrorKept kept;
    return identify_audio_card(nullptr, nullptr);
}

extern "C" int WINAPI GetGraphicsCardID(void)
{
    LastErrorKept kept;
    return identify_graphics_card(nullptr, nullptr);
}

extern "C" int WINAPI GetPCIInfo(int selector)
{
    LastErrorKept kept;
    return query_pci_identifier(selector, nullptr);
}

extern "C" int WINAPI GetSystemID(void)
{
    LastErrorKept kept;
    return identify_system();
}

extern "C" int WINAPI IsATIMotionComp(void)
{
    LastErrorKept kept;
    return display_offers_motion_comp();
}

extern "C" int WINAPI IsBroadLogicPresent(void)
{
    LastErrorKept kept;
    return detect_broadlogic_device();
}

// The caller's text is upper-cased in place once a live drive is compared
// with it, so it must be writable.
extern "C" int WINAPI IsDVDDrivePresent(char *description)
{
    LastErrorKept kept;
    return detect_dvd_drive(description, nullptr);
}

extern "C" int WINAPI IsFileAvailable(const char *path, const void *signature, int length)
{
    LastErrorKept kept;
    return file_available(path, (const BYTE *)signature, length);
}

extern "C" int WINAPI IsInterleavedBob(void)
{
    LastErrorKept kept;
    return display_bobs_interleaved();
}

extern "C" int WINAPI IsWin95(void)
{
    LastErrorKept kept;
    return running_windows_95();
}
