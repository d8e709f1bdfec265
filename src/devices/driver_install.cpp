#include "devices/driver_install.h"

#include "cleaning/jqpids.h"
#include "cleaning/matching.h"
#include "devices/device_state.h"
#include "devices/install_state.h"
#include "devices/root_devices.h"
#include "platform/system_libraries.h"
#include "support/device_walk.h"
#include "support/id_string.h"
#include "support/tracers.h"

#include <cstring>
#include <string>

char InfPath[InfPathSize];
const char VendorClassGuid[] = "5C0A7E31-2B94-4D6F-A1E8-93F04B6C2D17";

namespace {

const char RootDeviceInf[] = "JQDRV2K3.INF";
const char UsbDeviceInf[] = "JQDRV2K1.INF";
const char RootDeviceName[] = "System";

struct DriverInstall {
    const char* entryLine;
    const char* infFile;
    const char* hardwareId;
    const char* exitLine;  // null: none
};

bool installFromInf(const DriverInstall& install)
{
    TraceMsg(install.entryLine);
    BOOL reboot = FALSE;
    setPathString(install.infFile);
    bool installed = false;
    if (!newdev::UpdateDriverForPlugAndPlayDevicesA(nullptr, install.hardwareId, InfPath,
                                                    INSTALLFLAG_FORCE, &reboot)) {
        TraceFmt("  I2K: Error in UpdateDriverForPlugAndPlayDevices - tVal:%x", GetLastError());
    } else {
        installed = true;
        if (reboot) {
            TraceMsg("  I2K: UpdateDriverForPlugAndPlayDevices Passed - Reboot Required!");
            RebootRequired = true;
        } else {
            TraceMsg("  I2K: UpdateDriverForPlugAndPlayDevices Passed - No Reboot Required!");
        }
    }
    if (install.exitLine)
        TraceMsg(install.exitLine);
    return installed;
}

// The steps after the set is open; the closing line the caller writes.
const char* createAndInstall(bool& created)
{
    DevInfoData.cbSize = sizeof(SP_DEVINFO_DATA);
    if (!setupapi::SetupDiCreateDeviceInfoA(DevInfoSet.get(), RootDeviceName,
                                            &GuidDevClassSystem, nullptr, nullptr,
                                            DICD_GENERATE_ID, &DevInfoData))
        return "  I2K: CreateDeviceInfo Failed!";
    TraceMsg("  CreateDevInfo Passed");

    // A hardware id list: the id, its zero, and the zero that ends the list.
    const std::string idList = std::string(RootHardwareId) + '\0';
    if (!setupapi::SetupDiSetDeviceRegistryPropertyA(
            DevInfoSet.get(), &DevInfoData, SPDRP_HARDWAREID,
            reinterpret_cast<const BYTE*>(idList.c_str()), static_cast<DWORD>(idList.size() + 1)))
        return "  I2K: SetRegistryProperty Failed!";
    TraceMsg("  I2K: RegPropertye Okay!");

    if (!setupapi::SetupDiCallClassInstaller(DIF_REGISTERDEVICE, DevInfoSet.get(), &DevInfoData))
        return "  I2K: CallInstaller Failed";

    // A node without its driver would stay in the device tree as an
    // unknown device: it goes again on every way out without the driver,
    // an error (memory running out) included.
    try {
        TraceMsg("  I2K: Devnode Created!");
        if (installDriver()) {
            created = true;
            return " I2K: Driver Installed!";
        }
        TraceMsg("  I2K: Driver would not install, doing Remove");
    } catch (...) {
        setupapi::SetupDiCallClassInstaller(DIF_REMOVE, DevInfoSet.get(), &DevInfoData);
        throw;
    }
    if (setupapi::SetupDiCallClassInstaller(DIF_REMOVE, DevInfoSet.get(), &DevInfoData))
        return "  I2K: CallClassInstaller REMOVE Okay";
    return "  I2K: Error in CallClassInstaller REMOVE";
}

// Reinstalls the USB driver on the present devices of UsbHardwareId's id
// that do not run a driver of the vendor's class yet.
void updateDevicesOfId()
{
    TraceFmt("  I2K: Creating Info Set for: \"%s\"", UsbHardwareId);
    DevInfoSetScope scope(setupapi::SetupDiGetClassDevsA(nullptr, UsbHardwareId, nullptr,
                                                         DIGCF_PRESENT | DIGCF_ALLCLASSES));
    if (!scope.got())
        return;
    walkDevices(DevInfoSet.get(), DevInfoData,
                {"  I2K: Doing SetupDiEnumDeviceInfo", "  I2K: SetupDiEnumDeviceInfo OKAY!",
                 "  I2K: EnumDeviceInfo Error:%x"},
                [] {
                    if (!readElementProperty(SPDRP_DRIVER, DriverValueBuffer))
                        return AfterElement::Next;
                    const std::string driver =
                        upperCaseId(firstTextOf(DriverValueBuffer, PropertyBufferUsed));
                    TraceFmt("  I2K: Driver Value: \"%s\"", driver);
                    if (driver.find(VendorClassGuid) == std::string::npos) {
                        TraceMsg("  I2K: Found One - Updating Device Driver!");
                        updateDeviceDriver();
                    }
                    return AfterElement::Next;
                });
    TraceMsg("  I2K: Doing SetupDiDestroyInfo");
    scope.destroy();
}

}  // namespace

void setPathString(const char* fileName)
{
    const char* file = fileName ? fileName : "";
    TraceFmt("INST2K: setPathString - folder: \"%s\"  file: \"%s\"", TargetDir, file);
    const std::string path = idString(TargetDir + "\\" + file);
    std::memcpy(InfPath, path.data(), path.size());
    // The list's second zero only where it fits: a path of 255 characters
    // fills the buffer but for its one zero.
    InfPath[path.size()] = '\0';
    if (path.size() + 1 < InfPathSize)
        InfPath[path.size() + 1] = '\0';
    TraceFmt("  I2K: setPathString returning: \"%s\"", InfPath);
}

bool installDriver()
{
    return installFromInf({"INST2K: installDriver", RootDeviceInf, RootHardwareId,
                           "  I2K: Exiting installDriver"});
}

bool updateDeviceDriver()
{
    return installFromInf({"INST2K: updateDeviceDriver", UsbDeviceInf, UsbHardwareId, nullptr});
}

bool createDevnode()
{
    TraceMsg("IR: createDevnode");
    bool created = false;
    {
        DevInfoSetScope scope(setupapi::SetupDiCreateDeviceInfoList(&GuidDevClassSystem, nullptr));
        if (scope.opened()) {
            TraceMsg(createAndInstall(created));
            scope.destroy();
        }
    }
    TraceMsg(created ? " I2K: Exiting createDevnode - Okay!" : " I2K: Exiting createDevnode - Failed!");
    return created;
}

LONG createRootDevice(const char* folder)
{
    setTargetDirFrom(folder);
    TraceFmt("INST2K: createRootDevice - targetDir:%s", TargetDir);
    if (devnodeExists()) {
        TraceMsg("  I2K: Devnode already exists");
        return installDriver() ? 1 : 0;
    }
    // The host learns whether the node now exists with its driver.
    if (createDevnode()) {
        TraceMsg("  I2K: createDevnode succeeded!");
        return 1;
    }
    TraceMsg("  I2K: createDevnode Failed!");
    return 0;
}

LONG updateDevices(const char* folder)
{
    setTargetDirFrom(folder);
    TraceFmt("INST2K: updateDevices - targetDir:%s", TargetDir);
    for (const char* vidPid : UpdateVidPids) {
        const std::string entry = vidPid;
        setProductDigits(UsbHardwareId, productDigitsOf(entry));
        updateDevicesOfId();
    }
    TraceMsg("  I2K: Exiting updateDevices");
    return 0;
}
