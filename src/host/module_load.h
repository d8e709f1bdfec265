// What happens when the library is loaded and unloaded: every unit's
// load-time initialisation, so that all module state is as at load; and at
// unload, the module's state given back to the host's heap. Windows runs
// them from DllMain; the simulator's hosts run them to simulate a fresh load
// and an unload.
#pragma once

void moduleLoad();
void moduleUnload();
