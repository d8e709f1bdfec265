// The cleaning run: fixes the matching mode, turns away a user who is not an
// administrator, and runs the cleaning routines of the Windows family.
#pragma once

#include "platform/win32.h"

// 0: something of the vendor's matched; 1: nothing matched; 2: the user is
// not an administrator and nothing was done. An error raised by a cleaning
// routine ends the run and passes to the caller.
int cleanDeviceKeys(HWND parentWindow, bool includeAux, bool deviceIds, bool analogIds,
                    bool shortUsbList);
