// The sixteen exports the installation program calls, by name or ordinal.
// Every export takes the host's window, a pointer to a 32-bit integer that
// no export touches (it may be null) and a zero-terminated ANSI text (a null
// pointer counts as the empty text), and returns a 32-bit integer. No error
// of any kind leaves an export.
#pragma once

#include "platform/win32.h"

#define JQ_EXPORT(name) extern "C" LONG WINAPI name(HWND window, LONG* unused, LPCSTR text)

JQ_EXPORT(UninstInitialize);    // 1: 0 proceed with the uninstall, -1 stop it
JQ_EXPORT(UninstUnInitialize);  // 2: 0
JQ_EXPORT(CreateRootDevice);    // 3: 1 root device present with its driver, else 0
JQ_EXPORT(UpdateDevices);       // 4: 0
JQ_EXPORT(RemoveRootDevice);    // 5: 1 when a root device was found, else 0
JQ_EXPORT(RemoveUsbDevices);    // 6: 0 match found, 1 none, 2 not an administrator
JQ_EXPORT(RemovePedalDevices);  // 7: as 6
JQ_EXPORT(RemoveAuxDevices);    // 8: as 6
JQ_EXPORT(IsWin2k);             // 9: 1 or 0
JQ_EXPORT(IsWinMe);             // 10: 1 or 0
JQ_EXPORT(IsWinXp);             // 11: 1 or 0
JQ_EXPORT(IsAdmin);             // 12: 1 or 0
JQ_EXPORT(NeedReboot);          // 13: 1 or 0
JQ_EXPORT(InitModule);          // 14: 1 when the OS facts could be read, else 0
JQ_EXPORT(SetTargetDir);        // 15: 0
JQ_EXPORT(RootDeviceCount);     // 16: number of root devices

#undef JQ_EXPORT
