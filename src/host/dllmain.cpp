// Windows entry point of the DLL: only the units' load-time initialisation.
#include "host/module_load.h"
#include "platform/win32.h"

extern "C" BOOL WINAPI DllMain(HINSTANCE instance, DWORD reason, LPVOID)
{
    if (reason == DLL_PROCESS_ATTACH) {
        DisableThreadLibraryCalls(instance);
        moduleLoad();
    }
    return TRUE;
}
