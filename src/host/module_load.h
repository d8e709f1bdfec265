// What happens when the library is loaded: every unit's load-time
// initialisation, so that all module state is as at load. Windows runs it
// from DllMain; the simulator's hosts run it to simulate a fresh load.
#pragma once

void moduleLoad();
