// Machines built to lead the cleaning outside the vendor's keys: names that
// the single-byte calls turn into paths, registry links, chains deeper than
// Windows allows, values of the wrong type. Each runs through an export; what
// is not the vendor's stays, and a second run deletes nothing more.
#include "native/cleaning_support.h"

#include <functional>
#include <set>

namespace {

using builders::Oem;
const std::string VendorOem = Oem + "\\" + UsbJoystickId;
const std::string Victim = "HKLM\\Software\\VictimCo";
const std::string Enum9xDevice = std::string("HKLM\\Enum\\USB\\") + UsbJoystickId;
const std::string NtEnumUsb = "HKLM\\System\\CurrentControlSet\\Enum\\USB";
const std::string& HidInterfaces = builders::InterfaceClassKeys[0];

// U+FF3C and U+2216, which code page 1252 turns into a backslash.
const std::string FullwidthBackslash = "\xEF\xBC\xBC";
const std::string SetMinus = "\xE2\x88\x96";

struct HostileMachine {
    const char* what;
    sim::WindowsVersion windows;
    std::function<void(sim::Machine&)> build;
    Keys gone;       // keys the run deletes (with everything below them)
    Keys stay;       // keys that must still be there, the vendor's among them
    const char* line;  // a trace line the run must write, or null
};

void victim(sim::Machine& m)
{
    m.setString(Victim + "\\Settings", "Owner", "VictimCo");
    m.createKey(Victim + "\\Data\\Deep");
}

const HostileMachine Machines[] = {
    {"a name that best fit turns into a path from the root", sim::WindowsVersion::WinXP,
     [](sim::Machine& m) {
         victim(m);
         m.createUnicodeKey(VendorOem,
                            FullwidthBackslash + "SOFTWARE" + FullwidthBackslash + "VictimCo");
         m.setString(VendorOem + "\\Settings", "OEMName", "Pilotdeck");
     },
     {VendorOem + "\\Settings"},
     {Victim + "\\Settings", Victim + "\\Data\\Deep", VendorOem},
     "  WR: Not one key name, left:\\SOFTWARE\\VictimCo"},
    {"the same with set minus", sim::WindowsVersion::WinXP,
     [](sim::Machine& m) {
         victim(m);
         m.createUnicodeKey(VendorOem, SetMinus + "SOFTWARE" + SetMinus + "VictimCo");
     },
     {},
     {Victim + "\\Settings", VendorOem},
     "  WR: Not one key name, left:\\SOFTWARE\\VictimCo"},
    {"a name that is a backslash alone, the root itself", sim::WindowsVersion::WinXP,
     [](sim::Machine& m) {
         victim(m);
         m.createKey("HKLM\\System\\CurrentControlSet\\Enum\\Root\\LEGACY_BEEP");
         m.createUnicodeKey(VendorOem, FullwidthBackslash);
     },
     {},
     {Victim + "\\Settings", "HKLM\\System\\CurrentControlSet\\Enum\\Root\\LEGACY_BEEP", VendorOem},
     "  WR: Not one key name, left:\\"},
    {"a vendor-named key that is a path into another program's key", sim::WindowsVersion::WinXP,
     [](sim::Machine& m) {
         victim(m);
         m.createKey(Victim + "\\" + UsbJoystickId + "\\Kept");
         m.createUnicodeKey(Oem, FullwidthBackslash + "Software" + FullwidthBackslash +
                                     "VictimCo" + FullwidthBackslash + UsbJoystickId);
     },
     {},
     {Victim + "\\" + UsbJoystickId + "\\Kept"},
     nullptr},
    {"on the NT road, a device key so named below an enumerator", sim::WindowsVersion::WinXP,
     [](sim::Machine& m) {
         victim(m);
         m.createUnicodeKey(NtEnumUsb, std::string(UsbJoystickId) + FullwidthBackslash + "0000");
     },
     {},
     {Victim + "\\Settings"},
     "  WR: Not one key name, left:VID_2F7A&PID_00A1\\0000"},
    {"on the 9x road, an instance so named", sim::WindowsVersion::Win98,
     [](sim::Machine& m) {
         victim(m);
         m.setString(Enum9xDevice + "\\0000", "Driver", "MEDIA\\0001");
         m.createUnicodeKey(Enum9xDevice,
                            FullwidthBackslash + "SOFTWARE" + FullwidthBackslash + "VictimCo");
     },
     {Enum9xDevice + "\\0000"},
     {Victim + "\\Settings", Victim + "\\Data\\Deep", Enum9xDevice},
     "  WR: Not one key name, left:\\SOFTWARE\\VictimCo"},
    {"a vendor-named link to another program's key", sim::WindowsVersion::WinXP,
     [](sim::Machine& m) {
         victim(m);
         m.createLink(VendorOem, Victim);
     },
     {VendorOem},
     {Victim + "\\Settings", Victim + "\\Data\\Deep"},
     "  WR: Link, not followed:VID_2F7A&PID_00A1"},
    {"a link below the vendor's key to a leaf of another program", sim::WindowsVersion::WinXP,
     [](sim::Machine& m) {
         victim(m);
         m.createLink(VendorOem + "\\Linked", Victim + "\\Settings");
     },
     {VendorOem},
     {Victim + "\\Settings"},
     "  WR: Link, not followed:Linked"},
    {"a link to its own parent", sim::WindowsVersion::WinXP,
     [](sim::Machine& m) { m.createLink(VendorOem + "\\Loop", VendorOem); },
     {VendorOem},
     {Oem},
     "  WR: Link, not followed:Loop"},
    {"a chain one level deeper than the bound below the vendor's key", sim::WindowsVersion::WinXP,
     [](sim::Machine& m) {
         std::string path = VendorOem;
         for (int level = 0; level < 512; ++level)
             path += "\\L";
         m.createKey(path);
         victim(m);
     },
     {},
     {VendorOem, Victim + "\\Settings"},
     "  WR: Deeper than 512 levels, left:System\\CurrentControlSet\\Control\\MediaProperties\\"
     "PrivateProperties\\Joystick\\OEM|VID_2F7A&PID_00A1"},
    {"a chain as deep as the bound", sim::WindowsVersion::WinXP,
     [](sim::Machine& m) {
         std::string path = VendorOem;
         for (int level = 0; level < 511; ++level)
             path += "\\L";
         m.createKey(path);
     },
     {VendorOem},
     {Oem},
     nullptr},
    {"a double-byte name whose trail byte is a backslash", sim::WindowsVersion::WinXP,
     [](sim::Machine& m) {
         m.setCodePage(932);
         m.createKey(VendorOem + "\\\x95\x5C\\Below");  // one character, U+8868
         m.createKey(Oem + "\\\x95");
     },
     {VendorOem},
     {Oem + "\\\x95"},
     nullptr},
    {"a driver value of the wrong type in a vendor's instance", sim::WindowsVersion::Win98,
     [](sim::Machine& m) {
         m.setValue(Enum9xDevice + "\\0000", "Driver", REG_BINARY, {'M', 0});
         m.setString(Enum9xDevice + "\\0001", "Driver", "MEDIA\\0001");
         m.createKey("HKLM\\System\\CurrentControlSet\\Services\\Class\\MEDIA\\0001");
     },
     {Enum9xDevice, "HKLM\\System\\CurrentControlSet\\Services\\Class\\MEDIA\\0001"},
     {"HKLM\\System\\CurrentControlSet\\Services\\Class\\MEDIA"},
     "  WR: Passed over:Enum\\USB\\VID_2F7A&PID_00A1|0000|Invalid data type for 'Driver'"},
    {"a DeviceInstance of the wrong type in a foreign interface key", sim::WindowsVersion::Win98,
     [](sim::Machine& m) {
         m.setDword(HidInterfaces + "\\##?#HID#Other", "DeviceInstance", 1);
         m.setString(HidInterfaces + "\\##?#HID#Vendor", "DeviceInstance",
                     "HID\\VID_2F7A&PID_00A1\\7&1");
     },
     {HidInterfaces + "\\##?#HID#Vendor"},
     {HidInterfaces + "\\##?#HID#Other"},
     nullptr},
};

class HostileMachinesTest : public SimTest {};

}  // namespace

TEST_F(HostileMachinesTest, NothingThatIsNotTheVendorsIsTouched)
{
    for (const HostileMachine& machine : Machines) {
        SCOPED_TRACE(machine.what);
        m.reset();
        m.setWindows(machine.windows);
        machine.build(m);
        reload();
        m.setString(Oem + "\\" + OtherVendorId + "\\Foreign", "OEMName", "another product");
        const Keys before = m.allKeys();

        const LONG result = call(RemoveUsbDevices);
        EXPECT_TRUE(result == 0 || result == 1) << result;
        const Keys after = m.allKeys();
        EXPECT_EQ(after, keysWithout(before, machine.gone));
        for (const std::string& key : machine.stay)
            EXPECT_TRUE(m.keyExists(key)) << key;
        EXPECT_TRUE(m.keyExists(Oem + "\\" + OtherVendorId + "\\Foreign"));
        // The setup API is asked only for device keys that are there: an
        // enumerator and one device key name below it.
        for (const sim::CallRecord& c : m.callsOf("SetupDiGetClassDevsA")) {
            const bool deviceKey =
                std::count(c.text.begin(), c.text.end(), '\\') == 1 &&
                m.keyExists("HKLM\\System\\CurrentControlSet\\Enum\\" + c.text);
            EXPECT_TRUE(c.text.empty() || deviceKey) << c.text;
        }
        if (machine.line) {
            EXPECT_TRUE(traced(machine.line)) << machine.line;
        }
        EXPECT_EQ(m.openHandleCount(), 0u) << m.openHandleReport();
        // ntdll, bound to delete a link as itself, goes with the export.
        EXPECT_EQ(m.openHandleCount(sim::HandleKind::Module), 0u) << m.openHandleReport();

        clearTrace();
        call(RemoveUsbDevices);
        EXPECT_EQ(m.allKeys(), after) << "a second run deletes nothing more";
    }
}

// The single-byte calls as NT gives them: a Unicode name comes out with best
// fit, and that text opens another key or none, never the key it names.
TEST_F(HostileMachinesTest, SimulatedNamesAreWhatTheSingleByteCallsSee)
{
    m.createUnicodeKey("HKLM\\Software\\JQ", FullwidthBackslash + "A");
    m.createKey("HKLM\\Software\\JQ\\Plain");
    HKEY key = nullptr;
    ASSERT_EQ(RegOpenKeyExA(HKEY_LOCAL_MACHINE, "Software\\JQ", 0, KEY_READ, &key), ERROR_SUCCESS);
    char name[16];
    DWORD length = sizeof name;
    ASSERT_EQ(RegEnumKeyExA(key, 0, name, &length, nullptr, nullptr, nullptr, nullptr), ERROR_SUCCESS);
    EXPECT_STREQ(name, "\\A");
    HKEY child = nullptr;
    EXPECT_EQ(RegOpenKeyExA(key, name, 0, KEY_READ, &child), ERROR_BAD_PATHNAME);
    EXPECT_EQ(RegOpenKeyExA(key, "A", 0, KEY_READ, &child), ERROR_FILE_NOT_FOUND);
    EXPECT_EQ(RegOpenKeyExA(key, "Plain", REG_OPTION_OPEN_LINK, KEY_READ, &child), ERROR_SUCCESS);
    RegCloseKey(child);
    RegCloseKey(key);

    // A link is opened through unless the open asks for the link itself, and
    // RegDeleteKeyA, which opens the name again, reaches the target.
    m.createLink("HKLM\\Software\\Link", "HKLM\\Software\\JQ\\Plain");
    ASSERT_EQ(RegOpenKeyExA(HKEY_LOCAL_MACHINE, "Software\\Link", REG_OPTION_OPEN_LINK, KEY_READ, &key),
              ERROR_SUCCESS);
    DWORD type = 0;
    DWORD size = 0;
    EXPECT_EQ(RegQueryValueExA(key, "SymbolicLinkValue", nullptr, &type, nullptr, &size), ERROR_SUCCESS);
    EXPECT_EQ(type, static_cast<DWORD>(REG_LINK));
    RegCloseKey(key);
    EXPECT_EQ(RegDeleteKeyA(HKEY_LOCAL_MACHINE, "Software\\Link"), ERROR_SUCCESS);
    EXPECT_TRUE(m.keyExists("HKLM\\Software\\Link"));
    EXPECT_FALSE(m.keyExists("HKLM\\Software\\JQ\\Plain"));

    // The options are reserved on the 9x family.
    m.setWindows(sim::WindowsVersion::Win98);
    EXPECT_EQ(RegOpenKeyExA(HKEY_LOCAL_MACHINE, "Software", REG_OPTION_OPEN_LINK, KEY_READ, &key),
              ERROR_INVALID_PARAMETER);
}
