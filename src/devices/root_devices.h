// Finding, counting and removing the root device node.
#pragma once

#include "platform/win32.h"

bool devnodeExists();
LONG rootDeviceCount();
LONG removeRootDevice(HWND window);
