#include "host/uninstall_hooks.h"

#include "support/tracers.h"

// Not yet built: no question is asked, so the uninstall is not started.
LONG uninstInitialize()
{
    TraceMsg("JQINST2K: UninstInitialize");
    return -1;
}

LONG uninstUnInitialize(HWND)
{
    TraceMsg("INST2K: UninstUnInitialize");
    return 0;
}
