// What the fault sweep and the random machines share: where the vendor's
// traces live on each family, and a picture of the whole HKEY_LOCAL_MACHINE
// tree taken straight from the simulated machine (not through the registry
// calls, so taking it neither counts as a call nor trips an injected fault).
#pragma once

#include "machine.h"

#include <algorithm>
#include <map>
#include <memory>
#include <set>
#include <string>
#include <utility>
#include <vector>

namespace builders {

const std::string CurrentControlSet = "HKLM\\System\\CurrentControlSet";
// NT keeps its device tree here; the simulated setup API does too, on every family.
const std::string EnumNt = CurrentControlSet + "\\Enum";
const std::string ClassNt = CurrentControlSet + "\\Control\\Class";
// The 9x family's device tree and driver keys.
const std::string Enum9x = "HKLM\\Enum";
const std::string Class9x = CurrentControlSet + "\\Services\\Class";
const std::string Joystick9x = CurrentControlSet + "\\Control\\MediaResources\\joystick";
const std::string SettingsNt =
    CurrentControlSet + "\\Control\\MediaResources\\Joystick\\DINPUT.DLL\\JoystickSettings";
const std::string Settings9x = Joystick9x + "\\<FixedKey>\\JoystickSettings";
const std::string Oem =
    CurrentControlSet + "\\Control\\MediaProperties\\PrivateProperties\\Joystick\\OEM";
const std::string AsdProb = CurrentControlSet + "\\Control\\ASD\\Prob";
const std::string AsdSubkeys[2] = {"{9b4e7760-3196-11cf-97ea-00aa0034319d}",
                                   "{cf2524c0-29ae-11cf-97ea-00aa0034319d}"};
const std::string InterfaceClassKeys[2] = {
    CurrentControlSet + "\\Control\\DeviceClasses\\{4d1e55b2-f16f-11cf-88cb-001111000030}",
    CurrentControlSet + "\\Control\\DeviceClasses\\{a5dcbf10-6530-11d2-901f-00c04fb951ed}"};

constexpr const char* HidClassGuid = "{745A17A0-74D3-11D0-B6FE-00A0C90F57DA}";
constexpr const char* SystemClassGuid = "{4D36E97D-E325-11CE-BFC1-08002BE10318}";
// Driver installs from the vendor's INF files put the driver keys here.
constexpr const char* VendorDriverClassGuid = "{5C0A7E31-2B94-4D6F-A1E8-93F04B6C2D17}";

// The vendor's INF files at these full paths, as a machine's files.
inline sim::InfFiles vendorInfs(std::initializer_list<std::string> paths)
{
    sim::InfFiles files;
    for (const std::string& path : paths)
        files[path] = VendorDriverClassGuid;
    return files;
}

inline std::string join(const std::string& a, const std::string& b) { return a + "\\" + b; }

// True when `path` is `root` or lies below it, compared as the registry does.
inline bool isAtOrBelow(const std::string& path, const std::string& root)
{
    return path.size() >= root.size() && sim::equalNoCase(path.substr(0, root.size()), root) &&
           (path.size() == root.size() || path[root.size()] == '\\');
}

// A machine as built, to start from again and again without building it anew:
// everything a builder sets (the OS facts, the tokens, the devices present
// and the INF files) and a copy of the HKEY_LOCAL_MACHINE tree.
class MachineImage {
public:
    static MachineImage take(sim::Machine& m)
    {
        return MachineImage(m.os, m.security, m.devices, sim::clone(*m.root(HKEY_LOCAL_MACHINE)));
    }

    // The HKEY_LOCAL_MACHINE tree as it was taken.
    const sim::RegKey& hklm() const { return *hklm_; }

    void restore(sim::Machine& m) const
    {
        m.reset();
        m.os = os_;
        m.security = security_;
        m.devices = devices_;
        m.registry().roots["HKEY_LOCAL_MACHINE"] = sim::clone(*hklm_);
    }

private:
    MachineImage(sim::OsFacts os, sim::Security security, sim::Devices devices,
                 std::shared_ptr<sim::RegKey> hklm)
        : os_(std::move(os)), security_(std::move(security)), devices_(std::move(devices)), hklm_(std::move(hklm))
    {
    }
    sim::OsFacts os_;
    sim::Security security_;
    sim::Devices devices_;
    std::shared_ptr<sim::RegKey> hklm_;
};

// What changed between two trees, as written in the tree that had it.
struct RegistryDiff {
    std::vector<std::string> keysRemoved, keysAdded;
    std::vector<std::string> valuesRemoved, valuesAdded, valuesChanged;  // "path|name"
};

namespace detail {

// Every key at or below one that only one tree has, and its values.
inline void walkOnly(const sim::RegKey& key, const std::string& path, std::vector<std::string>& keys,
                     std::vector<std::string>& values)
{
    sim::forEachKey(key, path, [&](const sim::RegKey& k, const std::string& at) {
        keys.push_back(at);
        for (const sim::RegValue& v : k.values)
            values.push_back(at + "|" + v.name);
    });
}

}  // namespace detail

// What the machine's HKEY_LOCAL_MACHINE tree changed since the image was taken.
inline RegistryDiff diff(const MachineImage& before, sim::Machine& m)
{
    RegistryDiff d;
    sim::TreeChanges changes;
    changes.keyRemoved = [&](const std::string& path, const sim::RegKey& key) {
        detail::walkOnly(key, path, d.keysRemoved, d.valuesRemoved);
    };
    changes.keyAdded = [&](const std::string& path, const sim::RegKey& key) {
        detail::walkOnly(key, path, d.keysAdded, d.valuesAdded);
    };
    changes.valueRemoved = [&](const std::string& path, const sim::RegValue& v) {
        d.valuesRemoved.push_back(path + "|" + v.name);
    };
    changes.valueAdded = [&](const std::string& path, const sim::RegValue& v) {
        d.valuesAdded.push_back(path + "|" + v.name);
    };
    changes.valueChanged = [&](const std::string& path, const sim::RegValue& v, const sim::RegValue&) {
        d.valuesChanged.push_back(path + "|" + v.name);
    };
    sim::compareTrees(before.hklm(), *m.root(HKEY_LOCAL_MACHINE), "HKLM", changes);
    return d;
}

// Every key of the image at or below one of the paths ("HKLM\A\B"), as written.
inline std::vector<std::string> keysAtOrBelow(const MachineImage& image,
                                              const std::vector<std::string>& paths)
{
    std::vector<std::string> out, values;
    for (const std::string& path : paths) {
        const sim::RegKey* key = &image.hklm();
        std::string written = "HKLM";
        size_t from = path.find('\\');
        while (key && from != std::string::npos) {
            const size_t to = path.find('\\', from + 1);
            const size_t length = to == std::string::npos ? std::string::npos : to - from - 1;
            key = key->child(path.substr(from + 1, length));
            if (key)
                written = join(written, key->name);
            from = to;
        }
        if (key)
            detail::walkOnly(*key, written, out, values);
    }
    return out;
}

// The value's key: "path|name" -> path. Value names may hold "|", key names may not.
inline std::string keyOfValue(const std::string& entry) { return entry.substr(0, entry.find('|')); }

inline std::string listing(const std::vector<std::string>& items, size_t most = 12)
{
    std::string out;
    for (size_t i = 0; i < items.size() && i < most; ++i)
        out += "\n    " + items[i];
    if (items.size() > most)
        out += "\n    ... and " + std::to_string(items.size() - most) + " more";
    return out;
}

}  // namespace builders
