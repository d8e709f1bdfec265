#include "cleaning/cleaning_routines.h"
#include "native/cleaning_support.h"
#include "support/errors.h"

namespace {

using builders::Oem;
using builders::Settings9x;
using builders::SettingsNt;
const std::string AsdFirst = builders::join(builders::AsdProb, builders::AsdSubkeys[0]);
const std::string AsdSecond = builders::join(builders::AsdProb, builders::AsdSubkeys[1]);
const std::string& HidInterfaces = builders::InterfaceClassKeys[0];
const std::string& UsbInterfaces = builders::InterfaceClassKeys[1];

using SettingsKeysTest = CleaningRoutineTest;

TEST_F(SettingsKeysTest, OemSubkeysOfTheVendorGoWithTheirChildren)
{
    for (const std::string& name : {std::string(UsbJoystickId) + "\\Calibration\\Deep", std::string(PedalId),
                                   std::string(OtherVendorId), std::string("VID_2F7A&PID_00A")})
        m.createKey(Oem + "\\" + name);
    const Keys before = m.allKeys();

    deleteOemKeys();

    EXPECT_EQ(m.allKeys(), keysWithout(before, {Oem + "\\" + UsbJoystickId, Oem + "\\" + PedalId}));
    EXPECT_EQ(routineLines(trace()),
              (Lines{"DELKEYS: deleteOemKeys", "  EU: nKeys:4", "  EU: vidPidStr:VID_045E&PID_0008",
                     "  EU: vidPidStr:VID_2F7A&PID_00A", "  EU: vidPidStr:VID_2F7A&PID_00A1",
                     "  EU: vidPidStr:VID_2F7A&PID_1A24", "  EU: Freeing OEM Key Reg Object",
                     "  EU: Exiting deleteOemKeys"}));
}

TEST_F(SettingsKeysTest, JoystickSettingsKeyFollowsTheMajorVersion)
{
    using V = sim::WindowsVersion;
    for (V version : {V::Win98, V::WinMe, V::Win2000, V::WinXP, V::Win7}) {
        freshMachine(version);
        m.createKey(Settings9x + "\\" + UsbJoystickId);
        m.createKey(SettingsNt + "\\" + UsbJoystickId);
        const Keys before = m.allKeys();
        EXPECT_EQ(call(RemoveUsbDevices), 0);
        const bool nt5 = version == V::Win2000 || version == V::WinXP;
        EXPECT_EQ(m.allKeys(), keysWithout(before, {(nt5 ? SettingsNt : Settings9x) + "\\" + UsbJoystickId}));
    }
}

TEST_F(SettingsKeysTest, PedalRunKeepsOtherJoysticksAndPassesOverAnUnopenableKey)
{
    prepareRun(Mode::Pedal);
    CachedWin2k = true;
    m.createKey(SettingsNt + "\\" + UsbJoystickId);
    m.createKey(SettingsNt + "\\" + PedalId + "\\Axes");
    m.createKey(Settings9x + "\\" + PedalId);
    m.setReadOnly(Settings9x);
    const Keys before = m.allKeys();

    deleteJoystickSettingsKeys();
    EXPECT_EQ(m.allKeys(), keysWithout(before, {SettingsNt + "\\" + PedalId}));
    EXPECT_EQ(routineLines(trace()),
              (Lines{"DELKEYS: deleteJoystickSettingsKeys", "  EU: nKeys:2",
                     "  EU: vidPidStr:VID_2F7A&PID_00A1", "  EU: vidPidStr:VID_2F7A&PID_1A24",
                     "  EU: Freeing JoystickSettings Key Reg Object",
                     "  EU: Exiting deleteJoystickSettingsKeys"}));

    clearTrace();
    CachedWin2k = false;
    deleteJoystickSettingsKeys();
    EXPECT_TRUE(m.keyExists(Settings9x + "\\" + PedalId));
    EXPECT_EQ(trace(), (Lines{"DELKEYS: deleteJoystickSettingsKeys",
                              "WINREG: OpenWithKey - FileName:" + Settings9x.substr(5), "  WR: OpenKey FAILED!",
                              "  EU: Exiting deleteJoystickSettingsKeys"}));
}

TEST_F(SettingsKeysTest, AsdValuesGoAndTheirKeysStay)
{
    m.setString(AsdFirst, UsbJoystickId, "1");
    m.setString(AsdFirst, OtherVendorId, "1");
    m.setString(AsdSecond, std::string("JOYSTICK_") + PedalId, "1");
    m.createKey(AsdFirst + "\\" + UsbJoystickId);  // a key, not a value
    const Keys before = m.allKeys();

    deleteAsdKeys();

    EXPECT_EQ(m.allKeys(), before);
    EXPECT_FALSE(m.valueExists(AsdFirst, UsbJoystickId));
    EXPECT_TRUE(m.valueExists(AsdFirst, OtherVendorId));
    EXPECT_FALSE(m.valueExists(AsdSecond, std::string("JOYSTICK_") + PedalId));
    EXPECT_EQ(routineLines(trace()),
              (Lines{"DELKEYS: deleteAsdKeys", "  EU: First nVals:2", "  EU: First vidPidStr:VID_2F7A&PID_00A1",
                     "  DK: Deleting ASD Subkey 1", "  EU: First vidPidStr:VID_045E&PID_0008",
                     "  EU: Processing Second ASD Reg Object", "  EU: Second nVals:1",
                     "  EU: Second vidPidStr:JOYSTICK_VID_2F7A&PID_1A24", "  DK: Deleting ASD Subkey 2",
                     "  EU: Freeing Second ASD Reg Object", "  EU: Exiting deleteAsdKeys"}));

    // A missing first subkey counts no values; the second is still swept.
    freshMachine(sim::WindowsVersion::Win98);
    m.setString(AsdSecond, UsbJoystickId, "1");
    deleteAsdKeys();
    EXPECT_FALSE(m.valueExists(AsdSecond, UsbJoystickId));
    EXPECT_EQ(routineLines(trace()).at(1), "  EU: First nVals:0");

    // A missing second subkey counts none either: not the first one's again.
    freshMachine(sim::WindowsVersion::Win98);
    m.setString(AsdFirst, OtherVendorId, "1");
    deleteAsdKeys();
    EXPECT_EQ(routineLines(trace()),
              (Lines{"DELKEYS: deleteAsdKeys", "  EU: First nVals:1", "  EU: First vidPidStr:VID_045E&PID_0008",
                     "  EU: Processing Second ASD Reg Object", "  EU: Second nVals:0",
                     "  EU: Freeing Second ASD Reg Object", "  EU: Exiting deleteAsdKeys"}));

    // A value name past 255 characters is judged, and named, by its first 255.
    freshMachine(sim::WindowsVersion::Win98);
    const std::string longName = std::string(PedalId) + std::string(283, 'x');
    m.setString(AsdFirst, longName, "1");
    deleteAsdKeys();
    const Lines longLines = routineLines(trace());
    ASSERT_GE(longLines.size(), 4u);
    EXPECT_EQ(longLines[2], "  EU: First vidPidStr:" + longName.substr(0, 255));
    EXPECT_EQ(longLines[3], "  DK: Deleting ASD Subkey 1");
    EXPECT_TRUE(IdMatchFound);

    // No ASD\Prob key: the routine opens nothing and says so.
    freshMachine(sim::WindowsVersion::Win98);
    deleteAsdKeys();
    EXPECT_EQ(trace(), (Lines{"DELKEYS: deleteAsdKeys",
                              "WINREG: OpenWithKey - FileName:System\\CurrentControlSet\\Control\\ASD\\Prob",
                              "  WR: OpenKey FAILED!", "  EU: Exiting deleteAsdKeys"}));
}

TEST_F(SettingsKeysTest, InterfaceKeysAreJudgedByTheirDeviceInstance)
{
    const auto add = [this](const std::string& key, const char* instance) {
        m.createKey(key + "\\#\\Control");
        if (instance)
            m.setString(key, "DeviceInstance", instance);
    };
    add(HidInterfaces + "\\##?#HID#VID_2F7A&PID_00A1#7&1", "HID\\VID_045E&PID_0008\\7&1");
    add(HidInterfaces + "\\Renamed", "HID\\VID_2F7A&PID_00A1&MI_00\\7&2");
    add(HidInterfaces + "\\NoInstance", nullptr);
    add(UsbInterfaces + "\\##?#USB#x", "USB\\VID_2F7A&PID_1A24\\5&2");
    const Keys before = m.allKeys();

    deleteDeviceClassesKeys();

    EXPECT_EQ(m.allKeys(), keysWithout(before, {HidInterfaces + "\\Renamed", UsbInterfaces + "\\##?#USB#x"}));
    EXPECT_EQ(routineLines(trace()),
              (Lines{"DELKEYS: deleteDeviceClassesKeys", "  EU: Registry Key Opened Okay", "  EU: First nKeys:3",
                     "  EU: First vidPidStr:HID\\VID_045E&PID_0008\\7&1",
                     "  EU: First vidPidStr:", "  EU: First vidPidStr:HID\\VID_2F7A&PID_00A1&MI_00\\7&2",
                     "  EU: Freeing First DevClass Reg Object", "  EU: Second Registry Key Opened Okay",
                     "  EU: Second nKeys:1", "  EU: Second vidPidStr:USB\\VID_2F7A&PID_1A24\\5&2",
                     "  EU: Freeing Second DevClass Reg Object", "  EU: Exiting deleteDeviceClassesKeys"}));

    // Without the HID class key the USB one is swept all the same.
    freshMachine(sim::WindowsVersion::Win98);
    add(UsbInterfaces + "\\a", "USB\\VID_2F7A&PID_00A1\\5&2");
    deleteDeviceClassesKeys();
    EXPECT_FALSE(m.keyExists(UsbInterfaces + "\\a"));
    EXPECT_EQ(routineLines(trace()).at(1), "  EU: Second Registry Key Opened Okay");
}

// A DeviceInstance value that is not text names no device: that key is
// passed over, with a trace line, and the sweep goes on.
TEST_F(SettingsKeysTest, DeviceInstanceThatIsNotTextIsPassedOverAndTheSweepGoesOn)
{
    m.setString(HidInterfaces + "\\a", "DeviceInstance", "HID\\VID_2F7A&PID_00A1\\7&1");
    m.setValue(HidInterfaces + "\\b", "DeviceInstance", REG_BINARY, {1, 2, 3});
    m.setString(HidInterfaces + "\\c", "DeviceInstance", "HID\\VID_2F7A&PID_00A1\\7&3");
    m.setString(UsbInterfaces + "\\d", "DeviceInstance", "USB\\VID_2F7A&PID_00A1\\5&2");
    const Keys before = m.allKeys();

    deleteDeviceClassesKeys();

    EXPECT_EQ(m.allKeys(), keysWithout(before, {HidInterfaces + "\\a", HidInterfaces + "\\c",
                                                UsbInterfaces + "\\d"}));
    EXPECT_TRUE(traced("  WR: Passed over:" + HidInterfaces.substr(5) + "|b|Invalid data type for 'DeviceInstance'"));
}

}  // namespace
