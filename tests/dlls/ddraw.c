/* A ddraw.dll of the tests' own, which the display test plants where a
 * bare name would find it. Once loaded it says so, with its own path, in
 * the environment variable KX_PLANTED_DDRAW of the process that loaded it;
 * its DirectDrawCreate fails. */
#include <windows.h>

BOOL WINAPI DllMain(HINSTANCE self, DWORD reason, LPVOID reserved)
{
    char path[MAX_PATH];

    (void)reserved;
    if (reason == DLL_PROCESS_ATTACH && GetModuleFileNameA(self, path, sizeof(path)))
        SetEnvironmentVariableA("KX_PLANTED_DDRAW", path);
    return TRUE;
}

__declspec(dllexport) HRESULT WINAPI DirectDrawCreate(GUID *driver, void **object, IUnknown *outer)
{
    (void)driver;
    (void)outer;
    *object = NULL;
    return E_FAIL;
}
