#include "host/module_load.h"

#include "cleaning/cleaning_state.h"
#include "cleaning/jqpids.h"
#include "devices/device_state.h"
#include "devices/install_state.h"
#include "platform/system_libraries.h"
#include "support/osinfo.h"
#include "support/tracers.h"
#include "support/winreg.h"

#include <string>

void moduleLoad()
{
    tracersLoad();
    osInfoLoad();
    winRegLoad();
    installStateLoad();
    cleaningLoad();
    jqPidsLoad();
    devicesLoad();
    releaseSystemLibraries();
}

void moduleUnload()
{
    // What the module keeps on the heap from one call to the next: its texts.
    // Their destructors would free them after DllMain too; given back here,
    // the unload is one step that the simulator's hosts can take and count.
    std::string().swap(TargetDir);
    std::string().swap(KeyPath);
}
