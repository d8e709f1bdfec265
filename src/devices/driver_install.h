// Creating the root device node and installing drivers.
#pragma once

#include "platform/win32.h"

// The INF path of the install under way: the text, a zero, and a second
// zero where the buffer has room for it.
constexpr size_t InfPathSize = 256;
extern char InfPath[InfPathSize];

extern const char VendorClassGuid[];  // without braces, upper case

// TargetDir, a backslash and the file name, cut to 255 characters.
void setPathString(const char* fileName);

// Each installs its INF for every present device with its hardware id:
// installDriver the root device's, updateDeviceDriver the USB devices' for
// the hardware id UpdateDevices has just written into UsbHardwareId.
bool installDriver();
bool updateDeviceDriver();

// Creates, registers and installs the root device; a node whose driver will
// not install is removed again.
bool createDevnode();

LONG createRootDevice(const char* folder);
LONG updateDevices(const char* folder);
