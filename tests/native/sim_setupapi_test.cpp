// The simulated setup API: what the device-node routines rely on it to do
// as Windows does.
#include "native/fixture.h"

#include <string>
#include <vector>

namespace {

const char* const EnumKey = "HKLM\\System\\CurrentControlSet\\Enum";
const char* const ClassKey = "HKLM\\System\\CurrentControlSet\\Control\\Class";
const GUID SystemGuid = {0x4d36e97d, 0xe325, 0x11ce, {0xbf, 0xc1, 0x08, 0x00, 0x2b, 0xe1, 0x03, 0x18}};

class SimSetupApiTest : public SimTest {
protected:
    // The instance ids of a set, in enumeration order; the set is destroyed.
    std::vector<std::string> members(HDEVINFO set)
    {
        std::vector<std::string> ids;
        SP_DEVINFO_DATA data{};
        data.cbSize = sizeof data;
        for (DWORD i = 0; SetupDiEnumDeviceInfo(set, i, &data); ++i) {
            char id[256];
            EXPECT_TRUE(SetupDiGetDeviceInstanceIdA(set, &data, id, sizeof id, nullptr));
            ids.push_back(id);
        }
        EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_NO_MORE_ITEMS));
        EXPECT_TRUE(SetupDiDestroyDeviceInfoList(set));
        return ids;
    }
    using Ids = std::vector<std::string>;
};

TEST_F(SimSetupApiTest, ClassDevsSelectByClassPresenceAndEnumerator)
{
    m.addDevice({"ROOT\\SYSTEM\\0000", {"root\\jq_pilotdeck"}, SystemClass, "", true});
    m.addDevice({"ROOT\\SYSTEM\\0001", {"root\\other"}, SystemClass, "", false});
    m.addDevice({"USB\\VID_2F7A&PID_00A1\\1", {"USB\\VID_2F7A&PID_00A1"}, HidClass, "", true});
    m.addDevice({"USB\\VID_2F7A&PID_00A1\\2", {"USB\\VID_2F7A&PID_00A1"}, HidClass, "", false});
    m.addDevice({"USB\\VID_2F7A&PID_00A1\\3", {"USB\\VID_2F7A&PID_00A1"}, "", "", true});  // no class
    m.addDevice({"USB\\VID_045E&PID_0008\\1", {"USB\\VID_045E&PID_0008"}, HidClass, "", true});

    EXPECT_EQ(members(SetupDiGetClassDevsA(&SystemGuid, nullptr, nullptr, DIGCF_PRESENT)),
              (Ids{"ROOT\\SYSTEM\\0000"}));
    EXPECT_EQ(members(SetupDiGetClassDevsA(&SystemGuid, nullptr, nullptr, 0)),
              (Ids{"ROOT\\SYSTEM\\0000", "ROOT\\SYSTEM\\0001"}));
    EXPECT_EQ(members(SetupDiGetClassDevsA(nullptr, "usb\\vid_2f7a&pid_00a1", nullptr,
                                           DIGCF_ALLCLASSES)),
              (Ids{"USB\\VID_2F7A&PID_00A1\\1", "USB\\VID_2F7A&PID_00A1\\2"}));
    EXPECT_EQ(members(SetupDiGetClassDevsA(nullptr, "USB\\VID_2F7A&PID_00A1", nullptr,
                                           DIGCF_ALLCLASSES | DIGCF_PRESENT)),
              (Ids{"USB\\VID_2F7A&PID_00A1\\1"}));
    EXPECT_EQ(members(SetupDiGetClassDevsA(nullptr, "USB", nullptr, DIGCF_ALLCLASSES)).size(), 3u);

    SetLastError(0xdeadbeef);
    EXPECT_EQ(SetupDiGetClassDevsA(nullptr, "USB\\VID_2F7A&PID_FFFF", nullptr, DIGCF_ALLCLASSES),
              INVALID_HANDLE_VALUE);
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_DATA));
    EXPECT_EQ(SetupDiGetClassDevsA(nullptr, nullptr, nullptr, DIGCF_PRESENT), INVALID_HANDLE_VALUE);
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_PARAMETER));
}

TEST_F(SimSetupApiTest, EnumerationAndPropertyErrors)
{
    m.addDevice({"ROOT\\SYSTEM\\0000", {"root\\jq_pilotdeck", "root\\second"}, SystemClass, "", true});
    HDEVINFO set = SetupDiGetClassDevsA(&SystemGuid, nullptr, nullptr, DIGCF_PRESENT);
    SP_DEVINFO_DATA data{};
    data.cbSize = 0;
    SetLastError(0xdeadbeef);
    EXPECT_FALSE(SetupDiEnumDeviceInfo(set, 0, &data));
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_USER_BUFFER));
    data.cbSize = sizeof data;
    ASSERT_TRUE(SetupDiEnumDeviceInfo(set, 0, &data));

    BYTE buffer[64] = {};
    DWORD required = 0, type = 0;
    EXPECT_FALSE(SetupDiGetDeviceRegistryPropertyA(set, &data, SPDRP_HARDWAREID, &type, buffer, 10,
                                                   &required));
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INSUFFICIENT_BUFFER));
    EXPECT_EQ(required, sizeof("root\\jq_pilotdeck") + sizeof("root\\second") + 1);
    EXPECT_EQ(buffer[0], 0);  // nothing copied into a short buffer
    EXPECT_TRUE(SetupDiGetDeviceRegistryPropertyA(set, &data, SPDRP_HARDWAREID, &type, buffer,
                                                  sizeof buffer, &required));
    EXPECT_EQ(type, static_cast<DWORD>(REG_MULTI_SZ));
    EXPECT_STREQ(reinterpret_cast<char*>(buffer), "root\\jq_pilotdeck");
    EXPECT_FALSE(SetupDiGetDeviceRegistryPropertyA(set, &data, SPDRP_DRIVER, &type, buffer,
                                                   sizeof buffer, &required));
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_DATA));
    EXPECT_TRUE(SetupDiDestroyDeviceInfoList(set));
    EXPECT_FALSE(SetupDiDestroyDeviceInfoList(set));
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_HANDLE));
}

TEST_F(SimSetupApiTest, GeneratedRootDeviceExistsOnlyOnceRegistered)
{
    m.addDevice({"ROOT\\SYSTEM\\0000", {"root\\other"}, SystemClass, "", true});
    HDEVINFO set = SetupDiCreateDeviceInfoList(&SystemGuid, nullptr);
    SP_DEVINFO_DATA data{};
    data.cbSize = sizeof data;
    ASSERT_TRUE(SetupDiCreateDeviceInfoA(set, "System", &SystemGuid, nullptr, nullptr,
                                         DICD_GENERATE_ID, &data));
    const BYTE ids[] = "root\\jq_pilotdeck\0";
    ASSERT_TRUE(SetupDiSetDeviceRegistryPropertyA(set, &data, SPDRP_HARDWAREID, ids, sizeof ids));
    const std::string key = std::string(EnumKey) + "\\ROOT\\SYSTEM\\0001";
    EXPECT_FALSE(m.keyExists(key));

    ASSERT_TRUE(SetupDiCallClassInstaller(DIF_REGISTERDEVICE, set, &data));
    EXPECT_EQ(m.stringValue(key, "ClassGUID"), std::string(SystemClass));
    EXPECT_EQ(m.devicesWithHardwareId("root\\jq_pilotdeck"), (Ids{"ROOT\\SYSTEM\\0001"}));
    EXPECT_TRUE(m.devices.present.count("ROOT\\SYSTEM\\0001"));
    EXPECT_TRUE(SetupDiDestroyDeviceInfoList(set));
}

TEST_F(SimSetupApiTest, RemoveTakesKeysAlongAndDeleteShiftsTheSet)
{
    const std::string driver = "{745A17A0-74D3-11D0-B6FE-00A0C90F57DA}\\0003";
    m.addDevice({"USB\\VID_2F7A&PID_00A1\\1", {"USB\\VID_2F7A&PID_00A1"}, HidClass, driver, true});
    m.addDevice({"USB\\VID_2F7A&PID_00A1\\2", {"USB\\VID_2F7A&PID_00A1"}, HidClass, "", false});
    HDEVINFO set = SetupDiGetClassDevsA(nullptr, "USB\\VID_2F7A&PID_00A1", nullptr, DIGCF_ALLCLASSES);
    SP_DEVINFO_DATA data{};
    data.cbSize = sizeof data;
    const std::string deviceKey = std::string(EnumKey) + "\\USB\\VID_2F7A&PID_00A1";

    ASSERT_TRUE(SetupDiEnumDeviceInfo(set, 0, &data));
    ASSERT_TRUE(SetupDiRemoveDevice(set, &data));
    EXPECT_FALSE(m.keyExists(deviceKey + "\\1"));
    EXPECT_FALSE(m.keyExists(std::string(ClassKey) + "\\" + driver));
    EXPECT_TRUE(m.keyExists(deviceKey));  // another instance is left
    EXPECT_FALSE(m.devices.present.count("USB\\VID_2F7A&PID_00A1\\1"));
    EXPECT_FALSE(SetupDiRemoveDevice(set, &data));
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_NO_SUCH_DEVINST));
    ASSERT_TRUE(SetupDiDeleteDeviceInfo(set, &data));

    ASSERT_TRUE(SetupDiEnumDeviceInfo(set, 0, &data));  // the second moved down
    ASSERT_TRUE(SetupDiCallClassInstaller(DIF_REMOVE, set, &data));
    EXPECT_FALSE(m.keyExists(deviceKey));
    EXPECT_TRUE(m.keyExists(std::string(EnumKey) + "\\USB"));
    EXPECT_TRUE(SetupDiDestroyDeviceInfoList(set));
}

TEST_F(SimSetupApiTest, DriverInstallFailsAsWindowsDoes)
{
    m.addDevice({"ROOT\\SYSTEM\\0000", {"root\\jq_pilotdeck"}, SystemClass, "", true});
    m.addDevice({"ROOT\\SYSTEM\\0001", {"root\\absent"}, SystemClass, "", false});
    // The driver's keys go under the class the INF names, whatever it is.
    const std::string infClass = "{11111111-2222-3333-4444-555555555555}";
    m.devices.infFiles["C:\\JQ\\JQDRV2K3.INF"] = infClass;
    BOOL reboot = 7;
    const auto install = [&](const char* id, const char* inf) {
        SetLastError(0xdeadbeef);
        return UpdateDriverForPlugAndPlayDevicesA(nullptr, id, inf, INSTALLFLAG_FORCE, &reboot);
    };

    EXPECT_FALSE(install("root\\jq_pilotdeck", "C:\\JQ\\MISSING.INF"));
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_FILE_NOT_FOUND));
    EXPECT_FALSE(install("root\\absent", "C:\\JQ\\JQDRV2K3.INF"));
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_NO_SUCH_DEVINST));
    m.os.runningInWow64 = true;
    EXPECT_FALSE(install("root\\jq_pilotdeck", "C:\\JQ\\JQDRV2K3.INF"));
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_IN_WOW64));
    EXPECT_EQ(reboot, 7);
    m.os.runningInWow64 = false;

    m.devices.driverInstallAsksReboot = true;
    ASSERT_TRUE(install("ROOT\\JQ_PILOTDECK", "c:\\jq\\jqdrv2k3.inf"));
    EXPECT_EQ(reboot, TRUE);
    const auto driver = m.stringValue(std::string(EnumKey) + "\\ROOT\\SYSTEM\\0000", "Driver");
    ASSERT_TRUE(driver);
    EXPECT_EQ(*driver, infClass + "\\0000");
    EXPECT_TRUE(m.keyExists(std::string(ClassKey) + "\\" + *driver));
    ASSERT_EQ(driverInstalls().size(), 4u);
    EXPECT_EQ(driverInstalls()[0].error, static_cast<DWORD>(ERROR_FILE_NOT_FOUND));
    EXPECT_TRUE(driverInstalls()[3].result);
}

}  // namespace
