// Contract cases about device nodes: the test registers, lists and removes
// nodes with setup API calls alone, the way Windows' enumerators leave them,
// and the product finds and removes them. Natively the simulated machine is
// new for every case; under Wine every case removes the nodes it made (and
// any that an earlier, interrupted run left) before and after it runs.
#pragma once

#include "contract_fixture.h"
#include "host/module_load.h"

#include <algorithm>
#include <memory>
#include <string>
#include <vector>

#ifdef _WIN32
#include <fstream>
#endif

namespace contract {

const GUID SystemClass = {
    0x4D36E97D, 0xE325, 0x11CE, {0xBF, 0xC1, 0x08, 0x00, 0x2B, 0xE1, 0x03, 0x18}};
const GUID UsbClass = {
    0x36FC9E60, 0xC465, 0x11CF, {0x80, 0x56, 0x44, 0x45, 0x53, 0x54, 0x00, 0x00}};
const GUID HidClass = {
    0x745A17A0, 0x74D3, 0x11D0, {0xB6, 0xFE, 0x00, 0xA0, 0xC9, 0x0F, 0x57, 0xDA}};
const GUID VendorClass = {
    0x5C0A7E31, 0x2B94, 0x4D6F, {0xA1, 0xE8, 0x93, 0xF0, 0x4B, 0x6C, 0x2D, 0x17}};

// The setup API as the test uses it, bound from the system's setupapi.dll
// at run time as the product binds it, so that the cross-built tests need
// no import library and the simulator's loader serves the native ones.
class SetupApi {
public:
    SetupApi()
    {
        char dir[MAX_PATH] = {};
        const UINT length = GetSystemDirectoryA(dir, MAX_PATH);
        module_ = LoadLibraryA((std::string(dir, length) + "\\setupapi.dll").c_str());
        if (!module_)
            return;
        bind(GetClassDevs, "SetupDiGetClassDevsA");
        bind(EnumDeviceInfo, "SetupDiEnumDeviceInfo");
        bind(GetProperty, "SetupDiGetDeviceRegistryPropertyA");
        bind(SetProperty, "SetupDiSetDeviceRegistryPropertyA");
        bind(CreateList, "SetupDiCreateDeviceInfoList");
        bind(CreateInfo, "SetupDiCreateDeviceInfoA");
        bind(CallClassInstaller, "SetupDiCallClassInstaller");
        bind(RemoveDevice, "SetupDiRemoveDevice");
        bind(DeleteInfo, "SetupDiDeleteDeviceInfo");
        bind(DestroyList, "SetupDiDestroyDeviceInfoList");
        bind(GetInstanceId, "SetupDiGetDeviceInstanceIdA");
    }
    SetupApi(const SetupApi&) = delete;
    SetupApi& operator=(const SetupApi&) = delete;
    ~SetupApi()
    {
        if (module_)
            FreeLibrary(module_);
    }

    bool bound() const
    {
        return GetClassDevs && EnumDeviceInfo && GetProperty && SetProperty && CreateList &&
               CreateInfo && CallClassInstaller && RemoveDevice && DeleteInfo && DestroyList &&
               GetInstanceId;
    }

    decltype(&::SetupDiGetClassDevsA) GetClassDevs = nullptr;
    decltype(&::SetupDiEnumDeviceInfo) EnumDeviceInfo = nullptr;
    decltype(&::SetupDiGetDeviceRegistryPropertyA) GetProperty = nullptr;
    decltype(&::SetupDiSetDeviceRegistryPropertyA) SetProperty = nullptr;
    decltype(&::SetupDiCreateDeviceInfoList) CreateList = nullptr;
    decltype(&::SetupDiCreateDeviceInfoA) CreateInfo = nullptr;
    decltype(&::SetupDiCallClassInstaller) CallClassInstaller = nullptr;
    decltype(&::SetupDiRemoveDevice) RemoveDevice = nullptr;
    decltype(&::SetupDiDeleteDeviceInfo) DeleteInfo = nullptr;
    decltype(&::SetupDiDestroyDeviceInfoList) DestroyList = nullptr;
    decltype(&::SetupDiGetDeviceInstanceIdA) GetInstanceId = nullptr;

private:
    template <class Function>
    void bind(Function& function, const char* name)
    {
        function =
            reinterpret_cast<Function>(reinterpret_cast<void*>(GetProcAddress(module_, name)));
    }

    HMODULE module_ = nullptr;
};

// A device information set with its one owner.
class DeviceSet {
public:
    DeviceSet(const SetupApi& api, HDEVINFO handle) : api_(api), handle_(handle) {}
    DeviceSet(const DeviceSet&) = delete;
    DeviceSet& operator=(const DeviceSet&) = delete;
    ~DeviceSet()
    {
        if (valid())
            api_.DestroyList(handle_);
    }
    HDEVINFO get() const { return handle_; }
    bool valid() const { return handle_ != INVALID_HANDLE_VALUE; }

private:
    const SetupApi& api_;
    HDEVINFO handle_;
};

struct Device {
    std::string instanceId;  // upper case, as Windows keeps it
    std::string hardwareId;  // the first one, as written
    bool operator==(const Device& other) const
    {
        return instanceId == other.instanceId && hardwareId == other.hardwareId;
    }
};

inline std::string upper(std::string text)
{
    for (char& c : text)
        if (c >= 'a' && c <= 'z')
            c = static_cast<char>(c - 'a' + 'A');
    return text;
}

inline std::ostream& operator<<(std::ostream& out, const Device& d)
{
    return out << d.instanceId << "|" << d.hardwareId;
}

}  // namespace contract

class SetupApiContractTest : public ContractTest {
protected:
    using Device = contract::Device;
    using Devices = std::vector<Device>;

    void SetUp() override
    {
        ContractTest::SetUp();
        // The module as just loaded, as DllMain leaves it: the cross-built
        // tests link the product in, so nothing else runs its load.
        moduleLoad();
        api_ = std::make_unique<contract::SetupApi>();
        ASSERT_TRUE(api_->bound());
        removeTestDevices();
    }

    void TearDown() override
    {
        removeTestDevices();
        removeInfFolder();
        api_.reset();
        ContractTest::TearDown();
    }

    // Registers a node with a full instance id ("USB\VID_2F7A&PID_00A1\1")
    // and its hardware ids, as a bus driver's enumeration would.
    void registerDevice(const std::string& instanceId, const GUID& classGuid,
                        const std::vector<std::string>& hardwareIds)
    {
        const contract::SetupApi& api = *api_;
        contract::DeviceSet set(api, api.CreateList(&classGuid, nullptr));
        ASSERT_TRUE(set.valid()) << instanceId << " error " << GetLastError();
        SP_DEVINFO_DATA element = {};
        element.cbSize = sizeof element;
        ASSERT_TRUE(api.CreateInfo(set.get(), instanceId.c_str(), &classGuid, nullptr, nullptr, 0,
                                   &element))
            << instanceId << " error " << GetLastError();
        std::string list;
        for (const std::string& id : hardwareIds)
            list += id + '\0';
        list += '\0';
        ASSERT_TRUE(api.SetProperty(set.get(), &element, SPDRP_HARDWAREID,
                                    reinterpret_cast<const BYTE*>(list.data()),
                                    static_cast<DWORD>(list.size())))
            << instanceId << " error " << GetLastError();
        ASSERT_TRUE(api.CallClassInstaller(DIF_REGISTERDEVICE, set.get(), &element))
            << instanceId << " error " << GetLastError();
    }

    // Every node the setup API selects for the enumerator ("USB", a device
    // id, "ROOT\SYSTEM"), present or not, in instance id order.
    Devices devicesUnder(const std::string& enumerator) const
    {
        return listed(api_->GetClassDevs(nullptr, enumerator.c_str(), nullptr, DIGCF_ALLCLASSES));
    }

    // The nodes of the System setup class, as the root device scan sees them.
    Devices systemDevices() const
    {
        return listed(api_->GetClassDevs(&contract::SystemClass, nullptr, nullptr, DIGCF_PRESENT));
    }

    // The node's Driver property (the key of its installed driver), empty
    // when it has none.
    std::string driverOf(const std::string& instanceId) const
    {
        const contract::SetupApi& api = *api_;
        const std::string deviceId = instanceId.substr(0, instanceId.rfind('\\'));
        contract::DeviceSet set(
            api, api.GetClassDevs(nullptr, deviceId.c_str(), nullptr, DIGCF_ALLCLASSES));
        SP_DEVINFO_DATA element = {};
        element.cbSize = sizeof element;
        for (DWORD index = 0; set.valid() && api.EnumDeviceInfo(set.get(), index, &element);
             ++index) {
            char id[512] = {};
            if (!api.GetInstanceId(set.get(), &element, id, sizeof id, nullptr) ||
                contract::upper(id) != contract::upper(instanceId))
                continue;
            char driver[256] = {};
            if (api.GetProperty(set.get(), &element, SPDRP_DRIVER, nullptr,
                                reinterpret_cast<BYTE*>(driver), sizeof driver - 1, nullptr))
                return driver;
        }
        return std::string();
    }

    static Devices rootDevicesIn(const Devices& devices)
    {
        Devices out;
        for (const Device& d : devices)
            if (d.hardwareId == "root\\jq_pilotdeck")
                out.push_back(d);
        return out;
    }

    // The folder the installation program would give, holding the root
    // device's INF, as a Windows path.
    std::string infFolderWithRootInf()
    {
        const std::string folder = "C:\\JQContractTest Inf";
        const std::string inf = folder + "\\JQDRV2K3.INF";
#ifdef _WIN32
        CreateDirectoryA(folder.c_str(), nullptr);
        std::ofstream file(inf, std::ios::binary);
        file << RootDeviceInf;
        file.close();
        infFolder_ = folder;
#else
        sim::machine().devices.infFiles[inf] = "{4D36E97D-E325-11CE-BFC1-08002BE10318}";  // its ClassGuid
#endif
        return folder;
    }

    const contract::SetupApi& api() const { return *api_; }

private:
    Devices listed(HDEVINFO handle) const
    {
        const contract::SetupApi& api = *api_;
        contract::DeviceSet set(api, handle);
        Devices devices;
        if (!set.valid())
            return devices;
        SP_DEVINFO_DATA element = {};
        element.cbSize = sizeof element;
        for (DWORD index = 0; api.EnumDeviceInfo(set.get(), index, &element); ++index) {
            char id[512] = {};
            if (!api.GetInstanceId(set.get(), &element, id, sizeof id, nullptr))
                continue;
            BYTE ids[1024] = {};
            if (!api.GetProperty(set.get(), &element, SPDRP_HARDWAREID, nullptr, ids,
                                 sizeof ids - 2, nullptr))
                ids[0] = 0;
            devices.push_back({contract::upper(id), reinterpret_cast<const char*>(ids)});
        }
        std::sort(devices.begin(), devices.end(),
                  [](const Device& a, const Device& b) { return a.instanceId < b.instanceId; });
        return devices;
    }

    // Every enumerator the cases use; nothing of Wine's own lies under them.
    void removeTestDevices()
    {
        if (!api_ || !api_->bound())
            return;
        for (const char* enumerator :
             {"USB\\VID_2F7A&PID_00A1", "USB\\VID_2F7A&PID_00A1&MI_00", "USB\\VID_2F7A&PID_1A24",
              "USB\\VID_2F7A&PID_C26B", "USB\\VID_045E&PID_0027", "HID\\VID_2F7A&PID_00A1",
              "JOVEX\\VID_2F7A&PID_1A24", "ROOT\\SYSTEM"}) {
            const contract::SetupApi& api = *api_;
            contract::DeviceSet set(
                api, api.GetClassDevs(nullptr, enumerator, nullptr, DIGCF_ALLCLASSES));
            if (!set.valid())
                continue;
            SP_DEVINFO_DATA element = {};
            element.cbSize = sizeof element;
            for (DWORD index = 0; api.EnumDeviceInfo(set.get(), index, &element); ++index)
                api.RemoveDevice(set.get(), &element);
        }
    }

    void removeInfFolder()
    {
#ifdef _WIN32
        if (infFolder_.empty())
            return;
        DeleteFileA((infFolder_ + "\\JQDRV2K3.INF").c_str());
        RemoveDirectoryA(infFolder_.c_str());
        infFolder_.clear();
#endif
    }

#ifdef _WIN32
    // What Wine's driver install reads: a System-class driver for the root
    // hardware id that needs no file of its own.
    static constexpr const char* RootDeviceInf =
        "[Version]\r\nSignature=\"$Windows NT$\"\r\nClass=System\r\n"
        "ClassGuid={4D36E97D-E325-11CE-BFC1-08002BE10318}\r\nProvider=Jovex\r\n"
        "DriverVer=05/14/2004,1.0.0.0\r\n\r\n"
        "[Manufacturer]\r\nJovex=Pilotdeck,NTx86,NTamd64\r\n\r\n"
        "[Pilotdeck]\r\n%Root%=RootDevice_Install,root\\jq_pilotdeck\r\n\r\n"
        "[Pilotdeck.NTx86]\r\n%Root%=RootDevice_Install,root\\jq_pilotdeck\r\n\r\n"
        "[Pilotdeck.NTamd64]\r\n%Root%=RootDevice_Install,root\\jq_pilotdeck\r\n\r\n"
        "[RootDevice_Install]\r\n\r\n[RootDevice_Install.Services]\r\nAddService=,2\r\n\r\n"
        "[Strings]\r\nRoot=\"Pilotdeck root device\"\r\n";
    std::string infFolder_;
#endif
    std::unique_ptr<contract::SetupApi> api_;
};

// Wine answers to wine_get_version in ntdll; Windows and the simulator do not.
inline bool runningOnWine()
{
#ifdef _WIN32
    HMODULE ntdll = GetModuleHandleA("ntdll.dll");
    return ntdll && GetProcAddress(ntdll, "wine_get_version") != nullptr;
#else
    return false;
#endif
}
