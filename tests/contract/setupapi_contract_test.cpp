// How the device-node routines and the NT-family cleaning use the setup API:
// sets by class and by device id, the first hardware id, registration of the
// root device and removal, the same on the simulator and on Wine's setup API.
#include "setupapi_fixture.h"

#include "host/exports.h"

using contract::HidClass;
using contract::SystemClass;
using contract::UsbClass;
using contract::VendorClass;

namespace {

LONG call(LONG(WINAPI* exported)(HWND, LONG*, LPCSTR), const std::string& text = std::string())
{
    return exported(nullptr, nullptr, text.c_str());
}

}  // namespace

class SetupApiContract : public SetupApiContractTest {};

TEST_F(SetupApiContract, CreateRootDeviceRegistersOneSystemNodeWithItsDriver)
{
    const std::string folder = infFolderWithRootInf();
    EXPECT_EQ(call(RootDeviceCount), 0);

    EXPECT_EQ(call(CreateRootDevice, folder), 1);
    Devices roots = rootDevicesIn(systemDevices());
    ASSERT_EQ(roots.size(), 1u);
    EXPECT_EQ(roots[0].instanceId.rfind("ROOT\\SYSTEM\\", 0), 0u) << roots[0];
    EXPECT_NE(driverOf(roots[0].instanceId), "");
    EXPECT_EQ(call(RootDeviceCount), 1);

    // Found by the scan: the driver is installed again, no second node.
    EXPECT_EQ(call(CreateRootDevice, folder), 1);
    EXPECT_EQ(rootDevicesIn(systemDevices()), roots);
    EXPECT_EQ(call(NeedReboot), 0);

    EXPECT_EQ(call(RemoveRootDevice), 1);
    EXPECT_EQ(rootDevicesIn(systemDevices()), Devices{});
    EXPECT_EQ(call(RootDeviceCount), 0);
    EXPECT_EQ(call(RemoveRootDevice), 0);
}

// The root id is matched on the first hardware id alone, exactly; every
// match goes, the neighbours of a removed node included.
TEST_F(SetupApiContract, RootDeviceScanTakesOnlyTheExactFirstHardwareId)
{
    registerDevice("ROOT\\SYSTEM\\0000", SystemClass, {"root\\jq_pilotdeck"});
    registerDevice("ROOT\\SYSTEM\\0001", SystemClass, {"root\\jq_pilotdeck"});
    registerDevice("ROOT\\SYSTEM\\0002", SystemClass, {"ROOT\\JQ_PILOTDECK"});
    registerDevice("ROOT\\SYSTEM\\0003", SystemClass, {"root\\jq_pilotdeck2"});
    registerDevice("ROOT\\SYSTEM\\0004", SystemClass, {"root\\other", "root\\jq_pilotdeck"});
    registerDevice("ROOT\\SYSTEM\\0005", SystemClass, {"root\\jq_pilotdeck"});

    EXPECT_EQ(call(RootDeviceCount), 3);
    EXPECT_EQ(call(RemoveRootDevice), 1);
    EXPECT_EQ(devicesUnder("ROOT\\SYSTEM"), (Devices{{"ROOT\\SYSTEM\\0002", "ROOT\\JQ_PILOTDECK"},
                                                     {"ROOT\\SYSTEM\\0003", "root\\jq_pilotdeck2"},
                                                     {"ROOT\\SYSTEM\\0004", "root\\other"}}));
    EXPECT_EQ(call(RootDeviceCount), 0);
}

// A set opened with a device id holds that id's instances, whatever the
// case of the text, and nothing of a longer id that begins with it. After a
// removal the element stays describable; deleting it from the set is where
// Wine parts from Windows.
TEST_F(SetupApiContract, DeviceIdSetHoldsItsInstancesUntilRemoved)
{
    registerDevice("USB\\VID_2F7A&PID_00A1\\1", UsbClass, {"USB\\VID_2F7A&PID_00A1"});
    registerDevice("USB\\VID_2F7A&PID_00A1\\2", UsbClass, {"USB\\VID_2F7A&PID_00A1"});
    registerDevice("USB\\VID_2F7A&PID_00A1&MI_00\\1", HidClass, {"USB\\VID_2F7A&PID_00A1&MI_00"});

    const Devices two = {{"USB\\VID_2F7A&PID_00A1\\1", "USB\\VID_2F7A&PID_00A1"},
                         {"USB\\VID_2F7A&PID_00A1\\2", "USB\\VID_2F7A&PID_00A1"}};
    EXPECT_EQ(devicesUnder("usb\\vid_2f7a&pid_00a1"), two);

    contract::DeviceSet set(
        api(), api().GetClassDevs(nullptr, "USB\\VID_2F7A&PID_00A1", nullptr, DIGCF_ALLCLASSES));
    ASSERT_TRUE(set.valid());
    SP_DEVINFO_DATA element = {};
    element.cbSize = sizeof element;
    ASSERT_TRUE(api().EnumDeviceInfo(set.get(), 0, &element));
    ASSERT_TRUE(api().RemoveDevice(set.get(), &element));
    EXPECT_EQ(devicesUnder("USB\\VID_2F7A&PID_00A1"), Devices{two[1]});

    SetLastError(0xdeadbeef);
    const BOOL deleted = api().DeleteInfo(set.get(), &element);
    if (runningOnWine()) {
        // Wine: the removed element cannot be taken out and stays at index
        // 0, so a walk that only ever reads index 0 would never end.
        EXPECT_FALSE(deleted);
        EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_NO_SUCH_DEVINST));
        ASSERT_TRUE(api().EnumDeviceInfo(set.get(), 0, &element));
        ASSERT_TRUE(api().EnumDeviceInfo(set.get(), 1, &element));
    } else {
        // Windows: the next element moves to index 0.
        EXPECT_TRUE(deleted);
        ASSERT_TRUE(api().EnumDeviceInfo(set.get(), 0, &element));
        SetLastError(0xdeadbeef);
        EXPECT_FALSE(api().EnumDeviceInfo(set.get(), 1, &element));
        EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_NO_MORE_ITEMS));
    }
    EXPECT_TRUE(api().RemoveDevice(set.get(), &element));
    EXPECT_EQ(devicesUnder("USB\\VID_2F7A&PID_00A1"), Devices{});
}

// The NT-family cleaning reads the device ids from the enumeration tree and
// removes every node of a matching id, present or not, of any class and on
// every enumerator it knows; the aux device is left to RemoveAuxDevices.
TEST_F(SetupApiContract, CleaningExportsRemoveTheVendorsNodes)
{
    registerDevice("USB\\VID_2F7A&PID_00A1\\5&1A2B&0&1", UsbClass, {"USB\\VID_2F7A&PID_00A1"});
    registerDevice("USB\\VID_2F7A&PID_00A1\\5&1A2B&0&2", UsbClass, {"USB\\VID_2F7A&PID_00A1"});
    registerDevice("USB\\VID_2F7A&PID_00A1\\5&1A2B&0&3", UsbClass, {"USB\\VID_2F7A&PID_00A1"});
    registerDevice("HID\\VID_2F7A&PID_00A1\\7&1A2B&0&0000", HidClass, {"HID\\VID_2F7A&PID_00A1"});
    registerDevice("JOVEX\\VID_2F7A&PID_1A24\\1", VendorClass, {"Jovex\\VID_2F7A&PID_1A24"});
    registerDevice("USB\\VID_2F7A&PID_1A24\\5&3C3C&0&3", UsbClass, {"USB\\VID_2F7A&PID_1A24"});
    registerDevice("USB\\VID_2F7A&PID_C26B\\5&2B2B&0&1", HidClass, {"USB\\VID_2F7A&PID_C26B"});
    registerDevice("USB\\VID_045E&PID_0027\\5&7777&0&1", UsbClass, {"USB\\VID_045E&PID_0027"});

    const Device aux = {"USB\\VID_2F7A&PID_C26B\\5&2B2B&0&1", "USB\\VID_2F7A&PID_C26B"};
    const Device other = {"USB\\VID_045E&PID_0027\\5&7777&0&1", "USB\\VID_045E&PID_0027"};

    EXPECT_EQ(call(RemovePedalDevices), 0);
    EXPECT_EQ(devicesUnder("JOVEX"), Devices{});
    EXPECT_EQ(devicesUnder("USB\\VID_2F7A&PID_1A24"), Devices{});
    EXPECT_EQ(devicesUnder("USB\\VID_2F7A&PID_00A1").size(), 3u);

    EXPECT_EQ(call(RemoveUsbDevices), 0);
    EXPECT_EQ(devicesUnder("USB\\VID_2F7A&PID_00A1"), Devices{});
    EXPECT_EQ(devicesUnder("HID\\VID_2F7A&PID_00A1"), Devices{});
    EXPECT_EQ(devicesUnder("USB\\VID_2F7A&PID_C26B"), Devices{aux});
    EXPECT_EQ(call(RemoveUsbDevices), 1);

    EXPECT_EQ(call(RemoveAuxDevices), 0);
    EXPECT_EQ(devicesUnder("USB\\VID_2F7A&PID_C26B"), Devices{});
    EXPECT_EQ(devicesUnder("USB\\VID_045E&PID_0027"), Devices{other});
}
