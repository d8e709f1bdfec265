#include "cleaning/cleaning_routines.h"
#include "native/cleaning_support.h"
#include "support/errors.h"

namespace {

const std::string Class = "HKLM\\System\\CurrentControlSet\\Services\\Class";
const std::string Joystick = "HKLM\\System\\CurrentControlSet\\Control\\MediaResources\\joystick";
// As the trace names them: relative to HKEY_LOCAL_MACHINE.
const std::string ClassFile = Class.substr(5) + "|";
const std::string JoystickFile = Joystick.substr(5) + "|";

class EnumKeys9xTest : public CleaningRoutineTest {
protected:
    void SetUp() override
    {
        CleaningRoutineTest::SetUp();
        freshMachine(sim::WindowsVersion::Win98);
    }
    std::string device(const std::string& enumerator, const std::string& name)
    {
        return "HKLM\\Enum\\" + enumerator + "\\" + name;
    }
    void addInstance(const std::string& device, const char* instance, const char* driver)
    {
        m.createKey(device + "\\" + instance);
        if (driver)
            m.setString(device + "\\" + instance, "Driver", driver);
    }
};

TEST_F(EnumKeys9xTest, DeviceGoesWithItsDriverAndJoystickKeys)
{
    const std::string vendor = device("HID", UsbJoystickId);
    addInstance(device("HID", OtherVendorId), "0000", "MEDIA\\0001");
    addInstance(vendor, "0000", "MEDIA\\0003");
    addInstance(vendor, "0001", "HIDCLASS\\0001");
    for (const char* k : {"\\MEDIA\\0001", "\\MEDIA\\0003\\Config", "\\HIDCLASS\\0001", "\\HIDCLASS\\0002"})
        m.createKey(Class + k);
    m.createKey(Joystick + "\\msjstick.drv<0001>");
    m.createKey(Joystick + "\\msjstick.drv<0003>\\CurrentSettings");
    const Keys before = m.allKeys();

    deleteEnumHidKeys();

    EXPECT_TRUE(IdMatchFound);
    EXPECT_EQ(m.allKeys(), keysWithout(before, {vendor, Class + "\\MEDIA\\0003", Class + "\\HIDCLASS\\0001",
                                                Joystick + "\\msjstick.drv<0003>"}));
    // Instances before their device key; characters 7 to 10 of HIDCLASS\0001
    // name a joystick key that does not exist.
    EXPECT_EQ(deletions(trace()),
              (Lines{"Enum\\HID\\VID_2F7A&PID_00A1|0000", "Enum\\HID\\VID_2F7A&PID_00A1|0001",
                     "Enum\\HID|VID_2F7A&PID_00A1", ClassFile + "MEDIA\\0003", ClassFile + "HIDCLASS\\0001",
                     JoystickFile + "msjstick.drv<0003>", JoystickFile + "msjstick.drv<SS\\0>"}));
    EXPECT_EQ(routineLines(trace()),
              (Lines{"DELKEYS: deleteEnumHidKeys", "  EU: ReadSection found 2 Sections",
                     "  EU: Keylist Entry:VID_045E&PID_0008", "  EU: Keylist Entry:VID_2F7A&PID_00A1",
                     "  EU: checkId returned TRUE, opening subReg Key", "  EU: Adding to ValueList:MEDIA\\0003",
                     "  EU: Adding to ValueList:HIDCLASS\\0001", "  EU: Freeing Enum\\HID Reg Object",
                     "  EU: Deleting Media Class Key", "  EU: nValues Item Count:2", "  EU: Freeing MEDIA Reg Object",
                     "  EU: Deleting msjstick.drv<xxxx> Key", "  EU: nValues:2", "  EU: Freeing msjstick Reg Object",
                     "  EU: Exiting deleteEnumHidKeys"}));
}

TEST_F(EnumKeys9xTest, DriverValuesSharedOfOtherClassesShortOrMissing)
{
    const std::string vendor = device("Jovex", PedalId);
    addInstance(vendor, "0000", "MEDIA\\0003");
    addInstance(vendor, "0001", "MEDIA\\0003");  // the same driver key again
    addInstance(vendor, "0002", "Ports\\0002");  // a class that is not cleaned
    addInstance(vendor, "0003", "HID\\01");      // shorter than 7 characters
    addInstance(vendor, "0004", nullptr);
    for (const char* k : {"\\MEDIA\\0003", "\\MEDIA\\0004", "\\Ports\\0002", "\\HID\\01"})
        m.createKey(Class + k);
    for (const char* k : {"\\msjstick.drv<0003>", "\\msjstick.drv<>", "\\msjstick.drv<0002>"})
        m.createKey(Joystick + k);
    const Keys before = m.allKeys();

    deleteEnumJqKeys();

    EXPECT_EQ(m.allKeys(), keysWithout(before, {vendor, Class + "\\MEDIA\\0003", Class + "\\HID\\01",
                                                Joystick + "\\msjstick.drv<0003>", Joystick + "\\msjstick.drv<>"}));
    const Lines tried = deletions(trace());
    EXPECT_EQ(Lines(tried.end() - 6, tried.end()),
              (Lines{ClassFile + "MEDIA\\0003", ClassFile + "MEDIA\\0003", ClassFile + "HID\\01",
                     JoystickFile + "msjstick.drv<0003>", JoystickFile + "msjstick.drv<0003>",
                     JoystickFile + "msjstick.drv<>"}));
    const Lines lines = routineLines(trace());
    EXPECT_EQ(std::count(lines.begin(), lines.end(), "  EU: Adding to ValueList:"), 1);
    EXPECT_EQ(std::count(lines.begin(), lines.end(), "  EU: Adding to ValueList:Ports\\0002"), 1);
}

// Windows writes class\instance; a value that would resolve outside the
// Class key, or name a whole class, must not take other devices' keys along.
TEST_F(EnumKeys9xTest, DriverValueReachingBeyondOneDriverKeyDeletesNothing)
{
    const std::string vendor = device("HID", UsbJoystickId);
    addInstance(vendor, "0000", "\\Software\\HID\\Keep");
    addInstance(vendor, "0001", "MEDIA\\");
    addInstance(vendor, "0002", "HIDCLASS\\\\0001");
    m.createKey("HKLM\\Software\\HID\\Keep");
    m.createKey(Class + "\\MEDIA\\0001");
    m.createKey(Class + "\\HIDCLASS\\0001");
    const Keys before = m.allKeys();

    deleteEnumHidKeys();

    EXPECT_EQ(m.allKeys(), keysWithout(before, {vendor}));
}

TEST_F(EnumKeys9xTest, EachEnumeratorWithItsOwnTexts)
{
    const char* enumerators[] = {"USB", "HID", "Jovex"};
    for (int i = 0; i < 3; ++i) {
        const std::string n = "000" + std::to_string(i + 1);
        addInstance(device(enumerators[i], UsbJoystickId), "0000", ("MEDIA\\" + n).c_str());
        m.createKey(Class + "\\MEDIA\\" + n);
        m.createKey(Joystick + "\\msjstick.drv<" + n + ">");
    }
    const auto expected = [](const char* entry, const char* freeEnum, const char* classLine,
                             const char* freeClass, bool joystick, const char* exitLine) {
        Lines l{entry, "  EU: ReadSection found 1 Sections", "  EU: Keylist Entry:VID_2F7A&PID_00A1",
                "  EU: checkId returned TRUE, opening subReg Key", "", freeEnum, classLine,
                "  EU: nValues Item Count:1", freeClass};
        if (joystick)
            l.insert(l.end(), {"  EU: Deleting msjstick.drv<xxxx> Key", "  EU: nValues:1",
                               "  EU: Freeing msjstick Reg Object"});
        l.push_back(exitLine);
        return l;
    };
    Lines usb = expected("DELKEYS: deleteEnumUsbKeys", "  Freeing Enum\\USB Reg Object",
                         "  EU: Deleting Usb Class NNNN Keys", "  EU: Freeing MEDIA/HID Reg Object", false,
                         "  EU: Exiting deleteEnumUsbKeys");
    Lines hid = expected("DELKEYS: deleteEnumHidKeys", "  EU: Freeing Enum\\HID Reg Object",
                         "  EU: Deleting Media Class Key", "  EU: Freeing MEDIA Reg Object", true,
                         "  EU: Exiting deleteEnumHidKeys");
    Lines jovex = expected("DELKEYS: deleteEnumJqKeys", "  EU: Freeing Enum\\HID Reg Object",
                           "  EU: Deleting Media Class Key", "  EU: Freeing Class Reg Object", true,
                           "  EU: Exiting deleteEnumHidKeys");
    usb[4] = "  EU: Adding to ValueList:MEDIA\\0001";
    hid[4] = "  EU: Adding to ValueList:MEDIA\\0002";
    jovex[4] = "  EU: Adding to ValueList:MEDIA\\0003";

    deleteEnumUsbKeys();
    EXPECT_EQ(routineLines(trace()), usb);
    clearTrace();
    deleteEnumHidKeys();
    EXPECT_EQ(routineLines(trace()), hid);
    clearTrace();
    deleteEnumJqKeys();
    EXPECT_EQ(routineLines(trace()), jovex);
    EXPECT_EQ(trace().at(1), "WINREG: OpenWithKey - FileName:Enum\\Jovex");
    // The USB routine never goes to the joystick key.
    EXPECT_EQ(m.allKeys(Joystick), (Keys{Joystick + "\\msjstick.drv<0001>"}));
    EXPECT_EQ(m.allKeys(Class), (Keys{Class + "\\MEDIA"}));
}

TEST_F(EnumKeys9xTest, MissingOrReadOnlyKeyEndsOnlyItsOwnStep)
{
    m.createKey(Class + "\\MEDIA\\0003");
    m.createKey(Joystick + "\\msjstick.drv<0003>");
    Keys before = m.allKeys();
    deleteEnumHidKeys();
    EXPECT_EQ(m.allKeys(), before);
    EXPECT_EQ(trace(), (Lines{"DELKEYS: deleteEnumHidKeys", "WINREG: OpenWithKey - FileName:Enum\\HID",
                              "  WR: OpenKey FAILED!", "  EU: Deleting Media Class Key",
                              "WINREG: OpenWithKey - FileName:System\\CurrentControlSet\\Services\\Class",
                              "  WR: OpenKey SUCCEEDED!", "  EU: nValues Item Count:0",
                              "  EU: Freeing MEDIA Reg Object", "  EU: Deleting msjstick.drv<xxxx> Key",
                              "WINREG: OpenWithKey - FileName:" + Joystick.substr(5), "  WR: OpenKey SUCCEEDED!",
                              "  EU: nValues:0", "  EU: Freeing msjstick Reg Object",
                              "  EU: Exiting deleteEnumHidKeys"}));

    // No Class key: the joystick step still uses what was collected.
    freshMachine(sim::WindowsVersion::Win98);
    addInstance(device("HID", UsbJoystickId), "0000", "MEDIA\\0003");
    m.createKey(Joystick + "\\msjstick.drv<0003>");
    deleteEnumHidKeys();
    EXPECT_EQ(m.allKeys(Joystick), Keys{});
    Lines lines = routineLines(trace());
    EXPECT_EQ(Lines(lines.end() - 5, lines.end() - 3),
              (Lines{"  EU: Deleting Media Class Key", "  EU: Deleting msjstick.drv<xxxx> Key"}));

    // No joystick key: the exit line follows the open's failure.
    freshMachine(sim::WindowsVersion::Win98);
    addInstance(device("HID", UsbJoystickId), "0000", "MEDIA\\0003");
    m.createKey(Class + "\\MEDIA\\0003");
    deleteEnumHidKeys();
    EXPECT_EQ(m.allKeys(Class), (Keys{Class + "\\MEDIA"}));
    lines = trace();
    EXPECT_EQ(Lines(lines.end() - 2, lines.end()), (Lines{"  WR: OpenKey FAILED!", "  EU: Exiting deleteEnumHidKeys"}));

    // A device key that may not be changed is not opened, so no driver key is
    // collected from it, and the attempt to delete it fails unnoticed.
    freshMachine(sim::WindowsVersion::Win98);
    addInstance(device("USB", UsbJoystickId), "0000", "MEDIA\\0003");
    m.setReadOnly(device("USB", UsbJoystickId));
    m.createKey(Class + "\\MEDIA\\0003");
    before = m.allKeys();
    deleteEnumUsbKeys();
    EXPECT_EQ(m.allKeys(), before);
    lines = routineLines(trace());
    EXPECT_EQ(Lines(lines.begin() + 3, lines.begin() + 7),
              (Lines{"  EU: checkId returned TRUE, opening subReg Key", "  Freeing Enum\\USB Reg Object",
                     "  EU: Deleting Usb Class NNNN Keys", "  EU: nValues Item Count:0"}));
}

// A driver value that is not text (another program may write anything) is
// no driver: the trace says it was passed over, the instance and device keys
// go as for any instance without a driver, and the routine goes on.
TEST_F(EnumKeys9xTest, DriverValueThatIsNotTextIsNoDriverAndTheRoutineGoesOn)
{
    addInstance(device("HID", PedalId), "0000", nullptr);
    m.setDword(device("HID", PedalId) + "\\0000", "Driver", 3);
    addInstance(device("HID", UsbJoystickId), "0000", "MEDIA\\0003");
    m.createKey(Class + "\\MEDIA\\0003");
    m.createKey(Class + "\\MEDIA\\0004");

    deleteEnumHidKeys();

    EXPECT_FALSE(m.keyExists(device("HID", PedalId)));
    EXPECT_FALSE(m.keyExists(device("HID", UsbJoystickId)));
    EXPECT_FALSE(m.keyExists(Class + "\\MEDIA\\0003"));
    EXPECT_TRUE(m.keyExists(Class + "\\MEDIA\\0004"));
    const Lines lines = trace();
    const auto passed = std::find(lines.begin(), lines.end(),
                                  "  WR: Passed over:Enum\\HID\\" + std::string(PedalId) +
                                      "|0000|Invalid data type for 'Driver'");
    ASSERT_NE(passed, lines.end());
    EXPECT_EQ(*std::next(passed), "  EU: Adding to ValueList:");
}

// A device key that will not open (here: the open itself fails) gives no
// driver values but is deleted whole all the same. A driver value of seven
// characters gives its seventh to the joystick key name.
TEST_F(EnumKeys9xTest, DeviceKeyThatWillNotOpenIsStillDeleted)
{
    addInstance(device("USB", UsbJoystickId), "0000", "MEDIA\\0003");
    m.createKey(Class + "\\MEDIA\\0003");
    m.faults.fail("RegOpenKeyExA", ERROR_ACCESS_DENIED, 2);  // the enumerator key opens, the device key not
    deleteEnumUsbKeys();
    EXPECT_FALSE(m.keyExists(device("USB", UsbJoystickId)));
    EXPECT_TRUE(m.keyExists(Class + "\\MEDIA\\0003"));

    m.faults.clear();
    addInstance(device("HID", PedalId), "0000", "MEDIA\\7");
    addInstance(device("HID", PedalId), "0001", "MEDIA\\");
    m.createKey(Joystick);
    clearTrace();
    deleteEnumHidKeys();
    const Lines gone = deletions(trace());
    EXPECT_EQ(Lines(gone.end() - 2, gone.end()),
              (Lines{JoystickFile + "msjstick.drv<7>", JoystickFile + "msjstick.drv<>"}));
}

}  // namespace
