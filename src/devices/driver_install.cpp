#include "devices/driver_install.h"

#include "host/module_state.h"
#include "support/tracers.h"

// Not yet built: the folder is kept, nothing is installed.
LONG createRootDevice(const char* folder)
{
    setTargetDirFrom(folder);
    TraceFmt("INST2K: createRootDevice - targetDir:%s", TargetDir);
    return 0;
}

LONG updateDevices(const char* folder)
{
    setTargetDirFrom(folder);
    TraceFmt("INST2K: updateDevices - targetDir:%s", TargetDir);
    return 0;
}
