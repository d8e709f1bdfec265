// Machines on which the fuzz targets (fuzz/) once made the product fail,
// kept so that the fault stays gone.
#include "native/fixture.h"

#include <string>

namespace {

const char* const MediaKey = "HKLM\\System\\CurrentControlSet\\Services\\Class\\MEDIA\\0001";
const char* const OemKey = "HKLM\\System\\CurrentControlSet\\Control\\MediaProperties\\"
                           "PrivateProperties\\Joystick\\OEM";

// A key name that begins with a zero byte. The native API can make one
// (programs do, to hide keys from the Win32 calls); the single-byte calls
// then give its name back as the empty text.
const std::string HiddenName("\0hidden", 7);

}  // namespace

class FuzzRegressionsTest : public SimTest {};

// An empty subkey name opens the key itself, so a tree deletion that went
// down into it walked the same key again and again until the stack ran out,
// killing the installer. The deletion now passes such a subkey over: the
// rest of the tree goes, and the key that still holds it stays.
TEST_F(FuzzRegressionsTest, ASubkeyNamedWithALeadingZeroDoesNotStopACleaningRun)
{
    m.setWindows(sim::WindowsVersion::Win98);
    const std::string device = "HKLM\\Enum\\USB\\VID_2F7A&PID_00A1";
    m.setString(device + "\\5&1A2B&0&1", "Driver", "MEDIA\\0001");
    m.createKey(device + "\\5&1A2B&0&1\\" + HiddenName);
    m.createKey(MediaKey);
    m.createKey(std::string(OemKey) + "\\VID_2F7A&PID_00A1\\" + HiddenName + "\\Below");
    m.setString(std::string(OemKey) + "\\VID_2F7A&PID_00A1\\Settings", "OEMName", "Pilotdeck");

    EXPECT_EQ(call(RemoveUsbDevices), 0);

    EXPECT_FALSE(m.keyExists(MediaKey));
    EXPECT_TRUE(m.keyExists(device + "\\5&1A2B&0&1\\" + HiddenName));
    EXPECT_FALSE(m.keyExists(std::string(OemKey) + "\\VID_2F7A&PID_00A1\\Settings"));
    EXPECT_TRUE(m.keyExists(std::string(OemKey) + "\\VID_2F7A&PID_00A1\\" + HiddenName));
}
