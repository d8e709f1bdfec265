// Finding, counting and removing the root device node.
#include "devices/device_state.h"
#include "devices/root_devices.h"
#include "native/fixture.h"
#include "platform/system_libraries.h"

#include <algorithm>
#include <string>
#include <vector>

namespace {

class RootDevicesTest : public SimTest {
protected:
    void addSystemDevice(const std::string& instance, std::vector<std::string> ids,
                         bool present = true)
    {
        m.addDevice({"ROOT\\" + instance, std::move(ids), SystemClass, "", present});
    }

    // Three root devices in a row, and the devices that only look like one.
    void addRootDevicesAndLookalikes()
    {
        addSystemDevice("SYSTEM\\0000", {"root\\jq_pilotdeck"});
        addSystemDevice("SYSTEM\\0001", {"root\\jq_pilotdeck"});
        addSystemDevice("SYSTEM\\0002", {"root\\jq_pilotdeck"});
        addSystemDevice("SYSTEM\\0003", {"ROOT\\JQ_PILOTDECK"});
        addSystemDevice("SYSTEM\\0004", {"root\\jq_pilotdeckx"});
        addSystemDevice("SYSTEM\\0005", {"root\\other", "root\\jq_pilotdeck"});
        addSystemDevice("SYSTEM\\0006", {"root\\jq_pilotdeck"}, false);  // not attached
        m.addDevice({"ROOT\\HID\\0000", {"root\\jq_pilotdeck"}, HidClass, "", true});
    }

    size_t count(const Lines& lines, const std::string& line)
    {
        return static_cast<size_t>(std::count(lines.begin(), lines.end(), line));
    }
};

TEST_F(RootDevicesTest, EmptyScanTracesEveryStep)
{
    EXPECT_EQ(call(RootDeviceCount), 0);
    EXPECT_EQ(trace(), (Lines{"INST2K: rootDeviceCount", "  I2K: Got DeviceInfoSet Handle!",
                              "  I2K: Doing SetupDiEnumDeviceInfo",
                              "  I2K: EnumDevInfo Error - tVal:103",
                              "  I2K: Doing SetupDiDestroyInfo",
                              "  I2K: Exiting rootDeviceCount - count:0"}));
}

TEST_F(RootDevicesTest, OnlyExactFirstHardwareIdOfPresentSystemDevicesCounts)
{
    addRootDevicesAndLookalikes();
    EXPECT_EQ(call(RootDeviceCount), 3);
    const Lines lines = trace();
    EXPECT_EQ(count(lines, "  I2K: Found One!"), 3u);
    EXPECT_EQ(count(lines, "  I2K: EnumDevInfo Success - bSiz:13  Hdw Id:root\\jq_pilotdeck:"), 3u);
    EXPECT_EQ(count(lines, "  I2K: EnumDevInfo Success - bSiz:1E  Hdw Id:root\\other:"), 1u);
    EXPECT_EQ(lines.back(), "  I2K: Exiting rootDeviceCount - count:3");
}

TEST_F(RootDevicesTest, ExistenceTestStopsAtTheFirstMatch)
{
    addRootDevicesAndLookalikes();
    EXPECT_TRUE(devnodeExists());
    releaseSystemLibraries();
    EXPECT_EQ(m.callCount("SetupDiEnumDeviceInfo"), 1);
    EXPECT_EQ(trace(), (Lines{"INST2K: devnodeExists", "  I2K: Got DeviceInfoSet Handle!",
                              "  I2K: Doing SetupDiEnumDeviceInfo", "  I2K: SetupDiEnumDeviceInfo OKAY!",
                              "  I2K: EnumDevInfo Success - bSiz:13  Hdw Id:root\\jq_pilotdeck:",
                              "  I2K: Found One!", "  I2K: Doing SetupDiDestroyInfo",
                              "  I2K: Exiting devnodeExists"}));
}

TEST_F(RootDevicesTest, FailedCallsPassOverOrEndTheScan)
{
    addSystemDevice("SYSTEM\\0000", {});  // no hardware id at all
    addSystemDevice("SYSTEM\\0001", {std::string(260, 'x')});  // longer than the buffer
    addSystemDevice("SYSTEM\\0002", {"root\\jq_pilotdeck"});
    EXPECT_EQ(call(RootDeviceCount), 1);
    EXPECT_EQ(count(trace(), "  I2K: GetRegistryProperty Error - tVal:D"), 1u);
    EXPECT_EQ(count(trace(), "  I2K: GetRegistryProperty Error - tVal:7A"), 1u);

    clearTrace();
    m.faults.fail("SetupDiEnumDeviceInfo", ERROR_GEN_FAILURE, 3);
    EXPECT_EQ(call(RootDeviceCount), 0);  // ended before it reached the third
    EXPECT_EQ(count(trace(), "  I2K: EnumDevInfo Error - tVal:1F"), 1u);

    clearTrace();
    m.faults.fail("SetupDiGetClassDevsA", ERROR_NOT_ENOUGH_MEMORY);
    EXPECT_EQ(call(RootDeviceCount), 0);
    EXPECT_EQ(trace(), (Lines{"INST2K: rootDeviceCount", "  I2K: Could not get HDEVINFO",
                              "  I2K: Exiting rootDeviceCount - count:0"}));
}

TEST_F(RootDevicesTest, RemoveTakesEveryRootDeviceAndNothingElse)
{
    addRootDevicesAndLookalikes();
    const std::string usbDevice = "USB\\VID_2F7A&PID_00A1\\5&1A2B&0&1";
    m.addDevice({usbDevice, {"USB\\VID_2F7A&PID_00A1"}, HidClass, "", true});

    EXPECT_EQ(call(RemoveRootDevice), 1);
    EXPECT_TRUE(m.devicesWithHardwareId("root\\jq_pilotdeck") ==
                (Lines{"ROOT\\HID\\0000", "ROOT\\SYSTEM\\0005", "ROOT\\SYSTEM\\0006"}));
    EXPECT_TRUE(m.deviceExists("ROOT\\SYSTEM\\0003"));
    EXPECT_TRUE(m.deviceExists("ROOT\\SYSTEM\\0004"));
    EXPECT_FALSE(m.deviceExists(usbDevice));  // the cleaning run came first
    const Lines lines = trace();
    EXPECT_EQ(lines.front(), "INST2K: removeRootDevice");
    EXPECT_EQ(lines.at(1), "DELKEYS: cleanDeviceKeys");
    EXPECT_EQ(count(lines, "  I2K: DiRemove OK"), 3u);
    EXPECT_EQ(count(lines, "  I2K: DiDelete OK"), 3u);
    EXPECT_EQ(lines.back(), "  I2K: Exiting removeRootDevice");

    clearTrace();
    EXPECT_EQ(call(RemoveRootDevice), 0);
}

TEST_F(RootDevicesTest, RemoveCountsARootDeviceThatWouldNotGo)
{
    addSystemDevice("SYSTEM\\0000", {"root\\jq_pilotdeck"});
    addSystemDevice("SYSTEM\\0001", {"root\\jq_pilotdeck"});
    m.faults.fail("SetupDiRemoveDevice", ERROR_ACCESS_DENIED);
    m.faults.fail("SetupDiDeleteDeviceInfo", ERROR_INVALID_PARAMETER);
    EXPECT_EQ(call(RemoveRootDevice), 1);
    EXPECT_EQ(count(trace(), "  I2K: DiRemove Failed"), 2u);
    EXPECT_EQ(count(trace(), "  I2K: DiDelete Failed"), 2u);
    EXPECT_TRUE(m.deviceExists("ROOT\\SYSTEM\\0001"));
}

TEST_F(RootDevicesTest, RemoveScansEvenWhenTheCleaningRunCannotClean)
{
    addSystemDevice("SYSTEM\\0000", {"root\\jq_pilotdeck"});
    m.setAdministrator(false);
    EXPECT_EQ(call(RemoveRootDevice), 1);
    EXPECT_FALSE(m.deviceExists("ROOT\\SYSTEM\\0000"));

    // An error that ends the cleaning run (memory runs out in it) is traced,
    // and the user's device still goes.
    m.setAdministrator(true);
    bool stopped = false;
    for (long nth = 1; nth < 400 && !stopped; ++nth) {
        reload();
        addSystemDevice("SYSTEM\\0000", {"root\\jq_pilotdeck"});
        clearTrace();
        m.faults.failAllocation(nth);
        const LONG result = call(RemoveRootDevice);
        m.faults.failAllocation(0);
        const Lines lines = trace();
        stopped = std::any_of(lines.begin(), lines.end(), [](const std::string& line) {
            return line.rfind("  I2K: Error in cleanDeviceKeys - ", 0) == 0;
        });
        if (!stopped)
            continue;
        EXPECT_EQ(result, 1);
        EXPECT_FALSE(m.deviceExists("ROOT\\SYSTEM\\0000"));
        EXPECT_EQ(lines.back(), "  I2K: Exiting removeRootDevice");
    }
    EXPECT_TRUE(stopped);
}

// The hook writes its own exit line after the scan (uninstall_hooks_test).
TEST_F(RootDevicesTest, UninstallScanRemovesAndEndsWithTheSetDestroyed)
{
    addSystemDevice("SYSTEM\\0000", {"root\\jq_pilotdeck"});
    removeRootDevicesForUninstall();
    releaseSystemLibraries();
    EXPECT_FALSE(m.deviceExists("ROOT\\SYSTEM\\0000"));
    EXPECT_EQ(trace().back(), "  I2K: Doing SetupDiDestroyInfo");
}

TEST_F(RootDevicesTest, MissingSetupLibraryCountsAsNoDevice)
{
    addSystemDevice("SYSTEM\\0000", {"root\\jq_pilotdeck"});
    m.os.systemLibraries.erase("setupapi.dll");
    EXPECT_EQ(call(RootDeviceCount), 0);
    EXPECT_EQ(call(RemoveRootDevice), 0);
    EXPECT_TRUE(m.deviceExists("ROOT\\SYSTEM\\0000"));
}

// The cleaning run gets the window; the root scan itself asks for its set
// with none, and tells each property read of 250 bytes.
TEST_F(RootDevicesTest, RemoveHandsItsWindowToTheCleaningRunOnly)
{
    addSystemDevice("SYSTEM\\0000", {"root\\jq_pilotdeck"});
    m.addDevice({"USB\\VID_2F7A&PID_00A1\\1", {"USB\\VID_2F7A&PID_00A1"}, HidClass, "", true});
    const std::string auxOem = "HKLM\\System\\CurrentControlSet\\Control\\MediaProperties\\PrivateProperties"
                               "\\Joystick\\OEM\\VID_2F7A&PID_C26B";
    m.createKey(auxOem);
    const HWND window = reinterpret_cast<HWND>(0x99);
    EXPECT_EQ(RemoveRootDevice(window, nullptr, nullptr), 1);
    EXPECT_FALSE(m.keyExists(auxOem)) << "the run consults the aux list too";
    const auto sets = m.callsOf("SetupDiGetClassDevsA");
    ASSERT_EQ(sets.size(), 2u);
    EXPECT_EQ(sets[0].window, window);
    EXPECT_EQ(sets[0].flags, static_cast<DWORD>(DIGCF_ALLCLASSES));
    EXPECT_EQ(sets[1].window, nullptr);
    EXPECT_EQ(sets[1].flags, static_cast<DWORD>(DIGCF_PRESENT));
    EXPECT_EQ(sets[1].text, "");
    const auto reads = m.callsOf("SetupDiGetDeviceRegistryPropertyA");
    ASSERT_EQ(reads.size(), 1u);
    EXPECT_EQ(reads[0].size, 250u);
    EXPECT_EQ(reads[0].flags, static_cast<DWORD>(SPDRP_HARDWAREID));
}

// A property value the system did not end is read no further than the
// bytes the call was told of, nor past 255 characters; and what a call left
// in the buffer is gone at the next load, so such a value ends where its
// bytes end.
TEST_F(RootDevicesTest, UnendedHardwareIdEndsAtTheBufferOrTheLoad)
{
    BYTE buffer[256];
    std::fill(std::begin(buffer), std::end(buffer), BYTE('a'));
    EXPECT_EQ(firstTextOf(buffer, 250).size(), 250u);
    EXPECT_EQ(firstTextOf(buffer, 256).size(), 255u);

    addSystemDevice("SYSTEM\\0000", {"root\\jq_pilotdeck and more"});
    EXPECT_EQ(call(RootDeviceCount), 0);
    m.reset();
    reload();
    addSystemDevice("SYSTEM\\0000", {});
    const std::string id = "root\\jq_pilotdeck";
    m.setValue("HKLM\\System\\CurrentControlSet\\Enum\\ROOT\\SYSTEM\\0000", "HardwareID", REG_MULTI_SZ,
               std::vector<BYTE>(id.begin(), id.end()));
    EXPECT_EQ(call(RootDeviceCount), 1);
}

}  // namespace
