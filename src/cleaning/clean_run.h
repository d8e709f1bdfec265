// The cleaning run: fixes the matching mode, turns away a user who is not an
// administrator, and runs the cleaning routines of the Windows family.
#pragma once

#include "platform/win32.h"

// 0: something of the vendor's matched; 1: nothing matched; 2: the user is
// not an administrator and nothing was done. An error raised by a cleaning
// routine ends the run and passes to the caller.
int cleanDeviceKeys(HWND parentWindow, bool includeAux, bool deviceIds, bool analogIds,
                    bool shortUsbList);

// Which ids a run matches, by name, for the call sites: the USB devices'
// list, the pedals' list, or both with the aux list behind them.
struct CleaningScope {
    bool includeAux;
    bool deviceIds;
    bool analogIds;
    bool shortUsbList;
};
constexpr CleaningScope UsbDevices{false, true, false, false};
constexpr CleaningScope PedalDevices{false, false, false, false};
constexpr CleaningScope UsbAndAuxDevices{true, true, false, false};

inline int cleanDeviceKeys(HWND parentWindow, const CleaningScope& scope)
{
    return cleanDeviceKeys(parentWindow, scope.includeAux, scope.deviceIds, scope.analogIds,
                           scope.shortUsbList);
}
