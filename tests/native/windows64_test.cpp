// The shipped DLL is 32-bit: on 64-bit Windows it runs under WOW64, where
// Windows refuses device installation to a 32-bit caller (ERROR_IN_WOW64
// from UpdateDriverForPlugAndPlayDevicesA and SetupDiCallClassInstaller).
// Wine does not refuse it, so these cases are the only place where what an
// installer gets there is held: what each export returns and what it leaves.
#include "cleaning/jqpids.h"
#include "native/fixture.h"
#include "native/machine_builders.h"

#include <string>
#include <vector>

namespace {

const std::string EnumKey = "HKLM\\System\\CurrentControlSet\\Enum\\";

class Windows64Test : public SimTest, public ::testing::WithParamInterface<sim::WindowsVersion> {
protected:
    void SetUp() override
    {
        SimTest::SetUp();
        m.setWindows(GetParam());
        m.os.runningInWow64 = true;
        m.devices.infFiles = builders::vendorInfs({"C:\\JQ\\JQDRV2K3.INF", "C:\\JQ\\JQDRV2K1.INF"});
        ASSERT_EQ(call(InitModule), 1);
    }

    std::vector<std::string> wow64Refusals() const
    {
        std::vector<std::string> refused;
        for (const auto& install : driverInstalls())
            if (!install.result && install.error == static_cast<DWORD>(ERROR_IN_WOW64))
                refused.push_back(install.text);
        return refused;
    }
};

TEST_P(Windows64Test, NoDeviceIsInstalledAndNothingIsLeftHalfMade)
{
    // No root device yet: it cannot even be registered, so none is left
    // without its driver.
    EXPECT_EQ(call(CreateRootDevice, "C:\\JQ"), 0);
    EXPECT_FALSE(m.keyExists(EnumKey + "ROOT\\SYSTEM"));
    EXPECT_EQ(call(RootDeviceCount), 0);
    EXPECT_TRUE(driverInstalls().empty());  // it never got as far as the driver

    // A root device made by a 64-bit installer keeps its driver; the answer
    // still says the driver could not be installed.
    m.addDevice({"ROOT\\SYSTEM\\0000", {"root\\jq_pilotdeck"}, SystemClass, "", true});
    EXPECT_EQ(call(CreateRootDevice, "C:\\JQ"), 0);
    EXPECT_EQ(wow64Refusals(), std::vector<std::string>{"root\\jq_pilotdeck"});
    EXPECT_TRUE(m.keyExists(EnumKey + "ROOT\\SYSTEM\\0000"));

    // The vendor's USB device keeps the driver it has.
    m.calls.clear();
    const std::string joystick = std::string("USB\\") + UpdateVidPids[0];
    const std::string foreign = "{36FC9E60-C465-11CF-8056-444553540000}\\0007";
    m.addDevice({joystick + "\\1", {joystick}, HidClass, foreign, true});
    EXPECT_EQ(call(UpdateDevices, "C:\\JQ"), 0);
    EXPECT_EQ(wow64Refusals(), std::vector<std::string>{joystick});
    EXPECT_EQ(m.stringValue(EnumKey + joystick + "\\1", "Driver"), foreign);
    EXPECT_EQ(call(NeedReboot), 0);
}

TEST_P(Windows64Test, TheRegistryCleaningAndTheRemovalOfNodesStillWork)
{
    const std::string joystick = std::string("USB\\") + UpdateVidPids[0];
    m.addDevice({joystick + "\\1", {joystick}, HidClass, "", true});
    m.addDevice({"ROOT\\SYSTEM\\0000", {"root\\jq_pilotdeck"}, SystemClass, "", true});
    // Windows 7 keeps joystick settings where the 9x family does.
    const std::string settings = builders::join(
        GetParam() == sim::WindowsVersion::Win7 ? builders::Settings9x : builders::SettingsNt, UpdateVidPids[0]);
    m.createKey(settings);

    EXPECT_EQ(call(RemoveUsbDevices), 0);
    EXPECT_FALSE(m.keyExists(settings));
    // SetupDiRemoveDevice documents no refusal under WOW64: nodes go.
    EXPECT_FALSE(m.keyExists(EnumKey + joystick + "\\1"));
    EXPECT_EQ(call(RemoveRootDevice), 1);
    EXPECT_FALSE(m.keyExists(EnumKey + "ROOT\\SYSTEM\\0000"));
}

// Windows XP x64 reports 5.2, Windows 7 6.1.
INSTANTIATE_TEST_SUITE_P(Wow64, Windows64Test,
                         ::testing::Values(sim::WindowsVersion::Server2003, sim::WindowsVersion::Win7));

}  // namespace
