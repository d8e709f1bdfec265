// How the registry access layer uses the store: key walks, deletions, value
// types and key security, the same on the simulator and on Wine's registry.
#include "contract_fixture.h"
#include "support/errors.h"
#include "support/winreg.h"

using Names = std::vector<std::string>;

namespace {

Names names(const TStringList& list)
{
    Names out;
    for (int i = 0; i < list.count(); ++i)
        out.push_back(list[i]);
    return out;
}

// The message of the ERegistryException that reading the value raises.
std::string readError(TWinRegistry& registry, const std::string& subkey, const std::string& name)
{
    try {
        registry.ReadString(subkey, name, "default");
    } catch (const ERegistryException& e) {
        return e.what();
    }
    return "no error";
}

}  // namespace

class WinRegContract : public ContractTest {};

TEST_F(WinRegContract, MissingKeyIsNeitherOpenedNorCreated)
{
    auto registry = TWinRegistry::OpenWithKey(HKEY_LOCAL_MACHINE, scratch("Missing"));
    EXPECT_TRUE(WinRegOpenFailed);
    EXPECT_FALSE(registry->isOpen());
    EXPECT_FALSE(keyExists("Missing"));
}

TEST_F(WinRegContract, EraseSectionRemovesThreeLevels)
{
    setString("S\\A\\A1\\A1x", "Leaf", "1");
    setString("S\\A\\A2", "Leaf", "2");
    createKey("S\\B");
    createKey("Keep\\Child");
    {
        auto registry = TWinRegistry::OpenWithKey(HKEY_LOCAL_MACHINE, scratch());
        ASSERT_FALSE(WinRegOpenFailed);
        registry->eraseSection("S");
        registry->eraseSection("Missing");
    }
    EXPECT_FALSE(keyExists("S"));
    EXPECT_TRUE(keyExists("Keep\\Child"));
}

// Windows enumerates values in the order they were created, Wine in the
// order of their names; values created in name order read the same on both.
TEST_F(WinRegContract, SectionsAndValueNamesAreListedInOrder)
{
    createKey("gamma");
    createKey("Alpha\\Below");
    setString("beta", "Alpha", "1");
    setString("beta", "beta", "2");
    setString("beta", "Gamma", "3");
    auto registry = TWinRegistry::OpenWithKeyReadOnly(HKEY_LOCAL_MACHINE, scratch());
    ASSERT_FALSE(WinRegOpenFailed);

    TStringList list;
    list.append("stale");
    registry->ReadSections(list);
    EXPECT_EQ(names(list), (Names{"Alpha", "beta", "gamma"}));
    registry->ReadSection("Missing", list);
    EXPECT_EQ(names(list), (Names{"Alpha", "beta", "gamma"}));
    registry->ReadSection("beta", list);
    EXPECT_EQ(names(list), (Names{"Alpha", "beta", "Gamma"}));
    registry->ReadSection("gamma", list);
    EXPECT_EQ(list.count(), 0);
}

TEST_F(WinRegContract, ReadStringAcceptsOnlyTextValues)
{
    setString("Sub", "Plain", "USB\\VID_2F7A&PID_0010");
    setString("Sub", "Expand", "%SystemRoot%\\inf", REG_EXPAND_SZ);
    setValue("Sub", "EmptyText", REG_SZ, {});
    setValue("Sub", "EmptyBinary", REG_BINARY, {});
    setValue("Sub", "Embedded", REG_SZ, {'a', 'b', 0, 'c', 'd', 0});
    setValue("Sub", "Number", REG_DWORD, {4, 0, 0, 0});
    setValue("Sub", "List", REG_MULTI_SZ, {'a', 0, 'b', 0, 0});
    auto registry = TWinRegistry::OpenWithKey(HKEY_LOCAL_MACHINE, scratch());
    ASSERT_FALSE(WinRegOpenFailed);

    EXPECT_EQ(registry->ReadString("Sub", "plain", "x"), "USB\\VID_2F7A&PID_0010");
    EXPECT_EQ(registry->ReadString("Sub", "Expand", "x"), "%SystemRoot%\\inf");
    EXPECT_EQ(registry->ReadString("Sub", "EmptyText", "x"), "");
    EXPECT_EQ(registry->ReadString("Sub", "EmptyBinary", "x"), "");
    EXPECT_EQ(registry->ReadString("Sub", "Embedded", "x"), "ab");
    EXPECT_EQ(registry->ReadString("Sub", "Missing", "fallback"), "fallback");
    EXPECT_EQ(registry->ReadString("Missing", "Plain", "fallback"), "fallback");
    EXPECT_EQ(readError(*registry, "Sub", "Number"), "Invalid data type for 'Number'");
    EXPECT_EQ(readError(*registry, "Sub", "List"), "Invalid data type for 'List'");
    // The object's own key is back after the errors.
    TStringList list;
    registry->ReadSections(list);
    EXPECT_EQ(names(list), (Names{"Sub"}));
}

TEST_F(WinRegContract, DeleteKeyDeletesOneValue)
{
    setString("Sub", "Gone", "1");
    setString("Sub", "Stays", "2");
    createKey("Sub\\Child");
    {
        auto registry = TWinRegistry::OpenWithKey(HKEY_LOCAL_MACHINE, scratch());
        ASSERT_FALSE(WinRegOpenFailed);
        registry->DeleteKey("Sub", "Gone");
        registry->DeleteKey("Missing", "Stays");
    }
    EXPECT_FALSE(valueExists("Sub", "Gone"));
    EXPECT_TRUE(valueExists("Sub", "Stays"));
    EXPECT_TRUE(keyExists("Sub\\Child"));
}

TEST_F(WinRegContract, ReadOnlyKeyIsOpenedOnlyForReading)
{
    setString("Locked", "Name", "text");
    makeReadOnly("Locked");

    auto readWrite = TWinRegistry::OpenWithKey(HKEY_LOCAL_MACHINE, scratch("Locked"));
    EXPECT_TRUE(WinRegOpenFailed);
    auto readOnly = TWinRegistry::OpenWithKeyReadOnly(HKEY_LOCAL_MACHINE, scratch("Locked"));
    EXPECT_FALSE(WinRegOpenFailed);
    EXPECT_EQ(readOnly->ReadString("", "Name", "x"), "text");

    // As a subkey it is missing to an object that reads and writes; one that
    // only reads reads it, and cannot delete a value of it.
    auto parent = TWinRegistry::OpenWithKey(HKEY_LOCAL_MACHINE, scratch());
    EXPECT_EQ(parent->ReadString("Locked", "Name", "x"), "x");
    auto readingParent = TWinRegistry::OpenWithKeyReadOnly(HKEY_LOCAL_MACHINE, scratch());
    EXPECT_EQ(readingParent->ReadString("Locked", "Name", "x"), "text");
    readingParent->DeleteKey("Locked", "Name");
    EXPECT_TRUE(valueExists("Locked", "Name"));
}
