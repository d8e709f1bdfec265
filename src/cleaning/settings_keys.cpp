#include "cleaning/cleaning_routines.h"

// Not yet built: the run goes on without these routines.
void deleteJoystickSettingsKeys() {}
void deleteOemKeys() {}
void deleteAsdKeys() {}
void deleteDeviceClassesKeys() {}
