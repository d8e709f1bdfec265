#include "host/module_load.h"

#include "cleaning/cleaning_state.h"
#include "cleaning/jqpids.h"
#include "devices/device_state.h"
#include "host/module_state.h"
#include "platform/system_libraries.h"
#include "support/osinfo.h"
#include "support/tracers.h"
#include "support/winreg.h"

void moduleLoad()
{
    tracersLoad();
    osInfoLoad();
    winRegLoad();
    hostStateLoad();
    cleaningLoad();
    jqPidsLoad();
    devicesLoad();
    releaseSystemLibraries();
}
