#include "load_machine.h"

#include <algorithm>
#include <cstddef>
#include <memory>
#include <stdexcept>

namespace preview {

namespace {

const char* const MachineRoots[] = {"HKEY_CLASSES_ROOT", "HKEY_CURRENT_USER", "HKEY_LOCAL_MACHINE",
                                    "HKEY_USERS"};

void copyInto(const regfile::Key& from, sim::RegKey& to)
{
    // Only values the key held before need a look-up: the file's own
    // values are distinct already, and a key may hold very many.
    const auto held = static_cast<std::ptrdiff_t>(to.values.size());
    for (const regfile::Value* v : from.values()) {
        std::vector<BYTE> data(v->data.begin(), v->data.end());
        auto end = to.values.begin() + held;
        auto same = std::find_if(to.values.begin(), end,
                                 [&](const sim::RegValue& x) { return regfile::equalNoCase(x.name, v->name); });
        if (same != end)
            *same = sim::RegValue{same->name, v->type, std::move(data)};
        else
            to.values.push_back(sim::RegValue{v->name, v->type, std::move(data)});
    }
    for (const regfile::Key* child : from.subkeys()) {
        std::shared_ptr<sim::RegKey>& slot = to.subkeys[child->name()];
        if (!slot) {
            slot = std::make_shared<sim::RegKey>();
            slot->name = child->name();
            slot->parent = &to;
        }
        copyInto(*child, *slot);
    }
}

void copyOut(const sim::RegKey& from, regfile::Key& to)
{
    for (const sim::RegValue& v : from.values)
        to.set(regfile::Value{v.name, v.type, std::vector<uint8_t>(v.data.begin(), v.data.end())});
    for (const auto& [name, child] : from.subkeys)
        if (child && !child->deleted)
            copyOut(*child, to.ensure(child->name));
}

bool containsNoCase(const std::vector<std::string>& list, const std::string& item)
{
    return std::any_of(list.begin(), list.end(),
                       [&](const std::string& x) { return regfile::equalNoCase(x, item); });
}

}  // namespace

bool libraryReaches(std::string_view path)
{
    std::vector<std::string_view> parts;
    if (!regfile::splitKeyPath(path, parts) || regfile::rootKeyName(parts[0]) != "HKEY_LOCAL_MACHINE")
        return false;
    if (parts.size() == 1)
        return true;
    if (regfile::equalNoCase(parts[1], "Enum"))
        return true;
    if (!regfile::equalNoCase(parts[1], "SYSTEM"))
        return false;
    if (parts.size() == 2)
        return true;
    const std::string set = regfile::foldCase(parts[2]);
    return set == "CURRENTCONTROLSET" || set == "SELECT" || set.rfind("CONTROLSET", 0) == 0;
}

void graftReach(regfile::Registry& whole, regfile::Registry& after)
{
    // HKLM and HKLM\SYSTEM are reached themselves, but only for the keys
    // below them that are: those are replaced one by one.
    auto replace = [](regfile::Key& into, regfile::Key* from, const auto& reached) {
        for (regfile::Key* child : into.subkeys())
            if (reached(child->name()))
                into.remove(child->name());
        if (from)
            for (regfile::Key* child : from->subkeys())
                if (reached(child->name()))
                    into.adopt(from->take(child->name()));
    };
    regfile::Key& hklm = whole.top.ensure("HKEY_LOCAL_MACHINE");
    regfile::Key* afterHklm = after.find("HKEY_LOCAL_MACHINE");
    replace(hklm, afterHklm, [](const std::string& name) { return regfile::equalNoCase(name, "Enum"); });
    regfile::Key* afterSystem = afterHklm ? afterHklm->find("SYSTEM") : nullptr;
    regfile::Key* system = hklm.find("SYSTEM");
    if (!system && afterSystem)
        system = &hklm.ensure(afterSystem->name());
    if (system)
        replace(*system, afterSystem, [](const std::string& name) {
            return libraryReaches("HKEY_LOCAL_MACHINE\\SYSTEM\\" + name);
        });
}

std::vector<std::string> deviceInstances(const regfile::Registry& registry, const char* enumPath)
{
    std::vector<std::string> ids;
    const regfile::Key* enumKey = registry.find(enumPath);
    if (!enumKey)
        return ids;
    for (const regfile::Key* enumerator : enumKey->subkeys())
        for (const regfile::Key* device : enumerator->subkeys())
            for (const regfile::Key* instance : device->subkeys())
                ids.push_back(enumerator->name() + "\\" + device->name() + "\\" + instance->name());
    return ids;
}

std::vector<std::string> presentInstances(const regfile::Registry& registry,
                                          const std::vector<std::string>& absent,
                                          const std::vector<std::string>& present)
{
    const std::vector<std::string> all = deviceInstances(registry, NtEnumPath);
    for (const auto* named : {&absent, &present})
        for (const std::string& id : *named)
            if (!containsNoCase(all, id))
                throw std::invalid_argument("no device instance \"" + id +
                                            "\" under HKLM\\System\\CurrentControlSet\\Enum in the snapshot");

    const regfile::Key* enumKey = registry.find(NtEnumPath);
    auto hasControlKey = [&](const std::string& id) {
        const regfile::Key* instance = enumKey;
        std::vector<std::string_view> parts;
        regfile::splitKeyPath(id, parts);
        for (std::string_view part : parts)
            instance = instance ? instance->find(part) : nullptr;
        return instance && instance->find("Control");
    };
    const bool snapshotTellsPresence = std::any_of(all.begin(), all.end(), hasControlKey);

    std::vector<std::string> result;
    for (const std::string& id : all) {
        bool attached = snapshotTellsPresence ? hasControlKey(id) : true;
        if (containsNoCase(absent, id))
            attached = false;
        if (containsNoCase(present, id))
            attached = true;
        if (attached)
            result.push_back(id);
    }
    return result;
}

std::vector<std::string> loadRegistry(const regfile::Registry& registry,
                                      const std::vector<std::string>& present, sim::Machine& machine)
{
    std::vector<std::string> leftOut;
    for (const regfile::Key* root : registry.top.subkeys()) {
        sim::RegKey* target = nullptr;
        for (const char* name : MachineRoots)
            if (regfile::equalNoCase(root->name(), name))
                target = machine.findKey(name);
        if (!target) {
            leftOut.push_back(root->name());
            continue;
        }
        copyInto(*root, *target);
    }
    for (const std::string& id : present)
        machine.presentDevices.insert(id);
    return leftOut;
}

regfile::Registry readRegistry(sim::Machine& machine)
{
    regfile::Registry registry;
    for (const char* name : MachineRoots)
        if (const sim::RegKey* root = machine.findKey(name))
            if (!root->subkeys.empty() || !root->values.empty())
                copyOut(*root, registry.top.ensure(name));
    return registry;
}

}  // namespace preview
