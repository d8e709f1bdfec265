#include "cleaning/cleaning_routines.h"

// Not yet built: the run goes on without these routines.
void deleteEnumUsbKeys() {}
void deleteEnumHidKeys() {}
void deleteEnumJqKeys() {}
