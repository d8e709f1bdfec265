// Creating the root device node and installing drivers.
#pragma once

#include "platform/win32.h"

LONG createRootDevice(const char* folder);
LONG updateDevices(const char* folder);
