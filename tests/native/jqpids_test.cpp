#include "native/fixture.h"

#include "cleaning/jqpids.h"

#include <algorithm>
#include <iterator>
#include <set>

namespace {

using List = std::vector<std::string>;

template <size_t N>
List listOf(const char* const (&entries)[N])
{
    return List(std::begin(entries), std::end(entries));
}

bool contains(const List& list, const std::string& entry)
{
    return std::find(list.begin(), list.end(), entry) != list.end();
}

const List usb = listOf(UsbVidPids), usbShort = listOf(UsbVidPidsShort),
           analog = listOf(AnalogVidPids), pedal = listOf(PedalVidPids), aux = listOf(AuxVidPids),
           update = listOf(UpdateVidPids);
const List* const allLists[] = {&usb, &usbShort, &analog, &pedal, &aux, &update};

}  // namespace

TEST(JQPids, EveryListHasItsSizeAndOnlyDistinctVendorProductIds)
{
    const size_t sizes[] = {86, 18, 16, 6, 3, 32};
    for (size_t i = 0; i < std::size(allLists); ++i) {
        const List& list = *allLists[i];
        EXPECT_EQ(list.size(), sizes[i]) << list.front();
        EXPECT_EQ(std::set<std::string>(list.begin(), list.end()).size(), list.size()) << list.front();
        for (const std::string& entry : list) {
            EXPECT_EQ(entry.size(), 17u) << entry;
            EXPECT_EQ(entry.rfind("VID_2F7A&PID_", 0), 0u) << entry;
            EXPECT_EQ(entry.find_first_not_of("0123456789ABCDEF", 13), std::string::npos) << entry;
        }
    }
}

TEST(JQPids, ListsAreDrawnFromTheLongUsbListInOrder)
{
    List expected(usb.begin() + 56, usb.begin() + 68);  // entries 57 to 68
    expected.insert(expected.end(), usb.end() - 6, usb.end());
    EXPECT_EQ(usbShort, expected);

    expected.assign(usb.begin(), usb.begin() + 14);
    expected.insert(expected.end(), usbShort.begin(), usbShort.end());
    EXPECT_EQ(update, expected);

    EXPECT_EQ(pedal, (List{usb[4], usb[10], usb[19], usb[32], usb[46], usb[71]}));
    EXPECT_EQ(std::count_if(pedal.begin(), pedal.end(), [](auto& p) { return contains(update, p); }), 2);
    for (const std::string& entry : pedal)
        EXPECT_FALSE(contains(usbShort, entry)) << entry;

    for (const List* own : {&analog, &aux})
        for (const std::string& entry : *own)
            for (const List* other : allLists)
                EXPECT_TRUE(other == own || !contains(*other, entry)) << entry;
}

// The lists the others are drawn from, digit for digit as the vendor issued
// them.
TEST(JQPids, SourceListsHoldTheVendorsDigits)
{
    const auto digits = [](const List& list) {
        std::string out;
        for (const std::string& entry : list)
            out += entry.substr(13) + " ";
        return out;
    };
    EXPECT_EQ(digits(usb),
              "00A1 F4BE 27AF C9D0 1A24 0B3F EE6F B37C 2503 2492 A57E 542A 4F82 4CA6 1577 065F "
              "14D3 9B74 97B0 CEB2 51A2 F9B5 A43A FD6B 25C8 897C 896A E058 A2AD 3A05 02EB AA7A "
              "3338 67A1 6FA2 204C 35D2 343D 3D11 6089 DD47 9816 A44F 9CE6 CD3B 7992 A5E9 FBAE "
              "7CD1 43F7 66B3 20B6 FC95 D10B A34F CC2C B8F9 F9B3 478F 9F2F ABCD 4A82 A60F 4074 "
              "A785 0DDD A83B D5CA A253 1819 EE42 CB6C 9E92 F3AB 1B8C 92ED 2B4E 19DA 0747 3849 "
              "5C8E 1F49 AA31 83D1 B497 C0DE ");
    EXPECT_EQ(digits(analog),
              "0301 DDB1 BD75 60E1 AC4E D83A D06E F16F A354 6466 A808 102B 2944 DCEE 151E DD7E ");
    EXPECT_EQ(digits(aux), "C26B D918 D1C0 ");
}

class DeviceIdTemplates : public SimTest {};

TEST_F(DeviceIdTemplates, DigitsGoOverTheLastFourCharactersUntilTheNextLoad)
{
    EXPECT_TRUE(setProductDigits(GamePortEnumDeviceId, "d06e"));
    EXPECT_STREQ(GamePortEnumDeviceId, "GamePort\\VID_2F7A&PID_d06e");  // case kept as given
    EXPECT_TRUE(setProductDigits(UsbHardwareId, productDigitsOf(UpdateVidPids[31])));
    EXPECT_STREQ(UsbHardwareId, "USB\\VID_2F7A&PID_C0DE");
    EXPECT_STREQ(UsbEnumDeviceId, "USB\\VID_2F7A&PID_0000");  // a separate USB text
    EXPECT_TRUE(setProductDigits(HidEnumDeviceId, productDigitsOf("VID_2F7A&PID_A57E&MI_00")));
    EXPECT_STREQ(HidEnumDeviceId, "HID\\VID_2F7A&PID_A57E");
    EXPECT_STREQ(JovexEnumDeviceId, "Jovex\\VID_2F7A&PID_0000");

    // An id too short to hold the digits gives none.
    EXPECT_EQ(productDigitsOf("VID_2F7A&PID_B8F9"), "B8F9");
    EXPECT_EQ(productDigitsOf("VID_2F7A&PID_B8F"), "");
    EXPECT_EQ(productDigitsOf("VID_2F7A&P"), "");
    // Digits that cannot fill the slot would leave a text that names nothing.
    EXPECT_FALSE(setProductDigits(HidEnumDeviceId, productDigitsOf("VID_2F7A&PID_B8F")));
    EXPECT_FALSE(setProductDigits(HidEnumDeviceId, std::string_view("A\0BC", 4)));
    EXPECT_FALSE(setProductDigits(HidEnumDeviceId, std::string_view("\0ABC", 4)));
    EXPECT_STREQ(HidEnumDeviceId, "HID\\VID_2F7A&PID_A57E");
    // A slot needs four characters and the zero after them.
    char slot[6] = "xxxxx";
    EXPECT_FALSE(writeProductDigits(slot, 4, "ABCD"));
    EXPECT_FALSE(writeProductDigits(nullptr, 5, "ABCD"));
    EXPECT_STREQ(slot, "xxxxx");
    EXPECT_TRUE(writeProductDigits(slot, 5, "ABCD"));
    EXPECT_STREQ(slot, "ABCDx");

    reload();
    EXPECT_STREQ(GamePortEnumDeviceId, "GamePort\\VID_2F7A&PID_0000");
    EXPECT_STREQ(UsbHardwareId, "USB\\VID_2F7A&PID_0000");
    EXPECT_STREQ(HidEnumDeviceId, "HID\\VID_2F7A&PID_0000");
}
