// The simulated registry answers as Windows NT does where the product
// depends on it.
#include "native/fixture.h"

namespace {

LONG openKey(const char* path, REGSAM access, TestKey& out)
{
    return RegOpenKeyExA(HKEY_LOCAL_MACHINE, path, 0, access, &out.key);
}

}  // namespace

class SimRegistryTest : public SimTest {};

TEST_F(SimRegistryTest, KeySecurityDecidesOpensAndHandleRightsDecideCalls)
{
    m.setString("HKLM\\Software\\ReadOnly", "Name", "text");
    m.setReadOnly("HKLM\\Software\\ReadOnly");
    m.createKey("HKLM\\Software\\Hidden")->readable = false;

    TestKey reading, all, hidden, missing;
    EXPECT_EQ(openKey("SOFTWARE\\readonly", KEY_READ, reading), ERROR_SUCCESS);
    EXPECT_EQ(openKey("Software\\ReadOnly", KEY_ALL_ACCESS, all), ERROR_ACCESS_DENIED);
    EXPECT_EQ(openKey("Software\\Hidden", KEY_READ, hidden), ERROR_ACCESS_DENIED);
    EXPECT_EQ(openKey("Software\\Other", KEY_READ, missing), ERROR_FILE_NOT_FOUND);
    EXPECT_EQ(missing.key, nullptr);
    EXPECT_EQ(RegDeleteKeyA(HKEY_LOCAL_MACHINE, "Software\\ReadOnly"), ERROR_ACCESS_DENIED);

    EXPECT_EQ(RegDeleteValueA(reading.key, "Name"), ERROR_ACCESS_DENIED);
    const BYTE data[] = {'x', 0};
    EXPECT_EQ(RegSetValueExA(reading.key, "Name", 0, REG_SZ, data, 2), ERROR_ACCESS_DENIED);
    EXPECT_EQ(RegQueryValueExA(reading.key, "Name", nullptr, nullptr, nullptr, nullptr),
              ERROR_SUCCESS);
    EXPECT_EQ(RegCloseKey(reinterpret_cast<HKEY>(0x4242)), ERROR_INVALID_HANDLE);
}

TEST_F(SimRegistryTest, EnumerationOrderEndAndShortBuffers)
{
    m.createKey("HKLM\\K\\charlie");
    m.createKey("HKLM\\K\\Alpha");
    m.createKey("HKLM\\K\\bravo77");
    m.setString("HKLM\\K", "zulu", "0123456789");
    m.setString("HKLM\\K", "Yankee", "");
    TestKey k;
    ASSERT_EQ(openKey("K", KEY_READ, k), ERROR_SUCCESS);

    DWORD subkeys = 0, longestSubkey = 0, values = 0, longestValue = 0;
    ASSERT_EQ(RegQueryInfoKeyA(k.key, nullptr, nullptr, nullptr, &subkeys, &longestSubkey, nullptr,
                               &values, &longestValue, nullptr, nullptr, nullptr),
              ERROR_SUCCESS);
    EXPECT_EQ(subkeys, 3u);
    EXPECT_EQ(longestSubkey, 7u);  // characters, without the zero
    EXPECT_EQ(values, 2u);
    EXPECT_EQ(longestValue, 6u);

    std::vector<std::string> keys, valueNames;
    char name[32];
    DWORD length;
    for (DWORD i = 0; length = sizeof name,
               RegEnumKeyExA(k.key, i, name, &length, nullptr, nullptr, nullptr, nullptr) == 0;
         ++i)
        keys.push_back(name);
    for (DWORD i = 0; length = sizeof name,
               RegEnumValueA(k.key, i, name, &length, nullptr, nullptr, nullptr, nullptr) == 0;
         ++i)
        valueNames.push_back(name);
    EXPECT_EQ(keys, (std::vector<std::string>{"Alpha", "bravo77", "charlie"}));
    EXPECT_EQ(valueNames, (std::vector<std::string>{"zulu", "Yankee"}));
    length = sizeof name;
    EXPECT_EQ(RegEnumKeyExA(k.key, 3, name, &length, nullptr, nullptr, nullptr, nullptr),
              ERROR_NO_MORE_ITEMS);

    length = 7;  // "bravo77" without room for its zero
    EXPECT_EQ(RegEnumKeyExA(k.key, 1, name, &length, nullptr, nullptr, nullptr, nullptr),
              ERROR_MORE_DATA);
    length = 4;
    EXPECT_EQ(RegEnumValueA(k.key, 0, name, &length, nullptr, nullptr, nullptr, nullptr),
              ERROR_MORE_DATA);
    BYTE data[4];
    DWORD size = sizeof data;
    EXPECT_EQ(RegQueryValueExA(k.key, "ZULU", nullptr, nullptr, data, &size), ERROR_MORE_DATA);
    EXPECT_EQ(size, 11u);
}

TEST_F(SimRegistryTest, DeletionKeepsTreesWholeAndInvalidatesOpenHandles)
{
    m.createKey("HKLM\\K\\Child\\Grandchild");
    EXPECT_EQ(RegDeleteKeyA(HKEY_LOCAL_MACHINE, "K\\Child"), ERROR_ACCESS_DENIED);

    TestKey grandchild, parent;
    ASSERT_EQ(openKey("K\\Child\\Grandchild", KEY_ALL_ACCESS, grandchild), ERROR_SUCCESS);
    // The key's security, not the rights of the handle it is reached by, decides.
    ASSERT_EQ(openKey("K\\Child", KEY_READ, parent), ERROR_SUCCESS);
    EXPECT_EQ(RegDeleteKeyA(parent.key, "Grandchild"), ERROR_SUCCESS);
    EXPECT_FALSE(m.keyExists("HKLM\\K\\Child\\Grandchild"));

    DWORD count = 0;
    EXPECT_EQ(RegQueryInfoKeyA(grandchild.key, nullptr, nullptr, nullptr, &count, nullptr, nullptr,
                               nullptr, nullptr, nullptr, nullptr, nullptr),
              ERROR_KEY_DELETED);
    EXPECT_EQ(RegFlushKey(grandchild.key), ERROR_KEY_DELETED);
    EXPECT_EQ(RegDeleteKeyA(HKEY_LOCAL_MACHINE, "K\\Child"), ERROR_SUCCESS);
}
