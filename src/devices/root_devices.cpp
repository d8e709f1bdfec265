#include "devices/root_devices.h"

#include "cleaning/clean_run.h"
#include "devices/device_state.h"
#include "platform/system_libraries.h"
#include "support/tracers.h"

#include <cstring>
#include <exception>

namespace {

// What a scan's action did with a matching element.
enum class AfterMatch {
    Next,      // the element stays in the set; go on with the next one
    LeftSet,   // the element was deleted from the set; the next one took its index
    Stop,      // the scan is done
};

// Walks the present System-class devices and hands every one whose first
// hardware id is exactly RootHardwareId to `onMatch`. DevInfoData then
// describes the matching element.
template <class OnMatch>
void scanRootDevices(OnMatch onMatch)
{
    DevInfoSetScope scope(
        setupapi::SetupDiGetClassDevsA(&GuidDevClassSystem, nullptr, nullptr, DIGCF_PRESENT));
    if (!scope.opened()) {
        TraceMsg("  I2K: Could not get HDEVINFO");
        return;
    }
    TraceMsg("  I2K: Got DeviceInfoSet Handle!");
    DevInfoData.cbSize = sizeof(SP_DEVINFO_DATA);
    DWORD index = 0;
    bool done = false;
    while (!done) {
        TraceMsg("  I2K: Doing SetupDiEnumDeviceInfo");
        if (!setupapi::SetupDiEnumDeviceInfo(DevInfoSet.get(), index, &DevInfoData)) {
            TraceFmt("  I2K: EnumDevInfo Error - tVal:%x", GetLastError());
            done = true;
            continue;
        }
        TraceMsg("  I2K: SetupDiEnumDeviceInfo OKAY!");
        ++index;

        DWORD requiredSize = PropertyBufferUsed;
        DWORD dataType = 0;
        if (!setupapi::SetupDiGetDeviceRegistryPropertyA(
                DevInfoSet.get(), &DevInfoData, SPDRP_HARDWAREID, &dataType, HardwareIdBuffer,
                PropertyBufferUsed, &requiredSize)) {
            TraceFmt("  I2K: GetRegistryProperty Error - tVal:%x", GetLastError());
            continue;
        }
        const std::string hardwareId = firstTextOf(HardwareIdBuffer, PropertyBufferUsed);
        TraceFmt("  I2K: EnumDevInfo Success - bSiz:%x  Hdw Id:%s:", requiredSize, hardwareId);
        if (hardwareId != RootHardwareId)
            continue;
        TraceMsg("  I2K: Found One!");
        switch (onMatch()) {
        case AfterMatch::Next:
            break;
        case AfterMatch::LeftSet:
            // Deleting the element moved the next one down to its index: that
            // one must be read there, or every second root device would stay.
            --index;
            break;
        case AfterMatch::Stop:
            done = true;
            break;
        }
    }
    TraceMsg("  I2K: Doing SetupDiDestroyInfo");
    scope.destroy();
}

// Neither outcome changes what the scan reports: a root device that was
// found counts, whether or not it could be removed.
AfterMatch removeAndDelete()
{
    if (setupapi::SetupDiRemoveDevice(DevInfoSet.get(), &DevInfoData))
        TraceMsg("  I2K: DiRemove OK");
    else
        TraceMsg("  I2K: DiRemove Failed");
    if (setupapi::SetupDiDeleteDeviceInfo(DevInfoSet.get(), &DevInfoData)) {
        TraceMsg("  I2K: DiDelete OK");
        return AfterMatch::LeftSet;
    }
    TraceMsg("  I2K: DiDelete Failed");
    return AfterMatch::Next;
}

}  // namespace

bool devnodeExists()
{
    TraceMsg("INST2K: devnodeExists");
    bool found = false;
    scanRootDevices([&] {
        found = true;
        return AfterMatch::Stop;
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
        return AfterMatch::Next;
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
    TraceMsg("  I2K: Exiting UninstUnInitialize");
}
