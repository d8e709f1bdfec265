// The NT-family enumeration routines: the vendor's device nodes, attached
// or not, removed through the setup API.
#include "cleaning/clean_run.h"
#include "cleaning/cleaning_routines.h"
#include "cleaning/jqpids.h"
#include "native/cleaning_support.h"
#include "platform/system_libraries.h"

namespace {

const std::string EnumKey = "HKLM\\System\\CurrentControlSet\\Enum\\";
const std::string ClassKey = "HKLM\\System\\CurrentControlSet\\Control\\Class\\";

class EnumKeysNtTest : public CleaningRoutineTest {
protected:
    void TearDown() override
    {
        releaseSystemLibraries();  // the routines are called here without an export
        CleaningRoutineTest::TearDown();
    }

    std::string addDevice(const std::string& deviceId, const std::string& instance,
                          bool present = true, const std::string& driver = "")
    {
        const std::string id = deviceId + "\\" + instance;
        m.addDevice({id, {deviceId}, HidClass, driver, present});
        return id;
    }
};

TEST_F(EnumKeysNtTest, RemoveUsbDevicesTakesEveryNodeOfTheVendorsIdsOnly)
{
    const std::string usb = std::string("USB\\") + UsbJoystickId;
    const std::string driver = std::string(HidClass) + "\\0004";
    const Keys gone = {addDevice(usb, "1", true, driver), addDevice(usb, "2", false),
                       addDevice(usb, "3", false),
                       addDevice(std::string("HID\\") + UsbJoystickId, "7&1A&0&0000"),
                       addDevice(std::string("Jovex\\") + PedalId, "1", false)};
    const Keys stay = {addDevice(std::string("USB\\") + OtherVendorId, "1"),
                       addDevice(std::string("USB\\") + AuxId, "1")};

    EXPECT_EQ(call(RemoveUsbDevices), 0);
    for (const std::string& id : gone)
        EXPECT_FALSE(m.deviceExists(id)) << id;
    for (const std::string& id : stay)
        EXPECT_TRUE(m.deviceExists(id)) << id;
    EXPECT_FALSE(m.keyExists(EnumKey + usb));
    EXPECT_FALSE(m.keyExists(ClassKey + driver));
    EXPECT_EQ(call(RemoveUsbDevices), 1);  // nothing of the vendor's left
}

TEST_F(EnumKeysNtTest, TraceAndTemplateFollowTheNamesAsTheRegistryGivesThem)
{
    addDevice(std::string("USB\\") + OtherVendorId, "1");
    addDevice("USB\\vid_2f7a&pid_00a1", "1");
    addDevice("USB\\vid_2f7a&pid_00a1", "2", false);
    deleteEnumUsbKeys2k();
    EXPECT_EQ(routineLines(trace()),
              (Lines{"DELKEYS: deleteEnumUsbKeys2k", "  EU: ReadSection found 2 Sections",
                     "  EU: Keylist Entry:VID_045E&PID_0008", "  EU: Keylist Entry:vid_2f7a&pid_00a1",
                     "  EU: checkId returned TRUE, opening subReg Key", "  DK: DiRemove OK",
                     "  DK: DiDelete OK", "  DK: DiRemove OK", "  DK: DiDelete OK"}));
    EXPECT_STREQ(UsbEnumDeviceId, "USB\\VID_2F7A&PID_00a1");
    EXPECT_TRUE(IdMatchFound);
    EXPECT_EQ(KeyPath, "System\\CurrentControlSet\\Enum\\USB");
}

TEST_F(EnumKeysNtTest, InterfaceNodesOfAMatchingKeyAreRemovedToo)
{
    // A composite device has a device id per interface; each key that
    // matches leads to its own nodes, not to those of the bare id.
    const std::string hid = std::string("HID\\") + UsbJoystickId;
    const Keys gone = {addDevice(hid + "&MI_00", "8&2B&0&0000"),
                       addDevice(hid + "&MI_01&Col01", "8&2C&0&0000", false)};
    const Keys stay = {addDevice(std::string("HID\\") + OtherVendorId + "&MI_00", "8&3D&0&0000")};

    EXPECT_EQ(call(RemoveUsbDevices), 0);
    for (const std::string& id : gone)
        EXPECT_FALSE(m.deviceExists(id)) << id;
    for (const std::string& id : stay)
        EXPECT_TRUE(m.deviceExists(id)) << id;
    EXPECT_STREQ(HidEnumDeviceId, (std::string("HID\\VID_2F7A&PID_") + (UsbJoystickId + 13)).c_str())
        << "the template still takes the product digits";
}

TEST_F(EnumKeysNtTest, NothingToRemoveEndsQuietly)
{
    deleteEnumJqKeys2k();  // no Jovex key at all
    EXPECT_EQ(routineLines(trace()), (Lines{"DELKEYS: deleteEnumJqKeys2k"}));

    clearTrace();
    m.createKey(EnumKey + "HID");
    deleteEnumHidKeys2k();
    EXPECT_EQ(routineLines(trace()),
              (Lines{"DELKEYS: deleteEnumHidKeys2k", "  EU: ReadSection found 0 Sections"}));

    // A matching device key whose only instance has no class is no device.
    clearTrace();
    m.createKey(EnumKey + "HID\\" + UsbJoystickId + "\\1");
    deleteEnumHidKeys2k();
    const Lines lines = routineLines(trace());
    EXPECT_EQ(lines.back(), "  EU: checkId returned TRUE, opening subReg Key");
    EXPECT_EQ(m.callCount("SetupDiDestroyDeviceInfoList"), 1);
}

TEST_F(EnumKeysNtTest, FailedSetupCallsNeitherStopNorLoopTheRoutine)
{
    const std::string usb = std::string("USB\\") + UsbJoystickId;
    const std::string first = addDevice(usb, "1");
    const std::string second = addDevice(usb, "2", false);
    m.faults.fail("SetupDiRemoveDevice", ERROR_ACCESS_DENIED, 1);
    m.faults.fail("SetupDiDeleteDeviceInfo", ERROR_NO_SUCH_DEVINST);  // as Wine answers
    deleteEnumUsbKeys2k();
    const Lines lines = routineLines(trace());
    EXPECT_EQ(Lines(lines.end() - 4, lines.end()),
              (Lines{"  DK: DiRemove Failed", "  DK: DiDelete Failed", "  DK: DiRemove OK",
                     "  DK: DiDelete Failed"}));
    EXPECT_TRUE(m.deviceExists(first));
    EXPECT_FALSE(m.deviceExists(second));

    // A set that cannot be built passes the name over; the next one follows.
    m.faults.clear();
    addDevice(std::string("USB\\") + PedalId, "1");
    m.faults.fail("SetupDiGetClassDevsA", ERROR_NOT_ENOUGH_MEMORY, 1);
    clearTrace();
    deleteEnumUsbKeys2k();
    EXPECT_TRUE(m.deviceExists(first));
    EXPECT_FALSE(m.deviceExists(std::string("USB\\") + PedalId + "\\1"));
    EXPECT_EQ(routineLines(trace()).back(), "  DK: DiDelete OK");
}

TEST_F(EnumKeysNtTest, AnalogRunCleansGamePortAndHidOnly)
{
    const Keys gone = {addDevice("GamePort\\VID_2F7A&PID_0301", "1", false)};
    const std::string usb = addDevice("USB\\VID_2F7A&PID_0301", "1");
    EXPECT_EQ(cleanDeviceKeys(nullptr, false, true, true, false), 0);
    EXPECT_FALSE(m.deviceExists(gone[0]));
    EXPECT_TRUE(m.deviceExists(usb));
    EXPECT_EQ(GamePortEnumDeviceId, std::string("GamePort\\VID_2F7A&PID_0301"));
    const Lines lines = trace();
    EXPECT_EQ(std::count(lines.begin(), lines.end(), "DELKEYS: deleteEnumGamePortKeys2k"), 1);
    EXPECT_EQ(std::count(lines.begin(), lines.end(), "DELKEYS: deleteEnumUsbKeys2k"), 0);
}

TEST_F(EnumKeysNtTest, MissingSetupLibraryLeavesTheDevices)
{
    const std::string id = addDevice(std::string("USB\\") + UsbJoystickId, "1");
    m.os.systemLibraries.erase("setupapi.dll");
    EXPECT_EQ(call(RemoveUsbDevices), 0);  // the name matched all the same
    EXPECT_TRUE(m.deviceExists(id));
}

// Each routine writes only its own template, the last matching name's digits
// winning, and asks for every set with the run's window, of all classes,
// attached or not. The enumeration tree itself is opened for reading only.
TEST_F(EnumKeysNtTest, EachRoutineKeepsItsTemplateAndPassesTheRunsWindow)
{
    addDevice(std::string("USB\\") + UsbJoystickId, "1");
    addDevice(std::string("USB\\") + PedalId, "1", false);
    addDevice(std::string("HID\\") + UsbJoystickId, "7&1");
    const HWND window = reinterpret_cast<HWND>(0x4d2);
    EXPECT_EQ(cleanDeviceKeys(window, true, true, false, false), 0);

    EXPECT_STREQ(UsbEnumDeviceId, "USB\\VID_2F7A&PID_1A24");
    EXPECT_STREQ(HidEnumDeviceId, "HID\\VID_2F7A&PID_00A1");
    EXPECT_STREQ(JovexEnumDeviceId, "Jovex\\VID_2F7A&PID_0000");
    EXPECT_STREQ(GamePortEnumDeviceId, "GamePort\\VID_2F7A&PID_0000");
    Lines asked;
    for (const sim::CallRecord& r : m.callsOf("SetupDiGetClassDevsA")) {
        EXPECT_EQ(r.window, window);
        EXPECT_EQ(r.flags, static_cast<DWORD>(DIGCF_ALLCLASSES));
        asked.push_back(r.text);
    }
    EXPECT_EQ(asked, (Lines{"USB\\VID_2F7A&PID_00A1", "USB\\VID_2F7A&PID_1A24",
                            "HID\\VID_2F7A&PID_00A1"}));
    size_t opens = 0;
    for (const sim::CallRecord& r : m.callsOf("RegOpenKeyExA")) {
        if (startsWith(r.text, "System\\CurrentControlSet\\Enum")) {
            EXPECT_EQ(r.flags, static_cast<REGSAM>(KEY_READ)) << r.text;
            ++opens;
        }
    }
    EXPECT_EQ(opens, 3u);
}

}  // namespace
