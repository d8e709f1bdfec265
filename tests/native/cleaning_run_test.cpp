#include "cleaning/clean_run.h"
#include "cleaning/matching.h"
#include "native/cleaning_support.h"

namespace {

using builders::Oem;
const std::string Asd = builders::join(builders::AsdProb, builders::AsdSubkeys[0]);
const std::string& HidInterfaces = builders::InterfaceClassKeys[0];

// A USB run's sequence on the 9x family: every routine of its road, in order.
const Lines UsbRun9x = {"INST2K: removeUsbDevices", "DELKEYS: cleanDeviceKeys", "  Deletinge W9x Enum Keys",
                        "DELKEYS: deleteEnumUsbKeys", "DELKEYS: deleteEnumHidKeys",
                        "DELKEYS: deleteEnumJqKeys", "  Deletinge Settings and OEM Keys",
                        "DELKEYS: deleteJoystickSettingsKeys", "DELKEYS: deleteOemKeys",
                        "  Deletinge W9x Special Keys", "DELKEYS: deleteAsdKeys",
                        "DELKEYS: deleteDeviceClassesKeys"};

class CleaningRunTest : public SimTest {
protected:
    // A trace of the device in each kind of key a 9x run cleans.
    void seed(const std::string& id)
    {
        m.createKey("HKLM\\Enum\\HID\\" + id + "\\0000");
        m.createKey(Oem + "\\" + id);
        m.setString(Asd, id, "1");
        m.setString(HidInterfaces + "\\" + id, "DeviceInstance", "HID\\" + id + "\\7&1");
    }
    // The export's line, the run's headings and each routine's entry line.
    Lines sequence() const
    {
        Lines out;
        for (const std::string& l : trace())
            if ((startsWith(l, "INST2K: ") || startsWith(l, "DELKEYS: ") || startsWith(l, "  Deletinge")) &&
                !startsWith(l, "DELKEYS: check"))
                out.push_back(l);
        return out;
    }
};

TEST_F(CleaningRunTest, EachFamilyRunsItsRoutinesInOrder)
{
    onWindows(sim::WindowsVersion::WinMe);
    seed(UsbJoystickId);
    seed(OtherVendorId);
    Keys before = m.allKeys();
    EXPECT_EQ(call(RemoveUsbDevices), 0);
    EXPECT_EQ(sequence(), UsbRun9x);
    EXPECT_EQ(m.allKeys(), keysWithout(before, {"HKLM\\Enum\\HID\\" + std::string(UsbJoystickId),
                                                Oem + "\\" + UsbJoystickId, HidInterfaces + "\\" + UsbJoystickId}));
    EXPECT_FALSE(m.valueExists(Asd, UsbJoystickId));
    EXPECT_TRUE(m.valueExists(Asd, OtherVendorId));

    // The NT family leaves the 9x-only keys alone.
    onWindows(sim::WindowsVersion::WinXP);
    seed(UsbJoystickId);
    before = m.allKeys();
    EXPECT_EQ(call(RemoveAuxDevices), 0);
    EXPECT_EQ(sequence(), (Lines{"INST2K: removeAuxDevices", "DELKEYS: cleanDeviceKeys", "  Deletinge W2k Enum Keys",
                                 "DELKEYS: deleteEnumUsbKeys2k", "DELKEYS: deleteEnumHidKeys2k",
                                 "DELKEYS: deleteEnumJqKeys2k", "  Deletinge Settings and OEM Keys",
                                 "DELKEYS: deleteJoystickSettingsKeys", "DELKEYS: deleteOemKeys"}));
    EXPECT_EQ(m.allKeys(), keysWithout(before, {Oem + "\\" + UsbJoystickId}));
    EXPECT_TRUE(m.valueExists(Asd, UsbJoystickId));
}

TEST_F(CleaningRunTest, NonAdministratorGetsTwoAndNothingIsTouched)
{
    const std::pair<ExportFn, const char*> exports[] = {{RemoveUsbDevices, "INST2K: removeUsbDevices"},
                                                        {RemovePedalDevices, "INST2K: removePedalDevices"},
                                                        {RemoveAuxDevices, "INST2K: removeAuxDevices"}};
    for (const auto& [fn, entryLine] : exports) {
        onWindows(sim::WindowsVersion::WinXP);
        m.setAdministrator(false);
        seed(PedalId);
        seed(AuxId);
        const Keys before = m.allKeys();
        EXPECT_EQ(call(fn), 2) << entryLine;
        EXPECT_EQ(trace(), (Lines{entryLine, "DELKEYS: cleanDeviceKeys"}));
        EXPECT_EQ(m.allKeys(), before);
        EXPECT_TRUE(m.valueExists(Asd, PedalId));
    }
    // The 9x family has no accounts: every user may clean.
    onWindows(sim::WindowsVersion::Win98);
    m.setAdministrator(false);
    seed(PedalId);
    EXPECT_EQ(call(RemovePedalDevices), 0);
    EXPECT_FALSE(m.keyExists(Oem + "\\" + PedalId));
}

TEST_F(CleaningRunTest, ResultTellsWhetherTheModesListsMatched)
{
    for (auto version : {sim::WindowsVersion::Win98, sim::WindowsVersion::WinXP}) {
        onWindows(version);
        m.createKey(Oem + "\\" + AuxId);
        EXPECT_EQ(call(RemoveUsbDevices), 1);
        EXPECT_EQ(call(RemovePedalDevices), 1);
        EXPECT_EQ(call(RemoveAuxDevices), 0);
        EXPECT_FALSE(m.keyExists(Oem + "\\" + AuxId));

        // A pedal run keeps other joysticks, a USB run takes pedals too, and
        // a second run over the cleaned machine finds nothing.
        for (const char* id : {UsbJoystickId, PedalId, OtherVendorId})
            m.createKey(Oem + "\\" + id);
        EXPECT_EQ(call(RemovePedalDevices), 0);
        EXPECT_EQ(m.allKeys(Oem), (Keys{Oem + "\\" + OtherVendorId, Oem + "\\" + UsbJoystickId}));
        m.createKey(Oem + "\\" + PedalId);
        EXPECT_EQ(call(RemoveUsbDevices), 0);
        EXPECT_EQ(call(RemoveUsbDevices), 1);
        EXPECT_EQ(m.allKeys(Oem), (Keys{Oem + "\\" + OtherVendorId}));
    }
}

// One value of another program decides nothing for the vendor's keys: the
// run cleans around it, answers from what it cleaned, and a second run finds
// nothing more.
TEST_F(CleaningRunTest, AValueThatIsNotTextStopsNothing)
{
    onWindows(sim::WindowsVersion::Win98);
    m.setString(HidInterfaces + "\\a", "DeviceInstance", "HID\\VID_2F7A&PID_00A1\\7&1");
    m.setDword(HidInterfaces + "\\b", "DeviceInstance", 7);
    m.setString(HidInterfaces + "\\c", "DeviceInstance", "HID\\VID_2F7A&PID_00A1\\7&2");

    EXPECT_EQ(call(RemoveUsbDevices), 0);
    EXPECT_EQ(m.allKeys(HidInterfaces), (Keys{HidInterfaces + "\\b"}));
    for (const std::string& line : trace())
        EXPECT_FALSE(startsWith(line, "  I2K: Error caught at the export")) << line;

    EXPECT_EQ(call(RemoveUsbDevices), 1);
    EXPECT_EQ(m.allKeys(HidInterfaces), (Keys{HidInterfaces + "\\b"}));
}

// Every run fixes its whole mode and window itself, also for a user it then
// turns away: nothing a previous run chose carries over. checkId after a run
// answers by the mode that run left.
TEST_F(CleaningRunTest, EachRunFixesItsOwnModeAndWindow)
{
    const std::string analogId = "VID_2F7A&PID_0301";  // analog list only
    const std::string shortId = "VID_2F7A&PID_B8F9";   // short and long USB lists
    const HWND window = reinterpret_cast<HWND>(0x5150);

    EXPECT_EQ(cleanDeviceKeys(window, true, false, false, false), 1);  // pedals, aux
    EXPECT_EQ(ParentWindow, window);
    EXPECT_TRUE(checkId(PedalId));
    EXPECT_TRUE(checkId(AuxId));
    EXPECT_FALSE(checkId(UsbJoystickId));

    EXPECT_EQ(cleanDeviceKeys(nullptr, false, false, true, false), 1);  // analog, no aux
    EXPECT_TRUE(checkId(analogId));
    EXPECT_FALSE(checkId(AuxId));
    EXPECT_FALSE(checkId(PedalId));

    EXPECT_EQ(cleanDeviceKeys(nullptr, true, true, false, true), 1);  // short USB list, aux
    EXPECT_EQ(ParentWindow, nullptr);
    EXPECT_FALSE(IdMatchFound);
    EXPECT_TRUE(checkId(shortId));
    EXPECT_TRUE(checkId(AuxId));
    EXPECT_FALSE(checkId(UsbJoystickId));

    EXPECT_EQ(cleanDeviceKeys(nullptr, false, false, true, false), 1);  // analog again
    EXPECT_TRUE(checkId(analogId));

    EXPECT_EQ(cleanDeviceKeys(nullptr, false, true, false, false), 1);  // long USB list
    EXPECT_TRUE(checkId(UsbJoystickId));
    EXPECT_FALSE(checkId(analogId));
    EXPECT_FALSE(checkId(AuxId));

    m.setAdministrator(false);
    reload();
    IdMatchFound = true;
    EXPECT_EQ(cleanDeviceKeys(window, true, false, false, false), 2);
    EXPECT_FALSE(IdMatchFound);
    EXPECT_EQ(ParentWindow, window);
    EXPECT_TRUE(checkId(PedalId));
    EXPECT_FALSE(checkId(UsbJoystickId));
    EXPECT_TRUE(checkId(AuxId));
    EXPECT_FALSE(CachedVersion4);
    EXPECT_TRUE(CachedWin2k);
}

TEST_F(CleaningRunTest, AnalogRunOnTheNtFamilyCleansGamePortAndHid)
{
    EXPECT_EQ(cleanDeviceKeys(nullptr, false, true, true, false), 1);
    EXPECT_EQ(sequence(), (Lines{"DELKEYS: cleanDeviceKeys", "  Deletinge W2k Enum Keys",
                                 "DELKEYS: deleteEnumGamePortKeys2k", "DELKEYS: deleteEnumHidKeys2k",
                                 "  Deletinge Settings and OEM Keys",
                                 "DELKEYS: deleteJoystickSettingsKeys", "DELKEYS: deleteOemKeys"}));
}

// A driver value of the wrong type in the first routine stops none of the
// routines after it.
TEST_F(CleaningRunTest, ABadValueInARoutineStopsNoRoutineAfterIt)
{
    onWindows(sim::WindowsVersion::Win98);
    m.setDword("HKLM\\Enum\\USB\\" + std::string(UsbJoystickId) + "\\0000", "Driver", 3);
    seed(PedalId);
    EXPECT_EQ(call(RemoveUsbDevices), 0);
    EXPECT_EQ(sequence(), UsbRun9x);
    EXPECT_FALSE(m.keyExists("HKLM\\Enum\\USB\\" + std::string(UsbJoystickId)));
}

}  // namespace
