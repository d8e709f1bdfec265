// The vendor's product ids: the lists a cleaning run matches names against,
// the list UpdateDevices walks, and the device-id templates that the
// device-node routines fill with four product digits before each use.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>

// Every entry is "VID_2F7A&PID_" and four upper-case hexadecimal digits.
constexpr size_t VidPidLength = 17;
constexpr size_t ProductDigitsOffset = 13;  // characters 14 to 17 of an entry
constexpr size_t ProductDigitsLength = 4;

constexpr size_t UsbVidPidCount = 86;
constexpr size_t UsbVidPidShortCount = 18;
constexpr size_t AnalogVidPidCount = 16;
constexpr size_t PedalVidPidCount = 6;
constexpr size_t AuxVidPidCount = 3;
constexpr size_t UpdateVidPidCount = 32;

extern const char* const UsbVidPids[UsbVidPidCount];
extern const char* const UsbVidPidsShort[UsbVidPidShortCount];
extern const char* const AnalogVidPids[AnalogVidPidCount];
extern const char* const PedalVidPids[PedalVidPidCount];
extern const char* const AuxVidPids[AuxVidPidCount];
extern const char* const UpdateVidPids[UpdateVidPidCount];

// The templates are separate objects on purpose: a cleaning run and
// UpdateDevices each patch their own USB text and never see the other's
// digits. Each keeps the digits last written until the module is loaded again.
constexpr size_t UsbDeviceIdSize = sizeof("USB\\VID_2F7A&PID_0000");
constexpr size_t JovexDeviceIdSize = sizeof("Jovex\\VID_2F7A&PID_0000");
constexpr size_t HidDeviceIdSize = sizeof("HID\\VID_2F7A&PID_0000");
constexpr size_t GamePortDeviceIdSize = sizeof("GamePort\\VID_2F7A&PID_0000");

extern char UsbEnumDeviceId[UsbDeviceIdSize];            // deleteEnumUsbKeys2k
extern char JovexEnumDeviceId[JovexDeviceIdSize];        // deleteEnumJqKeys2k
extern char HidEnumDeviceId[HidDeviceIdSize];            // deleteEnumHidKeys2k
extern char GamePortEnumDeviceId[GamePortDeviceIdSize];  // deleteEnumGamePortKeys2k
extern char UsbHardwareId[UsbDeviceIdSize];              // UpdateDevices, updateDeviceDriver

// Load-time initialisation: every template back to its "0000" digits.
void jqPidsLoad();

// Characters 14 to 17 of an id, where a vendor/product id text at its start
// keeps the product digits; empty when the id is too short to hold them.
inline std::string_view productDigitsOf(const std::string& id)
{
    if (id.size() < ProductDigitsOffset + ProductDigitsLength)
        return std::string_view();
    return std::string_view(id).substr(ProductDigitsOffset, ProductDigitsLength);
}

// Writes the first four characters of `digits`, as they are, over the last
// four characters of a template. Fewer than four characters, or a zero among
// them, would leave a template that names nothing or is cut short: the
// template is then left as it was and the result is false.
bool writeProductDigits(char* deviceId, size_t size, std::string_view digits);

template <size_t N>
inline bool setProductDigits(char (&deviceId)[N], std::string_view digits)
{
    static_assert(N > ProductDigitsLength, "a template ends in four product digits");
    return writeProductDigits(deviceId, N, digits);
}
