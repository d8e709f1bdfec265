#include "host/uninstall_hooks.h"

#include "cleaning/clean_run.h"
#include "devices/root_devices.h"
#include "host/message_dialog.h"
#include "support/osinfo.h"
#include "support/tracers.h"

#include <exception>

namespace {

const char* const AdministratorQuestion =
    "You do not appear to be logged in with full administrative priveleges. Trying "
    "to uninstall the Pilotdeck without full administrative priveleges may result "
    "in a failure of the uninstall to function correctly. If you are not sure you "
    "have these priveleges you should click \"No\" and log in again with full "
    "priveleges. If you are you have such priveleges click \"Yes\" to proceed. Do you "
    "have full administrative priveleges?";

const char* const UnplugQuestion =
    "Before uninstalling the Pilotdeck, it is highly recommended that you unplug "
    "all JQ USB devices to ensure that all drivers, etc. are properly removed. If "
    "there are JQ USB devices currently connected click \"No\", unplug the devices, "
    "and restart the uninstall. Have all the devices been unpluged?";

const char* const ClosingMessage =
    "Removal of the Pilotdeck software is complete. To finish the uninstall and "
    "unload the drivers from memory it is necessary to restart Windows. It is "
    "highly recommended that you RESTART WINDOWS as soon as possible after this "
    "program exits.";

// Runs one step of the removal so that an error ends only that step: the
// user must still be told to restart Windows after whatever was removed.
template <class Step>
void runStep(const char* errorLine, Step step)
{
    try {
        step();
    } catch (const std::exception& e) {
        TraceFmt(errorLine, e.what());
    } catch (...) {
        TraceFmt(errorLine, "unknown error");
    }
}

}  // namespace

LONG uninstInitialize()
{
    TraceMsg("JQINST2K: UninstInitialize");
    initOsInfo();

    // Only a No stops here; a dialog closed without an answer does not. A
    // question that could not be shown stops too: the user never confirmed.
    if (!osIsAdmin()) {
        const int answer = showMessageDialog(AdministratorQuestion, MessageButtons::YesNo);
        if (answer == IDNO || answer == MessageDialogFailed)
            return -1;
    }

    // Here only a plain Yes lets the uninstall go on.
    const int answer = showMessageDialog(UnplugQuestion, MessageButtons::YesNo);
    TraceFmt("  I98: Test Message returned:%x", answer);
    if (answer == IDYES) {
        TraceMsg("  I2K: Returning 0");
        return 0;
    }
    TraceMsg("  I2K: Returning -1");
    return -1;
}

LONG uninstUnInitialize(HWND window)
{
    TraceMsg("INST2K: UninstUnInitialize");
    runStep("  I2K: Cleaning run stopped by error - %s",
            [window] { cleanDeviceKeys(window, UsbAndAuxDevices); });
    runStep("  I2K: Root device scan stopped by error - %s", [] {
        removeRootDevicesForUninstall();
        TraceMsg("  I2K: Exiting UninstUnInitialize");
    });
    showMessageDialog(ClosingMessage, MessageButtons::Ok);
    return 0;
}
