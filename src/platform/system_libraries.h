// The setup API (setupapi.dll) and newdev.dll calls, bound at run time.
//
// newdev.dll does not exist on the 9x family, so the module must load where
// it is missing: nothing of either library is in the import table. Both are
// loaded by full path from the system directory, never through the DLL
// search path, where a planted copy would run with the installer's rights.
// A library or function that cannot be bound behaves as the call failing:
// the call's failure result, with GetLastError giving the binding error.
// A call that opens a device information set also fails so when
// SetupDiDestroyDeviceInfoList cannot be bound: no set is opened that could
// not be destroyed again.
#pragma once

#include "platform/win32.h"

namespace setupapi {
HDEVINFO SetupDiGetClassDevsA(const GUID* classGuid, PCSTR enumerator, HWND parent, DWORD flags);
BOOL SetupDiEnumDeviceInfo(HDEVINFO set, DWORD index, PSP_DEVINFO_DATA data);
BOOL SetupDiGetDeviceRegistryPropertyA(HDEVINFO set, PSP_DEVINFO_DATA data, DWORD property,
                                       PDWORD dataType, PBYTE buffer, DWORD bufferSize,
                                       PDWORD requiredSize);
BOOL SetupDiSetDeviceRegistryPropertyA(HDEVINFO set, PSP_DEVINFO_DATA data, DWORD property,
                                       const BYTE* buffer, DWORD bufferSize);
HDEVINFO SetupDiCreateDeviceInfoList(const GUID* classGuid, HWND parent);
BOOL SetupDiCreateDeviceInfoA(HDEVINFO set, PCSTR deviceName, const GUID* classGuid,
                              PCSTR description, HWND parent, DWORD flags, PSP_DEVINFO_DATA data);
BOOL SetupDiCallClassInstaller(DI_FUNCTION function, HDEVINFO set, PSP_DEVINFO_DATA data);
BOOL SetupDiRemoveDevice(HDEVINFO set, PSP_DEVINFO_DATA data);
BOOL SetupDiDeleteDeviceInfo(HDEVINFO set, PSP_DEVINFO_DATA data);
BOOL SetupDiDestroyDeviceInfoList(HDEVINFO set);
}  // namespace setupapi

namespace newdev {
BOOL UpdateDriverForPlugAndPlayDevicesA(HWND parent, LPCSTR hardwareId, LPCSTR fullInfPath,
                                        DWORD installFlags, PBOOL rebootRequired);
}  // namespace newdev

// ntdll.dll, on the NT family only: the one call that deletes a registry
// link itself (the key a handle opened with REG_OPTION_OPEN_LINK stands
// for), where RegDeleteKeyA would open the name again, through the link, and
// delete its target. The result is an NTSTATUS, 0 for success; a call that
// cannot be bound answers StatusNotBound.
namespace ntdll {
constexpr LONG StatusNotBound = static_cast<LONG>(0xC0000001);  // STATUS_UNSUCCESSFUL
LONG NtDeleteKey(HKEY key);
}  // namespace ntdll

// Frees the libraries loaded since the last release. Every export calls it
// on its way out, so no library stays loaded between the host's calls.
void releaseSystemLibraries();
