// The simulated registry remembers where the last subkey walk stood, so
// that walking a large key costs one step per index. Whatever changed in
// between, an index must still name the subkey that stands there now.
#include "native/fixture.h"

#include <cstdio>
#include <string>
#include <vector>

namespace {

HKEY openKey(const char* path, TestKey& out, REGSAM access = KEY_ALL_ACCESS)
{
    EXPECT_EQ(RegOpenKeyExA(HKEY_LOCAL_MACHINE, path, 0, access, &out.key), ERROR_SUCCESS)
        << path;
    return out.key;
}

// The name at an index, or the error as text.
std::string nameAt(HKEY key, DWORD index)
{
    char name[256];
    DWORD length = sizeof name;
    const LONG error = RegEnumKeyExA(key, index, name, &length, nullptr, nullptr, nullptr, nullptr);
    if (error != ERROR_SUCCESS)
        return "error " + std::to_string(error);
    return std::string(name, length);
}

std::vector<std::string> walk(HKEY key, DWORD from, DWORD to)
{
    std::vector<std::string> names;
    for (DWORD index = from; index < to; ++index)
        names.push_back(nameAt(key, index));
    return names;
}

using Names = std::vector<std::string>;

}  // namespace

class SimRegistryEnumTest : public SimTest {
protected:
    // K\a00 ... K\a(n-1), made out of order.
    void makeKeys(const std::string& path, int count)
    {
        for (int i = count - 1; i >= 0; --i) {
            char name[16];
            std::snprintf(name, sizeof name, "a%02d", i);
            m.createKey(path + "\\" + name);
        }
    }
};

TEST_F(SimRegistryEnumTest, ForwardBackwardAndJumpingWalksGiveTheSortedNames)
{
    makeKeys("HKLM\\K", 40);
    TestKey k;
    openKey("K", k);

    Names forward = walk(k.key, 0, 40);
    ASSERT_EQ(forward.size(), 40u);
    EXPECT_EQ(forward.front(), "a00");
    EXPECT_EQ(forward[17], "a17");
    EXPECT_EQ(forward.back(), "a39");

    for (DWORD index = 40; index-- > 0;)
        EXPECT_EQ(nameAt(k.key, index), forward[index]);
    for (DWORD index : {5u, 33u, 6u, 0u, 39u, 20u, 21u, 19u})
        EXPECT_EQ(nameAt(k.key, index), forward[index]);
    EXPECT_EQ(nameAt(k.key, 40), "error " + std::to_string(ERROR_NO_MORE_ITEMS));
}

TEST_F(SimRegistryEnumTest, AWalkSeesKeysAddedAndDeletedOnTheWay)
{
    makeKeys("HKLM\\K", 10);
    TestKey k;
    openKey("K", k);
    EXPECT_EQ(walk(k.key, 0, 4), (Names{"a00", "a01", "a02", "a03"}));

    // Added before the position: everything after it moves up by one.
    m.createKey("HKLM\\K\\a005");
    EXPECT_EQ(nameAt(k.key, 4), "a03");
    EXPECT_EQ(nameAt(k.key, 5), "a04");

    // Deleted before the position: everything moves down by one.
    ASSERT_EQ(RegDeleteKeyA(k.key, "a00"), ERROR_SUCCESS);
    EXPECT_EQ(nameAt(k.key, 5), "a05");

    // One deleted and one added, so that the count stays as it was.
    EXPECT_EQ(nameAt(k.key, 6), "a06");
    ASSERT_EQ(RegDeleteKeyA(k.key, "a01"), ERROR_SUCCESS);
    TestKey added;
    ASSERT_EQ(RegCreateKeyExA(k.key, "a99", 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &added.key,
                              nullptr),
              ERROR_SUCCESS);
    EXPECT_EQ(nameAt(k.key, 6), "a07");
    EXPECT_EQ(walk(k.key, 0, 10), (Names{"a005", "a02", "a03", "a04", "a05", "a06", "a07", "a08",
                                         "a09", "a99"}));
}

// The setup API deletes device keys straight from the tree, not through the
// registry calls; a walk over the enumerator must see them go all the same.
TEST_F(SimRegistryEnumTest, AWalkSeesDeviceKeysTheSetupApiRemoves)
{
    const char* const hid = "{745A17A0-74D3-11D0-B6FE-00A0C90F57DA}";
    for (const char* id : {"VID_0001&PID_0001", "VID_0002&PID_0002", "VID_0003&PID_0003",
                           "VID_0004&PID_0004"})
        m.addDevice({std::string("USB\\") + id + "\\1", {std::string("USB\\") + id}, hid, "", true});
    TestKey usb;
    // Administrators may only read the NT device tree.
    TestKey refused;
    EXPECT_EQ(RegOpenKeyExA(HKEY_LOCAL_MACHINE, "System\\CurrentControlSet\\Enum\\USB", 0,
                            KEY_ALL_ACCESS, &refused.key),
              ERROR_ACCESS_DENIED);
    openKey("System\\CurrentControlSet\\Enum\\USB", usb, KEY_READ);
    EXPECT_EQ(nameAt(usb.key, 2), "VID_0003&PID_0003");

    HDEVINFO set = SetupDiGetClassDevsA(nullptr, "USB\\VID_0001&PID_0001", nullptr, DIGCF_ALLCLASSES);
    ASSERT_NE(set, INVALID_HANDLE_VALUE);
    SP_DEVINFO_DATA element{};
    element.cbSize = sizeof element;
    ASSERT_TRUE(SetupDiEnumDeviceInfo(set, 0, &element));
    ASSERT_TRUE(SetupDiRemoveDevice(set, &element));
    SetupDiDestroyDeviceInfoList(set);
    // A new device where the count hides the removal.
    m.addDevice({"USB\\VID_0009&PID_0009\\1", {"USB\\VID_0009&PID_0009"}, hid, "", true});

    EXPECT_EQ(nameAt(usb.key, 2), "VID_0004&PID_0004");
    EXPECT_EQ(nameAt(usb.key, 3), "VID_0009&PID_0009");
}

TEST_F(SimRegistryEnumTest, WalksOverTwoKeysInTurnKeepApart)
{
    makeKeys("HKLM\\K", 6);
    makeKeys("HKLM\\L", 5);
    m.createKey("HKLM\\L\\a005");
    TestKey k, l;
    openKey("K", k);
    openKey("L", l);
    Names inK, inL;
    for (DWORD index = 0; index < 6; ++index) {
        inK.push_back(nameAt(k.key, index));
        inL.push_back(nameAt(l.key, index));
    }
    EXPECT_EQ(inK, (Names{"a00", "a01", "a02", "a03", "a04", "a05"}));
    EXPECT_EQ(inL, (Names{"a00", "a005", "a01", "a02", "a03", "a04"}));
}
