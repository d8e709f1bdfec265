// Finding, counting and removing the root device node.
#pragma once

#include "platform/win32.h"

bool devnodeExists();
LONG rootDeviceCount();
LONG removeRootDevice(HWND window);

// The uninstall hook's scan: removes every root device, then writes
// "  I2K: Exiting UninstUnInitialize". The hook runs its cleaning run first.
void removeRootDevicesForUninstall();
