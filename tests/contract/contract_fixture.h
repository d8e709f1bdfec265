// Contract cases: how the product uses the platform, written once against
// Win32 calls alone. Natively they run on the simulated machine, reset for
// every case; cross-built they run under wine64 on Wine's own registry, where
// every case starts and ends without the scratch tree.
#pragma once

#include "platform/win32.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#ifdef _WIN32
#include <sddl.h>
#else
#include "host/module_load.h"
#include "machine.h"
#endif

class ContractTest : public ::testing::Test {
protected:
    void SetUp() override
    {
#ifdef _WIN32
        deleteTree(HKEY_LOCAL_MACHINE, scratch());
#else
        sim::machine().reset();
        moduleLoad();
#endif
        Key key;
        ASSERT_EQ(create("", key), ERROR_SUCCESS);
    }

    void TearDown() override
    {
#ifdef _WIN32
        deleteTree(HKEY_LOCAL_MACHINE, scratch());
#else
        EXPECT_EQ(sim::machine().openHandleCount(), 0u) << sim::machine().openHandleReport();
#endif
    }

    // Every case works below HKEY_LOCAL_MACHINE\Software\JQContractTest.
    static std::string scratch(const std::string& path = "")
    {
        const std::string root = "Software\\JQContractTest";
        return path.empty() ? root : root + "\\" + path;
    }

    struct Key {
        HKEY handle = nullptr;
        ~Key()
        {
            if (handle)
                RegCloseKey(handle);
        }
    };

    static LONG create(const std::string& path, Key& key)
    {
        return RegCreateKeyExA(HKEY_LOCAL_MACHINE, scratch(path).c_str(), 0, nullptr,
                               REG_OPTION_NON_VOLATILE, KEY_ALL_ACCESS, nullptr, &key.handle,
                               nullptr);
    }

    static LONG open(const std::string& path, REGSAM access, Key& key)
    {
        return RegOpenKeyExA(HKEY_LOCAL_MACHINE, scratch(path).c_str(), 0, access, &key.handle);
    }

    static void createKey(const std::string& path)
    {
        Key key;
        ASSERT_EQ(create(path, key), ERROR_SUCCESS);
    }

    static void setValue(const std::string& path, const char* name, DWORD type,
                         const std::vector<BYTE>& data)
    {
        Key key;
        ASSERT_EQ(create(path, key), ERROR_SUCCESS);
        ASSERT_EQ(RegSetValueExA(key.handle, name, 0, type, data.empty() ? nullptr : data.data(),
                                 static_cast<DWORD>(data.size())),
                  ERROR_SUCCESS);
    }

    // The text with its terminating zero.
    static void setString(const std::string& path, const char* name, const std::string& text,
                          DWORD type = REG_SZ)
    {
        std::vector<BYTE> data(text.begin(), text.end());
        data.push_back(0);
        setValue(path, name, type, data);
    }

    static bool keyExists(const std::string& path)
    {
        Key key;
        return open(path, KEY_READ, key) == ERROR_SUCCESS;
    }

    static bool valueExists(const std::string& path, const char* name)
    {
        Key key;
        return open(path, KEY_READ, key) == ERROR_SUCCESS &&
               RegQueryValueExA(key.handle, name, nullptr, nullptr, nullptr, nullptr) ==
                   ERROR_SUCCESS;
    }

    // The key may be read, and deleted so that the scratch tree can go, but
    // not changed. Wine enforces such a key's security as Windows does.
    static void makeReadOnly(const std::string& path)
    {
#ifdef _WIN32
        PSECURITY_DESCRIPTOR descriptor = nullptr;
        ASSERT_TRUE(ConvertStringSecurityDescriptorToSecurityDescriptorA(
            "D:P(A;;KR;;;WD)(A;;SD;;;WD)", SDDL_REVISION_1, &descriptor, nullptr));
        Key key;
        LONG result = open(path, WRITE_DAC, key);
        if (result == ERROR_SUCCESS)
            result = RegSetKeySecurity(key.handle, DACL_SECURITY_INFORMATION, descriptor);
        LocalFree(descriptor);
        ASSERT_EQ(result, ERROR_SUCCESS);
#else
        sim::machine().setReadOnly("HKLM\\" + scratch(path));
#endif
    }

private:
#ifdef _WIN32
    // The store deletes only keys without subkeys: children first.
    static void deleteTree(HKEY parent, const std::string& path)
    {
        {
            Key key;
            DWORD count = 0;
            if (RegOpenKeyExA(parent, path.c_str(), 0, KEY_READ, &key.handle) != ERROR_SUCCESS)
                return;
            RegQueryInfoKeyA(key.handle, nullptr, nullptr, nullptr, &count, nullptr, nullptr,
                             nullptr, nullptr, nullptr, nullptr, nullptr);
            for (DWORD index = count; index-- > 0;) {
                char name[256];
                DWORD length = sizeof name;
                if (RegEnumKeyExA(key.handle, index, name, &length, nullptr, nullptr, nullptr,
                                  nullptr) == ERROR_SUCCESS)
                    deleteTree(key.handle, name);
            }
        }
        RegDeleteKeyA(parent, path.c_str());
    }
#endif
};
