// Finding, counting and removing the root device node.
#pragma once

#include "platform/win32.h"

bool devnodeExists();
LONG rootDeviceCount();
LONG removeRootDevice(HWND window);

// The uninstall hook's scan: removes every root device, without a line of
// its own before or after (the hook writes those).
void removeRootDevicesForUninstall();
