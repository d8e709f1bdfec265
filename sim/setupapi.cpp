// The setup API and newdev calls. (Filled in with the device-node routines.)
#include "sim_internal.h"

HDEVINFO WINAPI SetupDiGetClassDevsA(const GUID*, PCSTR, HWND, DWORD)
{
    return sim::failWith(ERROR_CALL_NOT_IMPLEMENTED, INVALID_HANDLE_VALUE);
}
BOOL WINAPI SetupDiEnumDeviceInfo(HDEVINFO, DWORD, PSP_DEVINFO_DATA) { return sim::failWith(ERROR_CALL_NOT_IMPLEMENTED, FALSE); }
BOOL WINAPI SetupDiGetDeviceRegistryPropertyA(HDEVINFO, PSP_DEVINFO_DATA, DWORD, PDWORD, PBYTE, DWORD, PDWORD)
{
    return sim::failWith(ERROR_CALL_NOT_IMPLEMENTED, FALSE);
}
BOOL WINAPI SetupDiSetDeviceRegistryPropertyA(HDEVINFO, PSP_DEVINFO_DATA, DWORD, const BYTE*, DWORD)
{
    return sim::failWith(ERROR_CALL_NOT_IMPLEMENTED, FALSE);
}
HDEVINFO WINAPI SetupDiCreateDeviceInfoList(const GUID*, HWND)
{
    return sim::failWith(ERROR_CALL_NOT_IMPLEMENTED, INVALID_HANDLE_VALUE);
}
BOOL WINAPI SetupDiCreateDeviceInfoA(HDEVINFO, PCSTR, const GUID*, PCSTR, HWND, DWORD, PSP_DEVINFO_DATA)
{
    return sim::failWith(ERROR_CALL_NOT_IMPLEMENTED, FALSE);
}
BOOL WINAPI SetupDiCallClassInstaller(DI_FUNCTION, HDEVINFO, PSP_DEVINFO_DATA) { return sim::failWith(ERROR_CALL_NOT_IMPLEMENTED, FALSE); }
BOOL WINAPI SetupDiRemoveDevice(HDEVINFO, PSP_DEVINFO_DATA) { return sim::failWith(ERROR_CALL_NOT_IMPLEMENTED, FALSE); }
BOOL WINAPI SetupDiDeleteDeviceInfo(HDEVINFO, PSP_DEVINFO_DATA) { return sim::failWith(ERROR_CALL_NOT_IMPLEMENTED, FALSE); }
BOOL WINAPI SetupDiDestroyDeviceInfoList(HDEVINFO) { return sim::failWith(ERROR_CALL_NOT_IMPLEMENTED, FALSE); }
BOOL WINAPI SetupDiGetDeviceInstanceIdA(HDEVINFO, PSP_DEVINFO_DATA, PSTR, DWORD, PDWORD)
{
    return sim::failWith(ERROR_CALL_NOT_IMPLEMENTED, FALSE);
}
BOOL WINAPI UpdateDriverForPlugAndPlayDevicesA(HWND, LPCSTR, LPCSTR, DWORD, PBOOL)
{
    return sim::failWith(ERROR_CALL_NOT_IMPLEMENTED, FALSE);
}
