// Names and values a machine may hold that the cleaning must survive: the
// longest names the registry allows, bytes above 127, values of a type
// where text is expected. Each gives the expected deletions or a clean
// answer from the export, never a deletion outside the vendor's keys.
#include "native/cleaning_support.h"
#include "native/machine_builders.h"

namespace {

const std::string Enum9x = "HKLM\\Enum\\USB\\";
const std::string EnumNt = "HKLM\\System\\CurrentControlSet\\Enum\\USB\\";
const std::string Asd = "HKLM\\System\\CurrentControlSet\\Control\\ASD\\Prob\\{9b4e7760-3196-11cf-97ea-00aa0034319d}";

// A 255-character name that holds `id` after a run of high bytes.
std::string longName(const char* id)
{
    std::string name(255 - std::string(id).size(), '\xE9');
    return name + id;
}

class BadInputTest : public SimTest {};

TEST_F(BadInputTest, LongestNamesAndHighBytesMatchOnlyByTheirIds)
{
    onWindows(sim::WindowsVersion::Win98);
    const std::string vendor = longName(UsbJoystickId);
    const std::string other = longName(OtherVendorId);
    const std::string accented = "\xC4\xD6\xDC" + std::string(PedalId) + "&MI_00";
    for (const std::string& name : {vendor, other, accented})
        m.setString(Enum9x + name + "\\0000", "Driver", "MEDIA\\0001");
    m.setString(Asd, longName(PedalId), "x");
    m.setString(Asd, longName(OtherVendorId), "x");

    EXPECT_EQ(call(RemoveUsbDevices), 0);
    EXPECT_FALSE(m.keyExists(Enum9x + vendor));
    EXPECT_FALSE(m.keyExists(Enum9x + accented));
    EXPECT_TRUE(m.keyExists(Enum9x + other + "\\0000"));
    EXPECT_FALSE(m.valueExists(Asd, longName(PedalId)));
    EXPECT_TRUE(m.valueExists(Asd, longName(OtherVendorId)));
}

TEST_F(BadInputTest, LongestDeviceIdsOnTheNtFamily)
{
    const std::string vendor = longName(PedalId);
    const std::string other = longName(OtherVendorId);
    m.addDevice({"USB\\" + vendor + "\\1", {"USB\\" + vendor}, HidClass, "", true});
    m.addDevice({"USB\\" + other + "\\1", {"USB\\" + other}, HidClass, "", true});
    EXPECT_EQ(call(RemovePedalDevices), 0);
    EXPECT_FALSE(m.keyExists(EnumNt + vendor));
    EXPECT_TRUE(m.deviceExists("USB\\" + other + "\\1"));
}

TEST_F(BadInputTest, ValuesOfEveryTypeWhereTextIsExpected)
{
    // A driver value that is no text is no driver: the vendor's device goes,
    // the run goes on to the other vendor's device and leaves it, and the
    // export answers the match.
    const DWORD types[] = {REG_NONE, REG_BINARY, REG_DWORD, REG_DWORD_BIG_ENDIAN, REG_LINK,
                           REG_MULTI_SZ, REG_RESOURCE_LIST, REG_QWORD};
    for (DWORD type : types) {
        SCOPED_TRACE(type);
        onWindows(sim::WindowsVersion::Win98);
        m.setValue(Enum9x + std::string(UsbJoystickId) + "\\0000", "Driver", type, {1, 0, 0, 0});
        m.setString(Enum9x + std::string(OtherVendorId) + "\\0000", "Driver", "MEDIA\\0002");
        m.createKey("HKLM\\System\\CurrentControlSet\\Services\\Class\\MEDIA\\0002");
        const Keys before = m.allKeys();

        EXPECT_EQ(call(RemoveUsbDevices), 0);
        EXPECT_EQ(m.allKeys(), keysWithout(before, {Enum9x + UsbJoystickId,
                                                    Enum9x + UsbJoystickId + "\\0000"}));
        EXPECT_EQ(m.openHandleCount(), 0u) << m.openHandleReport();
    }

    // Zero-length data of any type reads as the empty text: no error.
    onWindows(sim::WindowsVersion::Win98);
    m.setValue(Enum9x + std::string(UsbJoystickId) + "\\0000", "Driver", REG_BINARY, {});
    EXPECT_EQ(call(RemoveUsbDevices), 0);
    EXPECT_FALSE(m.keyExists(Enum9x + UsbJoystickId));
}

}  // namespace

namespace {

// Every road that reads a name or value, at the cut: an id string keeps 255
// characters, so a vendor id that ends at the 255th is seen and one that
// ends at the 256th is not; a long name with the id in front is seen and
// is deleted by its whole name, but an ASD value is deleted by its name as
// cut, which names no value. The property reads are told 250 bytes: a
// longer property does not read at all. Another vendor's never goes.
enum class Where { Enum9x, EnumNt, Settings, Oem, AsdValue, DeviceInstance, Driver, RootId, DriverProperty };

struct CutRow {
    Where where;
    bool nineX;
    size_t length;
    bool vendor;
    bool idFirst;
    bool actedOn;  // deleted; for RootId counted; for DriverProperty a driver installed
};

namespace b = builders;

std::vector<CutRow> cutRows()
{
    std::vector<CutRow> rows;
    const struct {
        Where where;
        bool nineX;
    } names[] = {{Where::Enum9x, true},         {Where::Settings, true}, {Where::AsdValue, true},
                 {Where::DeviceInstance, true}, {Where::EnumNt, false},  {Where::Settings, false},
                 {Where::Oem, false}};
    for (const auto& n : names) {
        rows.push_back({n.where, n.nineX, 254, true, false, true});
        rows.push_back({n.where, n.nineX, 255, true, false, true});
        rows.push_back({n.where, n.nineX, 256, true, false, false});
        rows.push_back({n.where, n.nineX, 255, false, false, false});
        if (n.where != Where::EnumNt) {  // no device id is that long
            rows.push_back({n.where, n.nineX, 1000, true, true, n.where != Where::AsdValue});
            rows.push_back({n.where, n.nineX, 1000, false, true, false});
        }
    }
    // A driver value names its class key: whole up to 255 characters.
    for (size_t length : {254, 255, 256, 1000})
        rows.push_back({Where::Driver, true, length, true, false, length <= 255});
    rows.push_back({Where::Driver, true, 255, false, false, false});
    // Hardware id lists of 250 bytes and one more, and a driver property
    // of 249 characters and its zero, and one more.
    rows.push_back({Where::RootId, false, 250, true, false, true});
    rows.push_back({Where::RootId, false, 251, true, false, false});
    rows.push_back({Where::RootId, false, 250, false, false, false});
    rows.push_back({Where::DriverProperty, false, 249, false, false, true});
    rows.push_back({Where::DriverProperty, false, 250, false, false, false});
    rows.push_back({Where::DriverProperty, false, 249, true, false, false});
    return rows;
}

// `length` characters: the id and a filler, in the order asked for.
std::string nameOf(size_t length, const std::string& id, bool idFirst)
{
    const std::string filler(length - id.size(), 'x');
    return idFirst ? id + filler : filler + id;
}

TEST_F(BadInputTest, EveryRoadCutsNamesAndValuesAt255)
{
    const std::string vendorClass = std::string(b::VendorDriverClassGuid) + "\\0000";
    for (const CutRow& r : cutRows()) {
        SCOPED_TRACE(std::to_string(static_cast<int>(r.where)) + (r.nineX ? " on 98, " : " on XP, ") +
                     std::to_string(r.length) + (r.vendor ? " vendor's" : " another's") +
                     (r.idFirst ? ", id first" : ""));
        m.reset();
        m.setWindows(r.nineX ? sim::WindowsVersion::Win98 : sim::WindowsVersion::WinXP);
        m.devices.infFiles = builders::vendorInfs({"C:\\JQ\\JQDRV2K1.INF"});
        reload();
        const std::string name = nameOf(r.length, r.vendor ? PedalId : OtherVendorId, r.idFirst);
        const std::string settings = b::join(r.nineX ? b::Settings9x : b::SettingsNt, name);
        const std::string asd = b::join(b::AsdProb, b::AsdSubkeys[0]);
        const std::string driverKey = b::join(b::Class9x, "MEDIA\\" + std::string(r.length - 6, 'x'));
        std::string item;  // the key that goes when the row is acted on
        ExportFn fn = RemoveAuxDevices;
        switch (r.where) {
        case Where::Enum9x:
            item = b::join(b::Enum9x, "USB\\" + name);
            m.setString(b::join(item, "0000"), "Driver", "MEDIA\\0001");
            break;
        case Where::EnumNt:
            m.addDevice({"USB\\" + name + "\\1", {"USB\\" + name}, b::HidClassGuid, "", true});
            item = b::join(b::EnumNt, "USB\\" + name);
            break;
        case Where::Settings: item = settings; m.createKey(item); break;
        case Where::Oem: item = b::join(b::Oem, name); m.createKey(item); break;
        case Where::AsdValue: m.setString(asd, name, "1"); break;
        case Where::DeviceInstance:
            item = b::join(b::InterfaceClassKeys[0], "##?#HID#x#1#{4d1e55b2}");
            m.setString(item, "DeviceInstance", name);
            break;
        case Where::Driver:
            // The device is the vendor's either way: the driver value decides.
            m.setString(b::join(b::Enum9x, std::string("USB\\") + PedalId + "\\0000"), "Driver",
                        (r.vendor ? "MEDIA\\" : "PORTS\\") + std::string(r.length - 6, 'x'));
            item = r.vendor ? driverKey : b::join(b::Class9x, "PORTS\\" + std::string(r.length - 6, 'x'));
            m.createKey(item);
            break;
        case Where::RootId:
            fn = RootDeviceCount;
            m.addDevice({"ROOT\\SYSTEM\\0000",
                         {r.vendor ? "root\\jq_pilotdeck" : "root\\jq_pilotdecx", std::string(r.length - 20, 'x')},
                         b::SystemClassGuid, "", true});
            break;
        case Where::DriverProperty:
            fn = UpdateDevices;
            m.addDevice({std::string("USB\\") + PedalId + "\\1", {std::string("USB\\") + PedalId},
                         b::HidClassGuid, r.vendor ? nameOf(r.length, vendorClass, false) : std::string(r.length, 'x'),
                         true});
            break;
        }
        const Keys before = m.allKeys();
        const LONG result = fn(nullptr, nullptr, "C:\\JQ");

        if (r.where == Where::RootId) {
            EXPECT_EQ(result, r.actedOn ? 1 : 0);
        } else if (r.where == Where::DriverProperty) {
            EXPECT_EQ(driverInstalls().size(), r.actedOn ? 1u : 0u);
        } else {
            // The cleaning run's answer says whether an id was seen, wherever it was.
            // (For a driver value the device itself is the vendor's.)
            const bool seen = r.actedOn || r.where == Where::Driver ||
                              (r.where == Where::AsdValue && r.vendor && r.idFirst);
            EXPECT_EQ(result, seen ? 0 : 1);
            if (r.where == Where::AsdValue) {
                EXPECT_EQ(m.valueExists(asd, name), !r.actedOn);
                EXPECT_EQ(m.allKeys(), before);
            } else {
                EXPECT_EQ(m.keyExists(item), !r.actedOn);
                Keys expected = before;
                if (r.actedOn)
                    expected = keysWithout(before, {item});
                if (r.where == Where::Driver)
                    expected = keysWithout(expected, {b::join(b::Enum9x, std::string("USB\\") + PedalId)});
                EXPECT_EQ(m.allKeys(), expected);
            }
        }
        EXPECT_EQ(m.openHandleCount(), 0u) << m.openHandleReport();
    }
}

}  // namespace
