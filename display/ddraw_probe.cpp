// IsATIMotionComp and IsInterleavedBob: two questions put to the display
// driver through DirectDraw. ddraw.dll is loaded on every call, so the
// library has no load-time dependency on it and a machine without
// DirectDraw simply answers 0.
#define DIRECTDRAW_VERSION 0x0500
#include "display/display.h"

#include "base/unique.h"

#include <windows.h>
#include <ddraw.h>

#include <cstring>

// The DirectX 5 sizes that every DirectDraw from 5 on accepts.
static_assert(sizeof(DDSURFACEDESC) == 108, "surface request must be 108 bytes");
static_assert(sizeof(DDCAPS) == 364, "capability record must be 364 bytes");

// Defined here so that no GUID library is linked.
EXTERN_C const GUID IID_IDirectDraw2 = {0xB3A6F3E0, 0x2B43, 0x11CF, {0xA2, 0xDE, 0x00, 0xAA, 0x00, 0xB9, 0x33, 0x56}};

typedef HRESULT(WINAPI *DirectDrawCreateProc)(GUID *, IDirectDraw **, IUnknown *);
typedef int (*DisplayQuestion)(IDirectDraw2 *display);

// Only DD_OK counts as an answer. A call that returns another success code
// has still handed out a reference, which its guard gives back; after a
// failure code the pointer is not the caller's and is dropped unreleased.
template <class Interface> static bool obtained(HRESULT result, UniqueCom<Interface> &object)
{
    if (FAILED(result))
        object.release();
    return result == DD_OK && object;
}

// A 100 by 100 overlay in video memory in the "MC12" YUV format, which a
// driver offers only when it does ATI motion compensation.
static int creates_motion_comp_overlay(IDirectDraw2 *display)
{
    DDSURFACEDESC request = {};
    UniqueCom<IDirectDrawSurface> surface;

    request.dwSize = sizeof(request);
    request.dwFlags = DDSD_CAPS | DDSD_HEIGHT | DDSD_WIDTH | DDSD_PIXELFORMAT;
    request.dwHeight = 100;
    request.dwWidth = 100;
    request.ddpfPixelFormat.dwSize = sizeof(request.ddpfPixelFormat);
    request.ddpfPixelFormat.dwFlags = DDPF_FOURCC | DDPF_YUV;
    request.ddpfPixelFormat.dwFourCC = MAKEFOURCC('M', 'C', '1', '2');
    request.ddpfPixelFormat.dwYUVBitCount = 8;
    request.ddsCaps.dwCaps = DDSCAPS_OVERLAY | DDSCAPS_VIDEOMEMORY;
    HRESULT result = display->CreateSurface(&request, surface.put(), nullptr);
    return obtained(result, surface);
}

// Only the hardware driver's capabilities count; what the emulation layer
// could do is not asked for.
static int bobs_interleaved(IDirectDraw2 *display)
{
    DDCAPS caps;

    caps.dwSize = sizeof(caps);
    return display->GetCaps(&caps, nullptr) == DD_OK && (caps.dwCaps2 & DDCAPS2_CANBOBINTERLEAVED);
}

// Without a window and in the normal cooperative level the probe takes the
// display from no one and changes no mode.
static int ask_cooperatively(IDirectDraw *display, DisplayQuestion question)
{
    if (display->SetCooperativeLevel(nullptr, DDSCL_NORMAL) != DD_OK)
        return 0;
    UniqueCom<IDirectDraw2> display2;
    HRESULT result = display->QueryInterface(IID_IDirectDraw2, (void **)display2.put());
    return obtained(result, display2) ? question(display2.get()) : 0;
}

// DirectDraw always lives in the system folder. Loaded by its bare name,
// Windows 9x would look in the program's folder and the current folder
// first and take any ddraw.dll planted beside the installer.
static HMODULE load_system_ddraw(void)
{
    static const char name[] = "\\ddraw.dll";
    char path[MAX_PATH];
    UINT length = GetSystemDirectoryA(path, sizeof(path));

    if (!length || length + sizeof(name) > sizeof(path))
        return nullptr;
    memcpy(path + length, name, sizeof(name));
    return LoadLibraryA(path);
}

// Opens the active display driver, asks `question` and lets go of
// everything in reverse order.
static int ask_display(DisplayQuestion question)
{
    UniqueModule ddraw(load_system_ddraw());
    if (!ddraw)
        return 0;
    auto create = (DirectDrawCreateProc)(void *)GetProcAddress(ddraw.get(), "DirectDrawCreate");
    if (!create)
        return 0;
    UniqueCom<IDirectDraw> display;
    HRESULT result = create(nullptr, display.put(), nullptr);
    return obtained(result, display) ? ask_cooperatively(display.get(), question) : 0;
}

int display_offers_motion_comp(void)
{
    return ask_display(creates_motion_comp_overlay);
}

int display_bobs_interleaved(void)
{
    return ask_display(bobs_interleaved);
}
