// Binding setupapi.dll and newdev.dll at run time.
#include "native/fixture.h"
#include "platform/system_libraries.h"

namespace {

class SystemLibrariesTest : public SimTest {
protected:
    void TearDown() override
    {
        releaseSystemLibraries();
        SimTest::TearDown();
    }
    // GetLastError after a driver install that names no real INF: the
    // binding's error when the function could not be bound, else the call's
    // own (ERROR_FILE_NOT_FOUND).
    DWORD errorOfACall()
    {
        SetLastError(0xdeadbeef);
        EXPECT_FALSE(newdev::UpdateDriverForPlugAndPlayDevicesA(nullptr, "USB\\X", "C:\\X.INF",
                                                                INSTALLFLAG_FORCE, nullptr));
        return GetLastError();
    }
};

// A binding that failed fails every later call of the same export with its
// own error, and is tried once; a release forgets the library and what was
// bound from it, so the next export binds afresh.
TEST_F(SystemLibrariesTest, BindingFailuresKeepTheirErrorUntilTheRelease)
{
    m.os.systemDirectory = std::string(260, 'd');  // does not fit MAX_PATH with its zero
    EXPECT_EQ(errorOfACall(), static_cast<DWORD>(ERROR_INSUFFICIENT_BUFFER));
    EXPECT_EQ(errorOfACall(), static_cast<DWORD>(ERROR_INSUFFICIENT_BUFFER));
    EXPECT_EQ(m.callCount("GetSystemDirectoryA"), 1);

    releaseSystemLibraries();
    m.os.systemDirectory = "C";
    EXPECT_EQ(errorOfACall(), static_cast<DWORD>(ERROR_FILE_NOT_FOUND));

    releaseSystemLibraries();
    m.faults.fail("GetSystemDirectoryA", ERROR_ACCESS_DENIED, 1);
    EXPECT_EQ(errorOfACall(), static_cast<DWORD>(ERROR_ACCESS_DENIED));
    EXPECT_EQ(errorOfACall(), static_cast<DWORD>(ERROR_ACCESS_DENIED));

    releaseSystemLibraries();
    EXPECT_EQ(errorOfACall(), static_cast<DWORD>(ERROR_FILE_NOT_FOUND));
    releaseSystemLibraries();
    m.faults.fail("GetProcAddress", ERROR_PROC_NOT_FOUND, 1);
    EXPECT_EQ(errorOfACall(), static_cast<DWORD>(ERROR_PROC_NOT_FOUND));
    EXPECT_EQ(errorOfACall(), static_cast<DWORD>(ERROR_PROC_NOT_FOUND));
}

// No set is opened unless the function that destroys it is bound; each
// function's binding is kept apart, its failure included.
TEST_F(SystemLibrariesTest, SetsOpenOnlyWhenTheyCanBeDestroyed)
{
    m.faults.fail("GetProcAddress", ERROR_PROC_NOT_FOUND, 1);  // SetupDiDestroyDeviceInfoList
    SetLastError(0);
    EXPECT_EQ(setupapi::SetupDiGetClassDevsA(nullptr, nullptr, nullptr, DIGCF_ALLCLASSES),
              INVALID_HANDLE_VALUE);
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_PROC_NOT_FOUND));
    EXPECT_EQ(setupapi::SetupDiCreateDeviceInfoList(nullptr, nullptr), INVALID_HANDLE_VALUE);
    EXPECT_EQ(m.callCount("GetProcAddress"), 1);
    releaseSystemLibraries();
    m.calls.clear();

    m.faults.fail("GetProcAddress", ERROR_PROC_NOT_FOUND, 2);  // SetupDiGetClassDevsA, after the other
    for (int call = 0; call < 2; ++call) {
        SetLastError(0);
        EXPECT_EQ(setupapi::SetupDiGetClassDevsA(nullptr, nullptr, nullptr, DIGCF_ALLCLASSES),
                  INVALID_HANDLE_VALUE);
        EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_PROC_NOT_FOUND));
    }
    EXPECT_EQ(m.callCount("GetProcAddress"), 2);
}

// Without the library every call gives its failure result and the
// binding's error.
TEST_F(SystemLibrariesTest, EveryCallFailsWithoutItsLibrary)
{
    m.os.systemLibraries.clear();
    SP_DEVINFO_DATA data{};
    data.cbSize = sizeof data;
    HDEVINFO set = reinterpret_cast<HDEVINFO>(0x10);
    DWORD size = 0;
    BYTE buffer[4] = {};
    const auto failed = [](BOOL result) { return !result && GetLastError() == ERROR_MOD_NOT_FOUND; };
    EXPECT_EQ(setupapi::SetupDiGetClassDevsA(nullptr, nullptr, nullptr, DIGCF_ALLCLASSES), INVALID_HANDLE_VALUE);
    EXPECT_EQ(setupapi::SetupDiCreateDeviceInfoList(nullptr, nullptr), INVALID_HANDLE_VALUE);
    EXPECT_TRUE(failed(setupapi::SetupDiEnumDeviceInfo(set, 0, &data)));
    EXPECT_TRUE(failed(setupapi::SetupDiGetDeviceRegistryPropertyA(set, &data, SPDRP_HARDWAREID, nullptr,
                                                                   buffer, sizeof buffer, &size)));
    EXPECT_TRUE(failed(setupapi::SetupDiSetDeviceRegistryPropertyA(set, &data, SPDRP_HARDWAREID, buffer,
                                                                   sizeof buffer)));
    EXPECT_TRUE(failed(setupapi::SetupDiCreateDeviceInfoA(set, "System", nullptr, nullptr, nullptr,
                                                          DICD_GENERATE_ID, &data)));
    EXPECT_TRUE(failed(setupapi::SetupDiCallClassInstaller(DIF_REGISTERDEVICE, set, &data)));
    EXPECT_TRUE(failed(setupapi::SetupDiRemoveDevice(set, &data)));
    EXPECT_TRUE(failed(setupapi::SetupDiDeleteDeviceInfo(set, &data)));
    EXPECT_TRUE(failed(setupapi::SetupDiDestroyDeviceInfoList(set)));
    EXPECT_TRUE(failed(newdev::UpdateDriverForPlugAndPlayDevicesA(nullptr, "USB\\X", "C:\\X.INF",
                                                                  INSTALLFLAG_FORCE, nullptr)));
    EXPECT_EQ(m.callCount("SetupDiEnumDeviceInfo"), 0);
}

}  // namespace
