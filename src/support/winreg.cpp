#include "support/winreg.h"

// Filled in with the registry access layer.
bool WinRegOpenFailed = false;

void winRegLoad() { WinRegOpenFailed = false; }
