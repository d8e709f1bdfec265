#include "cleaning/cleaning_routines.h"

// Not yet built: the run goes on without these routines.
void deleteEnumUsbKeys2k() {}
void deleteEnumGamePortKeys2k() {}
void deleteEnumHidKeys2k() {}
void deleteEnumJqKeys2k() {}
