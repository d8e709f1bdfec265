#include "devices/root_devices.h"

#include "support/tracers.h"

// Not yet built: nothing is found and nothing removed.
bool devnodeExists() { TraceMsg("INST2K: devnodeExists"); return false; }
LONG rootDeviceCount() { TraceMsg("INST2K: rootDeviceCount"); return 0; }
LONG removeRootDevice(HWND) { TraceMsg("INST2K: removeRootDevice"); return 0; }
void removeRootDevicesForUninstall() { TraceMsg("  I2K: Exiting UninstUnInitialize"); }
