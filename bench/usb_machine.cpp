#include "usb_machine.h"

#include "cleaning/jqpids.h"
#include "machine.h"

#include <algorithm>
#include <cstdio>
#include <memory>

namespace bench {

namespace {

const char* const Enum9xPath = "Enum\\USB";
const char* const Class9xPath = "System\\CurrentControlSet\\Services\\Class";
const char* const EnumNtPath = "System\\CurrentControlSet\\Enum\\USB";
const char* const ClassNtPath = "System\\CurrentControlSet\\Control\\Class";
const char* const HidClassGuid = "{745A17A0-74D3-11D0-B6FE-00A0C90F57DA}";

std::string hklm(const std::string& path) { return "HKLM\\" + path; }

std::string format(const char* pattern, unsigned number)
{
    char text[64];
    std::snprintf(text, sizeof text, pattern, number);
    return text;
}

// Other vendors' ids, spread over the id range so that the vendor's keys
// stand among them in the walk rather than all at its end.
std::string otherDeviceKey(size_t index)
{
    char text[32];
    std::snprintf(text, sizeof text, "VID_%04X&PID_%04X",
                  0x0403 + static_cast<unsigned>(index % 50) * 0x0523,
                  static_cast<unsigned>(index / 50));
    return text;
}

// The first key of each product is its plain device id; further keys of
// the same product are interfaces of a composite device, as Windows names
// them, since names must differ and there are only so many products.
std::string vendorDeviceKey(size_t index)
{
    std::string name = UsbVidPids[index % UsbVidPidCount];
    if (index >= UsbVidPidCount)
        name += format("&MI_%02X", static_cast<unsigned>(index / UsbVidPidCount));
    return name;
}

bool isVendorSlot(size_t index) { return index % 100 == 99; }

// Machine::createKey finds every parent by its path; a hundred thousand
// keys are built much faster straight into the tree, and in sorted order
// the end of the parent's map is the right place to add them.
sim::RegKey& addSubkey(sim::RegKey& parent, const std::string& name)
{
    auto key = std::make_shared<sim::RegKey>();
    key->name = name;
    key->parent = &parent;
    auto it = parent.subkeys.emplace_hint(parent.subkeys.end(), name, key);
    return *it->second;
}

void addString(sim::RegKey& key, const std::string& name, const std::string& text)
{
    std::vector<BYTE> data(text.begin(), text.end());
    data.push_back(0);
    key.values.push_back(sim::RegValue{name, REG_SZ, std::move(data)});
}

void addMultiString(sim::RegKey& key, const std::string& name, const std::string& text)
{
    std::vector<BYTE> data(text.begin(), text.end());
    data.push_back(0);
    data.push_back(0);
    key.values.push_back(sim::RegValue{name, REG_MULTI_SZ, std::move(data)});
}

struct Planned {
    std::string name;
    size_t index;  // place among all keys, before sorting
    bool vendors;
};

// Every 100th key is the vendor's; the list comes in the order a walk
// meets the names.
std::vector<Planned> planKeys(size_t keys)
{
    std::vector<Planned> plan;
    plan.reserve(keys);
    size_t vendor = 0;
    size_t other = 0;
    for (size_t index = 0; index < keys; ++index) {
        if (isVendorSlot(index)) {
            plan.push_back({vendorDeviceKey(vendor++), index, true});
        } else {
            plan.push_back({otherDeviceKey(other++), index, false});
        }
    }
    std::sort(plan.begin(), plan.end(), [](const Planned& a, const Planned& b) {
        return sim::CaseInsensitiveLess()(a.name, b.name);
    });
    return plan;
}

}  // namespace

UsbMachine buildUsbMachine(Family family, size_t keys)
{
    sim::Machine& m = sim::machine();
    m.reset();
    m.setWindows(family == Family::Win9x ? sim::WindowsVersion::Win98 : sim::WindowsVersion::WinXP);
    m.setAdministrator(true);

    UsbMachine built;
    built.family = family;
    built.enumPath = family == Family::Win9x ? Enum9xPath : EnumNtPath;
    built.classPath = family == Family::Win9x ? Class9xPath : ClassNtPath;
    built.keys = keys;

    const std::vector<Planned> plan = planKeys(keys);
    sim::RegKey& enumKey = *m.createKey(hklm(built.enumPath));
    sim::RegKey& classKey = *m.createKey(hklm(built.classPath));

    // The device keys first, all of them, then their instances: so the
    // simulated registry keeps a key's subkeys side by side in memory, as a
    // hive keeps a key's subkey list. Made in any other order they scatter
    // over the heap among everything else, and a walk pays cache and TLB
    // misses per key that grow with the machine: a cost of the simulator's
    // memory, not of the program walking it.
    std::vector<sim::RegKey*> deviceKeys;
    deviceKeys.reserve(plan.size());
    for (const Planned& key : plan)
        deviceKeys.push_back(&addSubkey(enumKey, key.name));

    if (family == Family::Win9x) {
        sim::RegKey& media = addSubkey(classKey, "MEDIA");
        for (size_t i = 0; i < plan.size(); ++i) {
            const Planned& key = plan[i];
            sim::RegKey& instance =
                addSubkey(*deviceKeys[i], format("7&%X&0&1", static_cast<unsigned>(key.index)));
            if (!key.vendors) {
                addString(instance, "Driver", format("USB\\%04X", static_cast<unsigned>(key.index)));
                continue;
            }
            // Driver keys by the order of the vendor's keys in the walk.
            const std::string number = format("%04u", static_cast<unsigned>(built.vendorKeys.size()));
            addString(instance, "Driver", "MEDIA\\" + number);
            addSubkey(media, number);
            built.vendorKeys.push_back(key.name);
            built.vendorDrivers.push_back("MEDIA\\" + number);
        }
    } else {
        sim::RegKey& driverClass = addSubkey(classKey, HidClassGuid);
        for (size_t i = 0; i < plan.size(); ++i) {
            const Planned& key = plan[i];
            const std::string instanceName = format("7&%X&0&1", static_cast<unsigned>(key.index));
            const std::string number = format("%06u", static_cast<unsigned>(i));
            sim::RegKey& instance = addSubkey(*deviceKeys[i], instanceName);
            addMultiString(instance, "HardwareID", "USB\\" + key.name);
            addString(instance, "ClassGUID", HidClassGuid);
            addString(instance, "Driver", std::string(HidClassGuid) + "\\" + number);
            addSubkey(driverClass, number);
            if (key.index % 3 == 0)
                m.presentDevices.insert("USB\\" + key.name + "\\" + instanceName);
            if (key.vendors)
                built.vendorKeys.push_back(key.name);
        }
    }

    built.keysLeftAfterCleaning = keys - built.vendorKeys.size();
    return built;
}

std::string checkCleaned(const UsbMachine& built)
{
    sim::Machine& m = sim::machine();
    const sim::RegKey* enumKey = m.findKey(hklm(built.enumPath));
    const size_t left = enumKey ? enumKey->subkeys.size() : 0;
    if (left != built.keysLeftAfterCleaning)
        return "device keys left: " + std::to_string(left) + ", expected " +
               std::to_string(built.keysLeftAfterCleaning);
    if (built.family == Family::Win9x) {
        for (const std::string& driver : built.vendorDrivers)
            if (m.keyExists(hklm(built.classPath + "\\" + driver)))
                return "driver key left: " + driver;
    }
    for (const std::string& name : built.vendorKeys)
        if (m.keyExists(hklm(built.enumPath + "\\" + name)))
            return "vendor key left: " + name;
    return std::string();
}

}  // namespace bench
