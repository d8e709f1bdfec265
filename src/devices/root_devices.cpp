#include "devices/root_devices.h"

#include "cleaning/clean_run.h"
#include "devices/device_state.h"
#include "platform/system_libraries.h"
#include "support/device_walk.h"
#include "support/tracers.h"

#include <cstring>
#include <exception>

namespace {

// Walks the present System-class devices and hands every one whose first
// hardware id is exactly RootHardwareId to `onMatch`, which says how the
// walk goes on. DevInfoData then describes the matching element.
void scanRootDevices(ElementAction onMatch)
{
    DevInfoSetScope scope(
        setupapi::SetupDiGetClassDevsA(&GuidDevClassSystem, nullptr, nullptr, DIGCF_PRESENT));
    if (!scope.got())
        return;
    walkDevices(DevInfoSet.get(), DevInfoData,
                {"  I2K: Doing SetupDiEnumDeviceInfo", "  I2K: SetupDiEnumDeviceInfo OKAY!",
                 "  I2K: EnumDevInfo Error - tVal:%x"},
                [&] {
                    DWORD requiredSize;
                    if (!readElementProperty(SPDRP_HARDWAREID, HardwareIdBuffer, &requiredSize))
                        return AfterElement::Next;
                    const std::string hardwareId =
                        firstTextOf(HardwareIdBuffer, PropertyBufferUsed);
                    TraceFmt("  I2K: EnumDevInfo Success - bSiz:%x  Hdw Id:%s:", requiredSize,
                             hardwareId);
                    if (hardwareId != RootHardwareId)
                        return AfterElement::Next;
                    TraceMsg("  I2K: Found One!");
                    return onMatch();
                });
    TraceMsg("  I2K: Doing SetupDiDestroyInfo");
    scope.destroy();
}

// Neither outcome changes what the scan reports: a root device that was
// found counts, whether or not it could be removed.
AfterElement removeAndDelete()
{
    if (setupapi::SetupDiRemoveDevice(DevInfoSet.get(), &DevInfoData))
        TraceMsg("  I2K: DiRemove OK");
    else
        TraceMsg("  I2K: DiRemove Failed");
    if (setupapi::SetupDiDeleteDeviceInfo(DevInfoSet.get(), &DevInfoData)) {
        TraceMsg("  I2K: DiDelete OK");
        return AfterElement::LeftSet;
    }
    TraceMsg("  I2K: DiDelete Failed");
    return AfterElement::Next;
}

}  // namespace

bool devnodeExists()
{
    TraceMsg("INST2K: devnodeExists");
    bool found = false;
    scanRootDevices([&] {
        found = true;
        return AfterElement::Stop;
    });
    TraceMsg("  I2K: Exiting devnodeExists");
    return found;
}

LONG rootDeviceCount()
{
    TraceMsg("INST2K: rootDeviceCount");
    LONG count = 0;
    scanRootDevices([&] {
        ++count;
        return AfterElement::Next;
    });
    TraceFmt("  I2K: Exiting rootDeviceCount - count:%x", count);
    return count;
}

LONG removeRootDevice(HWND window)
{
    TraceMsg("INST2K: removeRootDevice");
    // The user asked for the root device to go: a cleaning run that fails
    // part way must not keep it.
    try {
        cleanDeviceKeys(window, UsbAndAuxDevices);
    } catch (const std::exception& e) {
        TraceFmt("  I2K: Error in cleanDeviceKeys - %s", e.what());
    }
    bool found = false;
    scanRootDevices([&] {
        found = true;
        return removeAndDelete();
    });
    TraceMsg("  I2K: Exiting removeRootDevice");
    return found ? 1 : 0;
}

void removeRootDevicesForUninstall()
{
    scanRootDevices([] { return removeAndDelete(); });
}
