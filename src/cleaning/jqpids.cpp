#include "cleaning/jqpids.h"

#include <cstring>

const char* const UsbVidPids[UsbVidPidCount] = {
    "VID_2F7A&PID_00A1", "VID_2F7A&PID_F4BE", "VID_2F7A&PID_27AF", "VID_2F7A&PID_C9D0",
    "VID_2F7A&PID_1A24", "VID_2F7A&PID_0B3F", "VID_2F7A&PID_EE6F", "VID_2F7A&PID_B37C",
    "VID_2F7A&PID_2503", "VID_2F7A&PID_2492", "VID_2F7A&PID_A57E", "VID_2F7A&PID_542A",
    "VID_2F7A&PID_4F82", "VID_2F7A&PID_4CA6", "VID_2F7A&PID_1577", "VID_2F7A&PID_065F",
    "VID_2F7A&PID_14D3", "VID_2F7A&PID_9B74", "VID_2F7A&PID_97B0", "VID_2F7A&PID_CEB2",
    "VID_2F7A&PID_51A2", "VID_2F7A&PID_F9B5", "VID_2F7A&PID_A43A", "VID_2F7A&PID_FD6B",
    "VID_2F7A&PID_25C8", "VID_2F7A&PID_897C", "VID_2F7A&PID_896A", "VID_2F7A&PID_E058",
    "VID_2F7A&PID_A2AD", "VID_2F7A&PID_3A05", "VID_2F7A&PID_02EB", "VID_2F7A&PID_AA7A",
    "VID_2F7A&PID_3338", "VID_2F7A&PID_67A1", "VID_2F7A&PID_6FA2", "VID_2F7A&PID_204C",
    "VID_2F7A&PID_35D2", "VID_2F7A&PID_343D", "VID_2F7A&PID_3D11", "VID_2F7A&PID_6089",
    "VID_2F7A&PID_DD47", "VID_2F7A&PID_9816", "VID_2F7A&PID_A44F", "VID_2F7A&PID_9CE6",
    "VID_2F7A&PID_CD3B", "VID_2F7A&PID_7992", "VID_2F7A&PID_A5E9", "VID_2F7A&PID_FBAE",
    "VID_2F7A&PID_7CD1", "VID_2F7A&PID_43F7", "VID_2F7A&PID_66B3", "VID_2F7A&PID_20B6",
    "VID_2F7A&PID_FC95", "VID_2F7A&PID_D10B", "VID_2F7A&PID_A34F", "VID_2F7A&PID_CC2C",
    "VID_2F7A&PID_B8F9", "VID_2F7A&PID_F9B3", "VID_2F7A&PID_478F", "VID_2F7A&PID_9F2F",
    "VID_2F7A&PID_ABCD", "VID_2F7A&PID_4A82", "VID_2F7A&PID_A60F", "VID_2F7A&PID_4074",
    "VID_2F7A&PID_A785", "VID_2F7A&PID_0DDD", "VID_2F7A&PID_A83B", "VID_2F7A&PID_D5CA",
    "VID_2F7A&PID_A253", "VID_2F7A&PID_1819", "VID_2F7A&PID_EE42", "VID_2F7A&PID_CB6C",
    "VID_2F7A&PID_9E92", "VID_2F7A&PID_F3AB", "VID_2F7A&PID_1B8C", "VID_2F7A&PID_92ED",
    "VID_2F7A&PID_2B4E", "VID_2F7A&PID_19DA", "VID_2F7A&PID_0747", "VID_2F7A&PID_3849",
    "VID_2F7A&PID_5C8E", "VID_2F7A&PID_1F49", "VID_2F7A&PID_AA31", "VID_2F7A&PID_83D1",
    "VID_2F7A&PID_B497", "VID_2F7A&PID_C0DE",
};

// The newer products: entries 57 to 68 and the last six of the long list.
const char* const UsbVidPidsShort[UsbVidPidShortCount] = {
    "VID_2F7A&PID_B8F9", "VID_2F7A&PID_F9B3", "VID_2F7A&PID_478F", "VID_2F7A&PID_9F2F",
    "VID_2F7A&PID_ABCD", "VID_2F7A&PID_4A82", "VID_2F7A&PID_A60F", "VID_2F7A&PID_4074",
    "VID_2F7A&PID_A785", "VID_2F7A&PID_0DDD", "VID_2F7A&PID_A83B", "VID_2F7A&PID_D5CA",
    "VID_2F7A&PID_5C8E", "VID_2F7A&PID_1F49", "VID_2F7A&PID_AA31", "VID_2F7A&PID_83D1",
    "VID_2F7A&PID_B497", "VID_2F7A&PID_C0DE",
};

const char* const AnalogVidPids[AnalogVidPidCount] = {
    "VID_2F7A&PID_0301", "VID_2F7A&PID_DDB1", "VID_2F7A&PID_BD75", "VID_2F7A&PID_60E1",
    "VID_2F7A&PID_AC4E", "VID_2F7A&PID_D83A", "VID_2F7A&PID_D06E", "VID_2F7A&PID_F16F",
    "VID_2F7A&PID_A354", "VID_2F7A&PID_6466", "VID_2F7A&PID_A808", "VID_2F7A&PID_102B",
    "VID_2F7A&PID_2944", "VID_2F7A&PID_DCEE", "VID_2F7A&PID_151E", "VID_2F7A&PID_DD7E",
};

// Pedals are USB devices too, so each of these is also in the long USB list.
const char* const PedalVidPids[PedalVidPidCount] = {
    "VID_2F7A&PID_1A24", "VID_2F7A&PID_A57E", "VID_2F7A&PID_CEB2",
    "VID_2F7A&PID_3338", "VID_2F7A&PID_A5E9", "VID_2F7A&PID_CB6C",
};

const char* const AuxVidPids[AuxVidPidCount] = {
    "VID_2F7A&PID_C26B",
    "VID_2F7A&PID_D918",
    "VID_2F7A&PID_D1C0",
};

// The devices whose driver the installer refreshes: the first 14 entries of
// the long USB list, then the short list.
const char* const UpdateVidPids[UpdateVidPidCount] = {
    "VID_2F7A&PID_00A1", "VID_2F7A&PID_F4BE", "VID_2F7A&PID_27AF", "VID_2F7A&PID_C9D0",
    "VID_2F7A&PID_1A24", "VID_2F7A&PID_0B3F", "VID_2F7A&PID_EE6F", "VID_2F7A&PID_B37C",
    "VID_2F7A&PID_2503", "VID_2F7A&PID_2492", "VID_2F7A&PID_A57E", "VID_2F7A&PID_542A",
    "VID_2F7A&PID_4F82", "VID_2F7A&PID_4CA6", "VID_2F7A&PID_B8F9", "VID_2F7A&PID_F9B3",
    "VID_2F7A&PID_478F", "VID_2F7A&PID_9F2F", "VID_2F7A&PID_ABCD", "VID_2F7A&PID_4A82",
    "VID_2F7A&PID_A60F", "VID_2F7A&PID_4074", "VID_2F7A&PID_A785", "VID_2F7A&PID_0DDD",
    "VID_2F7A&PID_A83B", "VID_2F7A&PID_D5CA", "VID_2F7A&PID_5C8E", "VID_2F7A&PID_1F49",
    "VID_2F7A&PID_AA31", "VID_2F7A&PID_83D1", "VID_2F7A&PID_B497", "VID_2F7A&PID_C0DE",
};

namespace {

constexpr char UsbDeviceIdAtLoad[] = "USB\\VID_2F7A&PID_0000";
constexpr char JovexDeviceIdAtLoad[] = "Jovex\\VID_2F7A&PID_0000";
constexpr char HidDeviceIdAtLoad[] = "HID\\VID_2F7A&PID_0000";
constexpr char GamePortDeviceIdAtLoad[] = "GamePort\\VID_2F7A&PID_0000";

static_assert(sizeof(UsbDeviceIdAtLoad) == UsbDeviceIdSize);
static_assert(sizeof(JovexDeviceIdAtLoad) == JovexDeviceIdSize);
static_assert(sizeof(HidDeviceIdAtLoad) == HidDeviceIdSize);
static_assert(sizeof(GamePortDeviceIdAtLoad) == GamePortDeviceIdSize);

template <size_t N>
void restore(char (&deviceId)[N], const char (&atLoad)[N])
{
    std::memcpy(deviceId, atLoad, N);
}

}  // namespace

char UsbEnumDeviceId[UsbDeviceIdSize] = "USB\\VID_2F7A&PID_0000";
char JovexEnumDeviceId[JovexDeviceIdSize] = "Jovex\\VID_2F7A&PID_0000";
char HidEnumDeviceId[HidDeviceIdSize] = "HID\\VID_2F7A&PID_0000";
char GamePortEnumDeviceId[GamePortDeviceIdSize] = "GamePort\\VID_2F7A&PID_0000";
char UsbHardwareId[UsbDeviceIdSize] = "USB\\VID_2F7A&PID_0000";

void jqPidsLoad()
{
    restore(UsbEnumDeviceId, UsbDeviceIdAtLoad);
    restore(JovexEnumDeviceId, JovexDeviceIdAtLoad);
    restore(HidEnumDeviceId, HidDeviceIdAtLoad);
    restore(GamePortEnumDeviceId, GamePortDeviceIdAtLoad);
    restore(UsbHardwareId, UsbDeviceIdAtLoad);
}

bool writeProductDigits(char* deviceId, size_t size, std::string_view digits)
{
    // `size` counts the terminating zero, which stays where it is.
    if (!deviceId || size <= ProductDigitsLength || digits.size() < ProductDigitsLength)
        return false;
    if (digits.substr(0, ProductDigitsLength).find('\0') != std::string_view::npos)
        return false;
    std::memcpy(deviceId + size - 1 - ProductDigitsLength, digits.data(), ProductDigitsLength);
    return true;
}
