// The setup API and newdev calls, over the devices of the machine.
//
// A device is an instance key HKLM\System\CurrentControlSet\Enum\<enumerator>
// \<device id>\<instance> that has a ClassGUID value; the machine's
// Devices::present says which of them are attached. A device information set
// is a handle of kind DevInfo whose payload lists its elements. These calls
// work on the machine's key tree directly, as the PnP manager does, not
// through the Reg* calls, so they neither count as registry calls nor open
// registry handles.
#include "guid_text.h"
#include "sim_internal.h"

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

using sim::machine;

namespace {

using sim::ClassPath;
using sim::EnumPath;

// ------------------------------------------------------------------- GUIDs

std::string guidText(const GUID& g)
{
    char text[39];
    std::snprintf(text, sizeof text, "{%08X-%04X-%04X-%02X%02X-%02X%02X%02X%02X%02X%02X}",
                  static_cast<unsigned>(g.Data1), g.Data2, g.Data3, g.Data4[0], g.Data4[1],
                  g.Data4[2], g.Data4[3], g.Data4[4], g.Data4[5], g.Data4[6], g.Data4[7]);
    return text;
}

bool sameGuid(const GUID& a, const GUID& b) { return std::memcmp(&a, &b, sizeof(GUID)) == 0; }

// ------------------------------------------------------------ sets

// A devnode handle stays the same for one instance id, as long as the
// machine runs.
DWORD devInstFor(const std::string& instanceId)
{
    return static_cast<DWORD>(std::hash<std::string>()(sim::upper(instanceId)) & 0x7FFFFFFF) | 1;
}

struct Element {
    std::string instanceId;  // "ROOT\SYSTEM\0000"
    GUID classGuid{};
    DWORD devInst = 0;
    ULONG_PTR serial = 0;          // kept in SP_DEVINFO_DATA.Reserved to find the element again
    bool registered = true;        // false from SetupDiCreateDeviceInfoA until DIF_REGISTERDEVICE
    // Properties set before registration, kept as the instance key will keep them.
    std::unique_ptr<sim::RegKey> pending = std::make_unique<sim::RegKey>();
};

struct DevInfoSet {
    std::optional<GUID> classGuid;
    std::vector<Element> elements;
    ULONG_PTR nextSerial = 1;

    Element& add(const std::string& instanceId, const GUID& elementClass, bool registered)
    {
        elements.push_back(
            Element{instanceId, elementClass, devInstFor(instanceId), nextSerial++, registered});
        return elements.back();
    }
};

// How the calls on a set begin: the call recorded, then failed by an
// injected fault or by a handle that names no set (null, with the error set).
DevInfoSet* startCall(sim::CallRecord call, HDEVINFO handle)
{
    if (sim::failWithInjectedFault(std::move(call)))
        return nullptr;
    sim::Handle* h = machine().findHandle(handle, sim::HandleKind::DevInfo);
    if (!h)
        return sim::failWith<DevInfoSet*>(ERROR_INVALID_HANDLE, nullptr);
    return static_cast<DevInfoSet*>(h->payload.get());
}

// The element a caller's record names, or null with the error set.
Element* findElement(DevInfoSet& set, const SP_DEVINFO_DATA* data)
{
    if (!data || data->cbSize != sizeof(SP_DEVINFO_DATA))
        return sim::failWith<Element*>(ERROR_INVALID_PARAMETER, nullptr);
    for (Element& e : set.elements)
        if (e.serial == data->Reserved)
            return &e;
    return sim::failWith<Element*>(ERROR_INVALID_PARAMETER, nullptr);
}

// The same for the calls on one element of a set: an unknown handle fails
// before a wrong record.
Element* startCall(sim::CallRecord call, HDEVINFO handle, const SP_DEVINFO_DATA* data)
{
    DevInfoSet* set = startCall(std::move(call), handle);
    return set ? findElement(*set, data) : nullptr;
}

void describe(const Element& e, SP_DEVINFO_DATA* data)
{
    data->ClassGuid = e.classGuid;
    data->DevInst = e.devInst;
    data->Reserved = e.serial;
}

HDEVINFO newSet(std::optional<GUID> classGuid, DevInfoSet** out)
{
    auto set = std::make_shared<DevInfoSet>();
    set->classGuid = classGuid;
    *out = set.get();
    return machine().addHandle(sim::HandleKind::DevInfo, "device information set", set);
}

// ------------------------------------------------------- instance keys

std::string instanceKeyPath(const std::string& instanceId)
{
    return sim::joinPath(EnumPath, instanceId);
}

// The class of an instance key, when it has a ClassGUID that reads as one.
std::optional<GUID> classOf(const sim::RegKey& instance)
{
    const sim::RegValue* v = instance.value("ClassGUID");
    GUID g{};
    if (!v || (v->type != REG_SZ && v->type != REG_EXPAND_SZ) ||
        !sim::parseGuidText(sim::firstString(*v), g))
        return std::nullopt;
    return g;
}

// Deletes a key and everything below it; handles still open on any of them
// fail from now on, as on Windows.
void deleteTree(sim::RegKey* key)
{
    std::function<void(sim::RegKey&)> mark = [&](sim::RegKey& k) {
        k.deleted = true;
        for (auto& [name, child] : k.subkeys)
            mark(*child);
    };
    mark(*key);
    if (key->parent)
        key->parent->take(sim::subkeyIndex(*key));
}

// Removes one device the way the PnP manager does: its instance key, its
// driver key, and the device key above it once no instance is left.
bool removeDevice(const std::string& instanceId)
{
    sim::Machine& m = machine();
    sim::RegKey* instance = m.findKey(instanceKeyPath(instanceId));
    if (!instance)
        return false;
    if (const sim::RegValue* driver = instance->value("Driver")) {
        const std::string driverKey = sim::firstString(*driver);
        if (!driverKey.empty())
            if (sim::RegKey* key = m.findKey(sim::joinPath(ClassPath, driverKey)))
                deleteTree(key);
    }
    sim::RegKey* deviceKey = instance->parent;
    deleteTree(instance);
    if (deviceKey && deviceKey->subkeys.empty())
        deleteTree(deviceKey);
    m.devices.present.erase(instanceId);
    return true;
}

// ------------------------------------------------------------ properties

struct PropertyInfo {
    DWORD code;
    const char* valueName;
    DWORD type;
    bool writable;
};

const PropertyInfo properties[] = {
    {SPDRP_DEVICEDESC, "DeviceDesc", REG_SZ, true},
    {SPDRP_HARDWAREID, "HardwareID", REG_MULTI_SZ, true},
    {SPDRP_COMPATIBLEIDS, "CompatibleIDs", REG_MULTI_SZ, true},
    {SPDRP_SERVICE, "Service", REG_SZ, true},
    {SPDRP_CLASS, "Class", REG_SZ, false},
    {SPDRP_CLASSGUID, "ClassGUID", REG_SZ, false},
    {SPDRP_DRIVER, "Driver", REG_SZ, false},
    {SPDRP_MFG, "Mfg", REG_SZ, false},
    {SPDRP_FRIENDLYNAME, "FriendlyName", REG_SZ, true},
};

const PropertyInfo* findProperty(DWORD code)
{
    for (const PropertyInfo& p : properties)
        if (p.code == code)
            return &p;
    return nullptr;
}

// Where an element's property values live: its instance key once it is
// registered (null when the device is gone), its own pending key before.
sim::RegKey* propertyKey(const Element& e)
{
    return e.registered ? machine().findKey(instanceKeyPath(e.instanceId)) : e.pending.get();
}

// ------------------------------------------------------------ enumeration

// The device keys an enumerator text selects: every device key of every
// enumerator (no text), of one enumerator ("USB"), or one device id
// ("USB\VID_2F7A&PID_00A1"). Null when the text names nothing on the machine.
std::optional<std::vector<sim::RegKey*>> deviceKeysFor(const char* enumerator)
{
    std::vector<sim::RegKey*> deviceKeys;
    sim::RegKey* enumKey = machine().findKey(EnumPath);
    if (!enumerator) {
        if (enumKey)
            for (auto& [e, enumeratorKey] : enumKey->subkeys)
                for (auto& [d, deviceKey] : enumeratorKey->subkeys)
                    deviceKeys.push_back(deviceKey.get());
        return deviceKeys;
    }
    const std::string text = enumerator;
    if (text.empty() || text.front() == '\\' || text.back() == '\\')
        return std::nullopt;
    sim::RegKey* key = machine().findKey(sim::joinPath(EnumPath, text));
    if (!key)
        return std::nullopt;
    const size_t separators = static_cast<size_t>(std::count(text.begin(), text.end(), '\\'));
    if (separators == 0) {
        for (auto& [d, deviceKey] : key->subkeys)
            deviceKeys.push_back(deviceKey.get());
    } else if (separators == 1) {
        deviceKeys.push_back(key);
    } else {
        return std::nullopt;  // an instance id is not an enumerator
    }
    return deviceKeys;
}

}  // namespace

HDEVINFO WINAPI SetupDiGetClassDevsA(const GUID* ClassGuid, PCSTR Enumerator, HWND hwndParent,
                                     DWORD Flags)
{
    const sim::Answer outcome{__func__};
    sim::CallRecord record{"SetupDiGetClassDevsA", hwndParent, Flags};
    record.text = Enumerator ? Enumerator : "";
    if (sim::failWithInjectedFault(std::move(record)))
        return outcome(INVALID_HANDLE_VALUE);
    if (Flags & DIGCF_DEVICEINTERFACE)
        return outcome(sim::failWith(ERROR_INVALID_FLAGS, INVALID_HANDLE_VALUE));  // not simulated
    const bool allClasses = (Flags & DIGCF_ALLCLASSES) != 0;
    if (!allClasses && !ClassGuid)
        return outcome(sim::failWith(ERROR_INVALID_PARAMETER, INVALID_HANDLE_VALUE));
    // Windows asks the PnP manager for the enumerator's device ids first,
    // and an enumerator it does not know fails that request.
    auto deviceKeys = deviceKeysFor(Enumerator);
    if (!deviceKeys)
        return outcome(sim::failWith(ERROR_INVALID_DATA, INVALID_HANDLE_VALUE));

    sim::Machine& m = machine();
    DevInfoSet* set = nullptr;
    HDEVINFO handle = newSet(allClasses ? std::nullopt : std::optional<GUID>(*ClassGuid), &set);
    for (sim::RegKey* deviceKey : *deviceKeys) {
        for (auto& [i, instance] : deviceKey->subkeys) {
            const std::optional<GUID> classGuid = classOf(*instance);
            if (!classGuid || (!allClasses && !sameGuid(*classGuid, *ClassGuid)))
                continue;
            const std::string instanceId =
                deviceKey->parent->name + "\\" + deviceKey->name + "\\" + instance->name;
            if ((Flags & DIGCF_PRESENT) && !m.devices.present.count(instanceId))
                continue;
            set->add(instanceId, *classGuid, true);
        }
    }
    return outcome(handle);
}

BOOL WINAPI SetupDiEnumDeviceInfo(HDEVINFO DeviceInfoSet, DWORD MemberIndex,
                                  PSP_DEVINFO_DATA DeviceInfoData)
{
    const sim::Answer outcome{__func__};
    DevInfoSet* set = startCall(sim::CallRecord{__func__}, DeviceInfoSet);
    if (!set)
        return outcome(FALSE);
    if (!DeviceInfoData || DeviceInfoData->cbSize != sizeof(SP_DEVINFO_DATA))
        return outcome(sim::failWith(ERROR_INVALID_USER_BUFFER, FALSE));
    if (MemberIndex >= set->elements.size())
        return outcome(sim::failWith(ERROR_NO_MORE_ITEMS, FALSE));
    describe(set->elements[MemberIndex], DeviceInfoData);
    return outcome(TRUE);
}

BOOL WINAPI SetupDiGetDeviceRegistryPropertyA(HDEVINFO DeviceInfoSet,
                                              PSP_DEVINFO_DATA DeviceInfoData, DWORD Property,
                                              PDWORD PropertyRegDataType, PBYTE PropertyBuffer,
                                              DWORD PropertyBufferSize, PDWORD RequiredSize)
{
    const sim::Answer outcome{__func__};
    Element* e = startCall(sim::CallRecord{__func__, nullptr, Property, PropertyBufferSize},
                           DeviceInfoSet, DeviceInfoData);
    if (!e)
        return outcome(FALSE);
    const PropertyInfo* p = findProperty(Property);
    if (!p)
        return outcome(sim::failWith(ERROR_INVALID_REG_PROPERTY, FALSE));
    if (!PropertyBuffer && PropertyBufferSize != 0)
        return outcome(sim::failWith(ERROR_INVALID_PARAMETER, FALSE));
    const sim::RegKey* key = propertyKey(*e);
    if (!key)
        return outcome(sim::failWith(ERROR_NO_SUCH_DEVINST, FALSE));
    const sim::RegValue* v = key->value(p->valueName);
    if (!v)
        return outcome(sim::failWith(ERROR_INVALID_DATA, FALSE));
    const DWORD size = static_cast<DWORD>(v->data.size());
    if (PropertyRegDataType)
        *PropertyRegDataType = v->type;
    if (RequiredSize)
        *RequiredSize = size;
    if (PropertyBufferSize < size)
        return outcome(sim::failWith(ERROR_INSUFFICIENT_BUFFER, FALSE));
    if (size)
        std::memcpy(PropertyBuffer, v->data.data(), size);
    return outcome(TRUE);
}

BOOL WINAPI SetupDiSetDeviceRegistryPropertyA(HDEVINFO DeviceInfoSet,
                                              PSP_DEVINFO_DATA DeviceInfoData, DWORD Property,
                                              const BYTE* PropertyBuffer, DWORD PropertyBufferSize)
{
    const sim::Answer outcome{__func__};
    sim::CallRecord record{"SetupDiSetDeviceRegistryPropertyA", nullptr, Property,
                           PropertyBufferSize};
    if (PropertyBuffer)
        record.text.assign(reinterpret_cast<const char*>(PropertyBuffer), PropertyBufferSize);
    Element* e = startCall(std::move(record), DeviceInfoSet, DeviceInfoData);
    if (!e)
        return outcome(FALSE);
    const PropertyInfo* p = findProperty(Property);
    if (!p || !p->writable)
        return outcome(sim::failWith(ERROR_INVALID_REG_PROPERTY, FALSE));
    if (!PropertyBuffer && PropertyBufferSize != 0)
        return outcome(sim::failWith(ERROR_INVALID_PARAMETER, FALSE));

    sim::RegKey* key = propertyKey(*e);
    if (!key)
        return outcome(sim::failWith(ERROR_NO_SUCH_DEVINST, FALSE));
    key->set(sim::RegValue{p->valueName, p->type,
                           std::vector<BYTE>(PropertyBuffer, PropertyBuffer + PropertyBufferSize)});
    return outcome(TRUE);
}

HDEVINFO WINAPI SetupDiCreateDeviceInfoList(const GUID* ClassGuid, HWND hwndParent)
{
    const sim::Answer outcome{__func__};
    if (sim::failWithInjectedFault(sim::CallRecord{"SetupDiCreateDeviceInfoList", hwndParent}))
        return outcome(INVALID_HANDLE_VALUE);
    DevInfoSet* set = nullptr;
    return outcome(newSet(ClassGuid ? std::optional<GUID>(*ClassGuid) : std::nullopt, &set));
}

BOOL WINAPI SetupDiCreateDeviceInfoA(HDEVINFO DeviceInfoSet, PCSTR DeviceName,
                                     const GUID* ClassGuid, PCSTR, HWND hwndParent,
                                     DWORD CreationFlags, PSP_DEVINFO_DATA DeviceInfoData)
{
    const sim::Answer outcome{__func__};
    sim::CallRecord record{"SetupDiCreateDeviceInfoA", hwndParent, CreationFlags};
    record.text = DeviceName ? DeviceName : "";
    DevInfoSet* set = startCall(std::move(record), DeviceInfoSet);
    if (!set)
        return outcome(FALSE);
    if (!DeviceName || !*DeviceName || !ClassGuid)
        return outcome(sim::failWith(ERROR_INVALID_PARAMETER, FALSE));
    if (CreationFlags & ~static_cast<DWORD>(DICD_GENERATE_ID | DICD_INHERIT_CLASSDRVS))
        return outcome(sim::failWith(ERROR_INVALID_FLAGS, FALSE));
    if (set->classGuid && !sameGuid(*set->classGuid, *ClassGuid))
        return outcome(sim::failWith(ERROR_CLASS_MISMATCH, FALSE));
    if (DeviceInfoData && DeviceInfoData->cbSize != sizeof(SP_DEVINFO_DATA))
        return outcome(sim::failWith(ERROR_INVALID_USER_BUFFER, FALSE));

    std::string instanceId;
    if (CreationFlags & DICD_GENERATE_ID) {
        const std::string name = DeviceName;
        if (name.find('\\') != std::string::npos)
            return outcome(sim::failWith(ERROR_INVALID_DEVINST_NAME, FALSE));
        // ROOT\<NAME>\nnnn with the lowest number that no device and no
        // element of this set waiting for registration holds yet.
        const std::string deviceId = "ROOT\\" + sim::upper(name);
        for (int n = 0; n <= 9999 && instanceId.empty(); ++n) {
            char number[12];
            std::snprintf(number, sizeof number, "%04d", n);
            const std::string candidate = deviceId + "\\" + number;
            bool taken = machine().deviceExists(candidate);
            for (const Element& e : set->elements)
                taken = taken || sim::equalNoCase(e.instanceId, candidate);
            if (!taken)
                instanceId = candidate;
        }
        if (instanceId.empty())
            return outcome(sim::failWith(ERROR_DEVINST_ALREADY_EXISTS, FALSE));
    } else {
        instanceId = DeviceName;
        if (std::count(instanceId.begin(), instanceId.end(), '\\') != 2)
            return outcome(sim::failWith(ERROR_INVALID_DEVINST_NAME, FALSE));
        if (machine().deviceExists(instanceId))
            return outcome(sim::failWith(ERROR_DEVINST_ALREADY_EXISTS, FALSE));
    }

    Element& added = set->add(instanceId, *ClassGuid, false);
    if (DeviceInfoData)
        describe(added, DeviceInfoData);
    return outcome(TRUE);
}

namespace {

// SetupDiRemoveDevice and DIF_REMOVE alike. The element stays in the set,
// describing a device that is gone.
BOOL removeElement(const Element& e)
{
    if (!e.registered || !removeDevice(e.instanceId))
        return sim::failWith(ERROR_NO_SUCH_DEVINST, FALSE);
    return TRUE;
}

}  // namespace

BOOL WINAPI SetupDiRemoveDevice(HDEVINFO DeviceInfoSet, PSP_DEVINFO_DATA DeviceInfoData)
{
    const sim::Answer outcome{__func__};
    Element* e = startCall(sim::CallRecord{__func__}, DeviceInfoSet, DeviceInfoData);
    if (!e)
        return outcome(FALSE);
    return outcome(removeElement(*e));
}

BOOL WINAPI SetupDiCallClassInstaller(DI_FUNCTION InstallFunction, HDEVINFO DeviceInfoSet,
                                      PSP_DEVINFO_DATA DeviceInfoData)
{
    const sim::Answer outcome{__func__};
    DevInfoSet* set = startCall(sim::CallRecord{__func__, nullptr, InstallFunction}, DeviceInfoSet);
    if (!set)
        return outcome(FALSE);
    // 64-bit Windows runs no class installer for a 32-bit caller, whatever
    // the request. SetupDiRemoveDevice documents no such refusal, so it is
    // not refused here either.
    if (machine().os.runningInWow64)
        return outcome(sim::failWith(ERROR_IN_WOW64, FALSE));

    if (InstallFunction != DIF_REMOVE && InstallFunction != DIF_REGISTERDEVICE)
        return outcome(sim::failWith(ERROR_CALL_NOT_IMPLEMENTED, FALSE));  // not simulated
    Element* e = findElement(*set, DeviceInfoData);
    if (!e)
        return outcome(FALSE);
    if (InstallFunction == DIF_REMOVE)
        return outcome(removeElement(*e));
    if (e->registered)
        return outcome(TRUE);
    if (machine().deviceExists(e->instanceId))
        return outcome(sim::failWith(ERROR_DEVINST_ALREADY_EXISTS, FALSE));
    sim::Machine& m = machine();
    const std::string key = instanceKeyPath(e->instanceId);
    m.createKey(key);
    m.setString(key, "ClassGUID", guidText(e->classGuid));
    for (sim::RegValue& v : e->pending->values)
        m.setValue(key, v.name, v.type, v.data);
    e->pending->values.clear();
    e->registered = true;
    // A root-enumerated device is started as soon as it is registered.
    m.devices.present.insert(e->instanceId);
    return outcome(TRUE);
}

BOOL WINAPI SetupDiDeleteDeviceInfo(HDEVINFO DeviceInfoSet, PSP_DEVINFO_DATA DeviceInfoData)
{
    const sim::Answer outcome{__func__};
    DevInfoSet* set = startCall(sim::CallRecord{__func__}, DeviceInfoSet);
    Element* e = set ? findElement(*set, DeviceInfoData) : nullptr;
    if (!e)
        return outcome(FALSE);
    set->elements.erase(set->elements.begin() + (e - set->elements.data()));
    return outcome(TRUE);
}

BOOL WINAPI SetupDiDestroyDeviceInfoList(HDEVINFO DeviceInfoSet)
{
    const sim::Answer outcome{__func__};
    if (sim::failWithInjectedFault("SetupDiDestroyDeviceInfoList"))
        return outcome(FALSE);
    if (!machine().closeHandle(DeviceInfoSet, sim::HandleKind::DevInfo))
        return outcome(sim::failWith(ERROR_INVALID_HANDLE, FALSE));
    return outcome(TRUE);
}

BOOL WINAPI SetupDiGetDeviceInstanceIdA(HDEVINFO DeviceInfoSet, PSP_DEVINFO_DATA DeviceInfoData,
                                        PSTR DeviceInstanceId, DWORD DeviceInstanceIdSize,
                                        PDWORD RequiredSize)
{
    const sim::Answer outcome{__func__};
    Element* e = startCall(sim::CallRecord{__func__}, DeviceInfoSet, DeviceInfoData);
    if (!e)
        return outcome(FALSE);
    const DWORD size = static_cast<DWORD>(e->instanceId.size() + 1);
    if (RequiredSize)
        *RequiredSize = size;
    if (!DeviceInstanceId || DeviceInstanceIdSize < size)
        return outcome(sim::failWith(ERROR_INSUFFICIENT_BUFFER, FALSE));
    std::memcpy(DeviceInstanceId, e->instanceId.c_str(), size);
    return outcome(TRUE);
}

// ------------------------------------------------------------------ newdev

namespace {

// The present devices that carry the hardware id among their hardware ids,
// compared as Windows compares them: without regard to case.
std::vector<std::string> presentDevicesWith(const std::string& hardwareId)
{
    std::vector<std::string> found;
    sim::Machine& m = machine();
    for (const std::string& instanceId : m.devices.present) {
        sim::RegKey* instance = m.findKey(instanceKeyPath(instanceId));
        const sim::RegValue* ids = instance ? instance->value("HardwareID") : nullptr;
        if (!ids || ids->type != REG_MULTI_SZ)
            continue;
        for (const std::string& id : sim::multiStrings(*ids)) {
            if (sim::equalNoCase(id, hardwareId)) {
                found.push_back(instanceId);
                break;
            }
        }
    }
    return found;
}

// Points the device at a driver key of the INF's setup class: its own when
// it has one there already, else the next free number.
void installDriverOn(const std::string& instanceId, const std::string& setupClass)
{
    sim::Machine& m = machine();
    const std::string instanceKey = instanceKeyPath(instanceId);
    const std::string classKey = sim::joinPath(ClassPath, setupClass);
    const std::optional<std::string> current = m.stringValue(instanceKey, "Driver");
    const std::string prefix = setupClass + "\\";
    if (current && current->size() > prefix.size() &&
        sim::equalNoCase(current->substr(0, prefix.size()), prefix) &&
        m.keyExists(sim::joinPath(ClassPath, *current)))
        return;
    std::string driver;
    for (int n = 0; n <= 9999 && driver.empty(); ++n) {
        char number[12];
        std::snprintf(number, sizeof number, "%04d", n);
        if (!m.keyExists(sim::joinPath(classKey, number)))
            driver = prefix + number;
    }
    // The old driver's key goes with the old driver.
    if (current && !current->empty())
        if (sim::RegKey* old = m.findKey(sim::joinPath(ClassPath, *current)))
            deleteTree(old);
    m.createKey(sim::joinPath(ClassPath, driver));
    m.setString(instanceKey, "Driver", driver);
}

}  // namespace

BOOL WINAPI UpdateDriverForPlugAndPlayDevicesA(HWND hwndParent, LPCSTR HardwareId,
                                               LPCSTR FullInfPath, DWORD InstallFlags,
                                               PBOOL bRebootRequired)
{
    const sim::Answer outcome{__func__};
    sim::CallRecord call{"UpdateDriverForPlugAndPlayDevicesA", hwndParent, InstallFlags};
    call.text = HardwareId ? HardwareId : "";
    call.file = FullInfPath ? FullInfPath : "";
    if (sim::failWithInjectedFault(std::move(call)))
        return outcome(FALSE);
    sim::Machine& m = machine();
    const size_t entry = m.calls.size() - 1;  // this call's, in the ledger
    if (!HardwareId || !FullInfPath)
        return outcome(sim::failWith(ERROR_INVALID_PARAMETER, FALSE));
    if (InstallFlags & ~static_cast<DWORD>(INSTALLFLAG_FORCE | INSTALLFLAG_READONLY |
                                           INSTALLFLAG_NONINTERACTIVE))
        return outcome(sim::failWith(ERROR_INVALID_FLAGS, FALSE));
    if (m.os.runningInWow64)
        return outcome(sim::failWith(ERROR_IN_WOW64, FALSE));
    const auto inf = m.devices.infFiles.find(FullInfPath);
    if (inf == m.devices.infFiles.end())
        return outcome(sim::failWith(ERROR_FILE_NOT_FOUND, FALSE));
    const std::vector<std::string> devices = presentDevicesWith(HardwareId);
    if (devices.empty())
        return outcome(sim::failWith(ERROR_NO_SUCH_DEVINST, FALSE));

    for (const std::string& instanceId : devices)
        installDriverOn(instanceId, inf->second);
    // Windows writes the flag only when a restart is needed: the caller clears it.
    if (m.devices.driverInstallAsksReboot) {
        m.calls[entry].reboot = TRUE;
        if (bRebootRequired)
            *bRebootRequired = TRUE;
    }
    m.lastError = ERROR_SUCCESS;
    return outcome(TRUE);
}
