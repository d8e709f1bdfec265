// Names and values a machine may hold that the cleaning must survive: the
// longest names the registry allows, bytes above 127, values of a type
// where text is expected. Each gives the expected deletions or a clean
// answer from the export, never a deletion outside the vendor's keys.
#include "native/cleaning_support.h"

namespace {

const std::string Enum9x = "HKLM\\Enum\\USB\\";
const std::string EnumNt = "HKLM\\System\\CurrentControlSet\\Enum\\USB\\";
const std::string Asd = "HKLM\\System\\CurrentControlSet\\Control\\ASD\\Prob\\{9b4e7760-3196-11cf-97ea-00aa0034319d}";
const char* const HidClass = "{745A17A0-74D3-11D0-B6FE-00A0C90F57DA}";

// A 255-character name that holds `id` after a run of high bytes.
std::string longName(const char* id)
{
    std::string name(255 - std::string(id).size(), '\xE9');
    return name + id;
}

class BadInputTest : public SimTest {
protected:
    void nineX()
    {
        m.setWindows(sim::WindowsVersion::Win98);
        reload();
    }
};

TEST_F(BadInputTest, LongestNamesAndHighBytesMatchOnlyByTheirIds)
{
    nineX();
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
        m.reset();
        nineX();
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
    m.reset();
    nineX();
    m.setValue(Enum9x + std::string(UsbJoystickId) + "\\0000", "Driver", REG_BINARY, {});
    EXPECT_EQ(call(RemoveUsbDevices), 0);
    EXPECT_FALSE(m.keyExists(Enum9x + UsbJoystickId));
}

}  // namespace
