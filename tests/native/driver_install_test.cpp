// Creating the root device, installing its driver, and refreshing the
// driver of the vendor's USB devices.
#include "cleaning/jqpids.h"
#include "devices/driver_install.h"
#include "devices/install_state.h"
#include "native/fixture.h"
#include "native/machine_builders.h"
#include "platform/system_libraries.h"

#include <algorithm>
#include <cstring>
#include <string>
#include <vector>

namespace {

const char* const VendorDriver = "{5C0A7E31-2B94-4D6F-A1E8-93F04B6C2D17}\\0000";
const char* const RootInf = "C:\\JQ\\JQDRV2K3.INF";
const char* const UsbInf = "C:\\JQ\\JQDRV2K1.INF";

class DriverInstallTest : public SimTest {
protected:
    void SetUp() override
    {
        SimTest::SetUp();
        m.devices.infFiles = builders::vendorInfs({RootInf, UsbInf});
    }

    void addRootDevice(const std::string& instance = "ROOT\\SYSTEM\\0000")
    {
        m.addDevice({instance, {"root\\jq_pilotdeck"}, SystemClass, "", true});
    }

    // The trace from the line that begins with `first` on.
    Lines traceFrom(const std::string& first)
    {
        const Lines lines = trace();
        auto it = std::find(lines.begin(), lines.end(), first);
        return Lines(it, lines.end());
    }
};

TEST_F(DriverInstallTest, PathJoinsFolderAndFileAndNeverOverrunsTheBuffer)
{
    const auto pathFor = [](const std::string& folder) {
        setTargetDirFrom(folder.c_str());
        setPathString("JQDRV2K3.INF");
        return std::string(InfPath);
    };
    EXPECT_EQ(pathFor("C:\\Drivers"), "C:\\Drivers\\JQDRV2K3.INF");
    EXPECT_EQ(pathFor("C:\\Drivers\\"), "C:\\Drivers\\\\JQDRV2K3.INF");
    EXPECT_EQ(pathFor(""), "\\JQDRV2K3.INF");
    EXPECT_EQ(trace().at(0), "INST2K: setPathString - folder: \"C:\\Drivers\"  file: \"JQDRV2K3.INF\"");
    EXPECT_EQ(trace().at(1), "  I2K: setPathString returning: \"C:\\Drivers\\JQDRV2K3.INF\"");

    // 254 characters keep both zeros; 255 and more end in one zero at the
    // buffer's last byte.
    std::memset(InfPath, 'x', InfPathSize);
    EXPECT_EQ(pathFor(std::string(241, 'a')).size(), 254u);
    EXPECT_EQ(InfPath[254], '\0');
    EXPECT_EQ(InfPath[255], '\0');
    std::memset(InfPath, 'x', InfPathSize);
    const std::string cut = pathFor(std::string(250, 'a'));
    EXPECT_EQ(cut, std::string(250, 'a') + "\\JQDR");
    EXPECT_EQ(InfPath[255], '\0');
}

TEST_F(DriverInstallTest, CreatesTheRootDeviceAndInstallsItsDriver)
{
    EXPECT_EQ(call(CreateRootDevice, "C:\\JQ"), 1);
    EXPECT_EQ(m.devicesWithHardwareId("root\\jq_pilotdeck"), (Lines{"ROOT\\SYSTEM\\0000"}));
    ASSERT_EQ(driverInstalls().size(), 1u);
    EXPECT_EQ(driverInstalls()[0].file, RootInf);
    EXPECT_EQ(driverInstalls()[0].text, "root\\jq_pilotdeck");
    EXPECT_EQ(traceFrom("IR: createDevnode"),
              (Lines{"IR: createDevnode", "  CreateDevInfo Passed", "  I2K: RegPropertye Okay!",
                     "  I2K: Devnode Created!", "INST2K: installDriver",
                     "INST2K: setPathString - folder: \"C:\\JQ\"  file: \"JQDRV2K3.INF\"",
                     "  I2K: setPathString returning: \"C:\\JQ\\JQDRV2K3.INF\"",
                     "  I2K: UpdateDriverForPlugAndPlayDevices Passed - No Reboot Required!",
                     "  I2K: Exiting installDriver", " I2K: Driver Installed!",
                     " I2K: Exiting createDevnode - Okay!", "  I2K: createDevnode succeeded!"}));
    EXPECT_EQ(call(NeedReboot), 0);

    // A second call finds the node and only reinstalls its driver.
    clearTrace();
    m.devices.driverInstallAsksReboot = true;
    EXPECT_EQ(call(CreateRootDevice, "C:\\JQ"), 1);
    EXPECT_FALSE(m.deviceExists("ROOT\\SYSTEM\\0001"));
    EXPECT_TRUE(traced("  I2K: Devnode already exists"));
    EXPECT_TRUE(traced("  I2K: UpdateDriverForPlugAndPlayDevices Passed - Reboot Required!"));
    EXPECT_FALSE(traced("IR: createDevnode"));
    EXPECT_EQ(call(NeedReboot), 1);

    // A failed install never clears the flag, and is the export's answer;
    // nor does a later install that needs no restart. Only InitModule does.
    m.devices.infFiles.clear();
    EXPECT_EQ(call(CreateRootDevice, "C:\\JQ"), 0);
    EXPECT_TRUE(m.deviceExists("ROOT\\SYSTEM\\0000"));
    EXPECT_EQ(call(NeedReboot), 1);
    m.devices.infFiles = builders::vendorInfs({RootInf});
    m.devices.driverInstallAsksReboot = false;
    EXPECT_EQ(call(CreateRootDevice, "C:\\JQ"), 1);
    EXPECT_EQ(call(NeedReboot), 1);
    EXPECT_EQ(call(InitModule), 1);
    EXPECT_EQ(call(NeedReboot), 0);
}

// The creation sets up its own element: the scan before it may have failed
// before it touched one.
TEST_F(DriverInstallTest, CreationAfterAScanThatCouldNotStart)
{
    m.faults.fail("SetupDiGetClassDevsA", ERROR_GEN_FAILURE, 1);
    EXPECT_EQ(call(CreateRootDevice, "C:\\JQ"), 1);
    EXPECT_EQ(m.devicesWithHardwareId("root\\jq_pilotdeck"), (Lines{"ROOT\\SYSTEM\\0000"}));
}

// Both exports take the folder they are given, an empty one included.
TEST_F(DriverInstallTest, EmptyFolderReplacesTheOneBefore)
{
    EXPECT_EQ(call(SetTargetDir, "C:\\JQ"), 0);
    EXPECT_EQ(call(CreateRootDevice, ""), 0);
    EXPECT_TRUE(traced("INST2K: createRootDevice - targetDir:"));
    EXPECT_EQ(driverInstalls().back().file, "\\JQDRV2K3.INF");
    EXPECT_EQ(call(SetTargetDir, "C:\\JQ"), 0);
    EXPECT_EQ(call(UpdateDevices, nullptr), 0);
    EXPECT_TRUE(traced("INST2K: updateDevices - targetDir:"));
}

// What Windows is told and the simulation would otherwise take in any form:
// no parent window, a forced install, 250 bytes for each property read, the
// hardware id list with its two zeros, and the 32 update ids in list order.
TEST_F(DriverInstallTest, SetupCallsGetTheArgumentsWindowsActsOn)
{
    const std::string first = std::string("USB\\") + UpdateVidPids[0];
    m.addDevice({first + "\\1", {first}, HidClass, "{36FC9E60-C465-11CF-8056-444553540000}\\0007", true});
    const HWND window = reinterpret_cast<HWND>(0x77);
    EXPECT_EQ(CreateRootDevice(window, nullptr, "C:\\JQ"), 1);
    EXPECT_EQ(UpdateDevices(window, nullptr, "C:\\JQ"), 0);

    for (const sim::CallRecord& r : m.calls) {
        EXPECT_EQ(r.window, nullptr) << r.call;
        if (r.call == "UpdateDriverForPlugAndPlayDevicesA") {
            EXPECT_EQ(r.flags, static_cast<DWORD>(INSTALLFLAG_FORCE));
        } else if (r.call == "SetupDiGetDeviceRegistryPropertyA") {
            EXPECT_EQ(r.size, 250u);
        }
    }
    EXPECT_EQ(m.callsOf("UpdateDriverForPlugAndPlayDevicesA").size(), 2u);
    const auto set = m.callsOf("SetupDiSetDeviceRegistryPropertyA");
    ASSERT_EQ(set.size(), 1u);
    EXPECT_EQ(set[0].flags, static_cast<DWORD>(SPDRP_HARDWAREID));
    EXPECT_EQ(set[0].size, 19u);
    EXPECT_EQ(set[0].text, std::string("root\\jq_pilotdeck\0\0", 19));
    const auto created = m.callsOf("SetupDiCreateDeviceInfoA");
    ASSERT_EQ(created.size(), 1u);
    EXPECT_EQ(created[0].flags, static_cast<DWORD>(DICD_GENERATE_ID));
    EXPECT_EQ(created[0].text, "System");

    Lines enumerators;
    for (const sim::CallRecord& r : m.callsOf("SetupDiGetClassDevsA")) {
        if (r.flags == (DIGCF_PRESENT | DIGCF_ALLCLASSES))
            enumerators.push_back(r.text);
        else
            EXPECT_EQ(r.flags, static_cast<DWORD>(DIGCF_PRESENT)) << r.text;
    }
    ASSERT_EQ(enumerators.size(), UpdateVidPidCount);
    for (size_t i = 0; i < UpdateVidPidCount; ++i)
        EXPECT_EQ(enumerators[i], std::string("USB\\") + UpdateVidPids[i]);
    const Lines lines = traceFrom("INST2K: updateDevices - targetDir:C:\\JQ");
    ASSERT_GE(lines.size(), 16u);
    EXPECT_EQ(Lines(lines.begin(), lines.begin() + 16),
              (Lines{"INST2K: updateDevices - targetDir:C:\\JQ",
                     "  I2K: Creating Info Set for: \"USB\\VID_2F7A&PID_00A1\"",
                     "  I2K: Got DeviceInfoSet Handle!", "  I2K: Doing SetupDiEnumDeviceInfo",
                     "  I2K: SetupDiEnumDeviceInfo OKAY!",
                     "  I2K: Driver Value: \"{36FC9E60-C465-11CF-8056-444553540000}\\0007\"",
                     "  I2K: Found One - Updating Device Driver!", "INST2K: updateDeviceDriver",
                     "INST2K: setPathString - folder: \"C:\\JQ\"  file: \"JQDRV2K1.INF\"",
                     "  I2K: setPathString returning: \"C:\\JQ\\JQDRV2K1.INF\"",
                     "  I2K: UpdateDriverForPlugAndPlayDevices Passed - No Reboot Required!",
                     "  I2K: Doing SetupDiEnumDeviceInfo", "  I2K: EnumDeviceInfo Error:103",
                     "  I2K: Doing SetupDiDestroyInfo",
                     "  I2K: Creating Info Set for: \"USB\\VID_2F7A&PID_F4BE\"",
                     "  I2K: Could not get HDEVINFO"}));
}

TEST_F(DriverInstallTest, NodeWhoseDriverWillNotInstallIsRemovedAgain)
{
    m.devices.infFiles.clear();
    EXPECT_EQ(call(CreateRootDevice, "C:\\JQ"), 0);
    EXPECT_FALSE(m.keyExists("HKLM\\System\\CurrentControlSet\\Enum\\ROOT\\SYSTEM"));
    EXPECT_EQ(traceFrom("  I2K: Error in UpdateDriverForPlugAndPlayDevices - tVal:2"),
              (Lines{"  I2K: Error in UpdateDriverForPlugAndPlayDevices - tVal:2",
                     "  I2K: Exiting installDriver", "  I2K: Driver would not install, doing Remove",
                     "  I2K: CallClassInstaller REMOVE Okay", " I2K: Exiting createDevnode - Failed!",
                     "  I2K: createDevnode Failed!"}));

    clearTrace();
    m.faults.fail("SetupDiCallClassInstaller", ERROR_ACCESS_DENIED, 2);  // the removal
    EXPECT_EQ(call(CreateRootDevice, "C:\\JQ"), 0);
    EXPECT_TRUE(traced("  I2K: Error in CallClassInstaller REMOVE"));

    // A 32-bit installer on 64-bit Windows: no class installer runs for it,
    // so the node is never registered; and a system without newdev.dll.
    m.reset();
    m.devices.infFiles = builders::vendorInfs({RootInf});
    m.os.runningInWow64 = true;
    clearTrace();
    EXPECT_EQ(call(CreateRootDevice, "C:\\JQ"), 0);
    EXPECT_TRUE(traced("  I2K: CallInstaller Failed"));
    EXPECT_TRUE(driverInstalls().empty());
    m.os.runningInWow64 = false;
    m.os.systemLibraries.erase("newdev.dll");
    clearTrace();
    EXPECT_EQ(call(CreateRootDevice, "C:\\JQ"), 0);
    EXPECT_TRUE(traced("  I2K: Error in UpdateDriverForPlugAndPlayDevices - tVal:7E"));
    EXPECT_FALSE(m.keyExists("HKLM\\System\\CurrentControlSet\\Enum\\ROOT\\SYSTEM"));
}

TEST_F(DriverInstallTest, EachFailedCreationStepLeavesNoNodeBehind)
{
    const std::pair<const char*, const char*> steps[] = {
        {"SetupDiCreateDeviceInfoA", "  I2K: CreateDeviceInfo Failed!"},
        {"SetupDiSetDeviceRegistryPropertyA", "  I2K: SetRegistryProperty Failed!"},
        {"SetupDiCallClassInstaller", "  I2K: CallInstaller Failed"},
    };
    for (const auto& [failing, closingLine] : steps) {
        m.faults.clear();
        m.faults.fail(failing, ERROR_GEN_FAILURE);
        clearTrace();
        EXPECT_EQ(call(CreateRootDevice, "C:\\JQ"), 0) << failing;
        EXPECT_EQ(traceFrom(closingLine), (Lines{closingLine, " I2K: Exiting createDevnode - Failed!",
                                                 "  I2K: createDevnode Failed!"}))
            << failing;
        EXPECT_TRUE(m.devicesWithHardwareId("root\\jq_pilotdeck").empty()) << failing;
    }
    m.faults.clear();
    m.faults.fail("SetupDiCreateDeviceInfoList", ERROR_NOT_ENOUGH_MEMORY);
    clearTrace();
    EXPECT_EQ(call(CreateRootDevice, "C:\\JQ"), 0);
    EXPECT_EQ(traceFrom("IR: createDevnode"),
              (Lines{"IR: createDevnode", " I2K: Exiting createDevnode - Failed!",
                     "  I2K: createDevnode Failed!"}));
}

TEST_F(DriverInstallTest, UpdateDevicesReinstallsOnlyForeignOrMissingDrivers)
{
    const std::string first = std::string("USB\\") + UpdateVidPids[0];
    const std::string last = std::string("USB\\") + UpdateVidPids[UpdateVidPidCount - 1];
    const std::string foreign = "{36FC9E60-C465-11CF-8056-444553540000}\\0007";
    m.addDevice({first + "\\1", {first}, HidClass, "", true});             // no driver yet
    m.addDevice({first + "\\2", {first}, HidClass, foreign, true});        // another class's
    m.addDevice({first + "\\3", {first}, HidClass, "", false});            // not attached
    m.addDevice({last + "\\1", {last}, HidClass, "{5c0a7e31-2b94-4d6f-a1e8-93f04b6c2d17}\\0003",
                 true});  // ours, written in lower case
    m.addDevice({"USB\\VID_045E&PID_0008\\1", {"USB\\VID_045E&PID_0008"}, HidClass, "", true});

    EXPECT_EQ(call(UpdateDevices, "C:\\JQ"), 0);
    // One install covers every present device of the id.
    ASSERT_EQ(driverInstalls().size(), 1u);
    EXPECT_EQ(driverInstalls()[0].text, first);
    EXPECT_EQ(driverInstalls()[0].file, UsbInf);
    const std::string enumKey = "HKLM\\System\\CurrentControlSet\\Enum\\";
    EXPECT_EQ(m.stringValue(enumKey + first + "\\1", "Driver"), std::string(VendorDriver));
    EXPECT_FALSE(m.valueExists(enumKey + first + "\\3", "Driver"));
    EXPECT_FALSE(m.valueExists(enumKey + "USB\\VID_045E&PID_0008\\1", "Driver"));
    EXPECT_EQ(std::string(UsbHardwareId), last);

    const Lines lines = trace();
    EXPECT_EQ(lines.front(), "INST2K: updateDevices - targetDir:C:\\JQ");
    EXPECT_EQ(lines.back(), "  I2K: Exiting updateDevices");
    EXPECT_EQ(std::count(lines.begin(), lines.end(), "  I2K: Found One - Updating Device Driver!"), 1);
    EXPECT_EQ(std::count(lines.begin(), lines.end(), "  I2K: GetRegistryProperty Error - tVal:D"), 1);
    const auto failedRead = std::find(lines.begin(), lines.end(), "  I2K: GetRegistryProperty Error - tVal:D");
    ASSERT_NE(failedRead, lines.end());
    EXPECT_EQ(*(failedRead + 1), "  I2K: Doing SetupDiEnumDeviceInfo") << "a device without a driver is passed over";
    EXPECT_EQ(std::count(lines.begin(), lines.end(), "  I2K: Could not get HDEVINFO"),
              static_cast<long>(UpdateVidPidCount - 2));
    EXPECT_TRUE(traced("  I2K: Driver Value: \"{5C0A7E31-2B94-4D6F-A1E8-93F04B6C2D17}\\0003\""));
    EXPECT_TRUE(traced("  I2K: EnumDeviceInfo Error:103"));
}

TEST_F(DriverInstallTest, UpdateDevicesGoesOnPastFailures)
{
    const std::string first = std::string("USB\\") + UpdateVidPids[0];
    const std::string second = std::string("USB\\") + UpdateVidPids[1];
    const std::string foreign = "{36FC9E60-C465-11CF-8056-444553540000}\\000";
    m.addDevice({first + "\\1", {first}, HidClass, foreign + "1", true});
    m.addDevice({second + "\\1", {second}, HidClass, foreign + "2", true});
    m.faults.fail("SetupDiEnumDeviceInfo", ERROR_GEN_FAILURE, 1);
    EXPECT_EQ(call(UpdateDevices, "C:\\JQ"), 0);
    EXPECT_TRUE(traced("  I2K: EnumDeviceInfo Error:1F"));
    ASSERT_EQ(driverInstalls().size(), 1u);
    EXPECT_EQ(driverInstalls()[0].text, second);

    m.os.systemLibraries.erase("newdev.dll");
    m.calls.clear();
    EXPECT_EQ(call(UpdateDevices, "C:\\JQ"), 0);
    EXPECT_TRUE(driverInstalls().empty());
    EXPECT_TRUE(traced("  I2K: Error in UpdateDriverForPlugAndPlayDevices - tVal:7E"));
    EXPECT_EQ(call(NeedReboot), 0);
}

// A Driver value the system did not end ends where its bytes end after a
// load, whatever an earlier call left in the buffer.
TEST_F(DriverInstallTest, UnendedDriverValueIsReadAfreshAfterALoad)
{
    const std::string first = std::string("USB\\") + UpdateVidPids[0];
    m.addDevice({first + "\\1", {first}, HidClass, VendorDriver, true});
    EXPECT_EQ(call(UpdateDevices, "C:\\JQ"), 0);
    EXPECT_TRUE(driverInstalls().empty());

    m.reset();
    reload();
    m.devices.infFiles = builders::vendorInfs({UsbInf});
    m.addDevice({first + "\\1", {first}, HidClass, "", true});
    const std::string part = "{5C0A7E31-2B94";
    m.setValue("HKLM\\System\\CurrentControlSet\\Enum\\" + first + "\\1", "Driver", REG_SZ,
               std::vector<BYTE>(part.begin(), part.end()));
    EXPECT_EQ(call(UpdateDevices, "C:\\JQ"), 0);
    EXPECT_TRUE(traced("  I2K: Driver Value: \"{5C0A7E31-2B94\""));
    EXPECT_EQ(driverInstalls().size(), 1u);

    // Nor does a class that differs from the vendor's in its last digit count.
    const std::string second = std::string("USB\\") + UpdateVidPids[1];
    m.addDevice({second + "\\1", {second}, HidClass, "{5C0A7E31-2B94-4D6F-A1E8-93F04B6C2D18}\\0001", true});
    EXPECT_EQ(call(UpdateDevices, "C:\\JQ"), 0);
    EXPECT_EQ(driverInstalls().back().text, second);
}

// An empty Driver value is no driver, whatever the device before it left in
// the buffer: here a driver of the vendor's class.
TEST_F(DriverInstallTest, EmptyDriverValueAfterTheVendorsIsNoDriver)
{
    const std::string first = std::string("USB\\") + UpdateVidPids[0];
    m.addDevice({first + "\\1", {first}, HidClass, VendorDriver, true});
    m.addDevice({first + "\\2", {first}, HidClass, "", true});
    m.setString("HKLM\\System\\CurrentControlSet\\Enum\\" + first + "\\2", "Driver", "");
    EXPECT_EQ(call(UpdateDevices, "C:\\JQ"), 0);
    EXPECT_TRUE(traced("  I2K: Driver Value: \"\""));
    EXPECT_EQ(driverInstalls().size(), 1u);
}

}  // namespace
