#include "load_machine.h"

#include <algorithm>
#include <cstddef>
#include <memory>
#include <stdexcept>
#include <utility>

namespace preview {

namespace {

bool containsNoCase(const std::vector<std::string>& list, const std::string& item)
{
    return std::any_of(list.begin(), list.end(),
                       [&](const std::string& x) { return sim::equalNoCase(x, item); });
}

}  // namespace

bool libraryReaches(std::string_view path)
{
    std::vector<std::string_view> parts;
    if (!regfile::splitKeyPath(path, parts) || regfile::rootKeyName(parts[0]) != "HKEY_LOCAL_MACHINE")
        return false;
    if (parts.size() == 1)
        return true;
    if (sim::equalNoCase(parts[1], "Enum"))
        return true;
    if (!sim::equalNoCase(parts[1], "SYSTEM"))
        return false;
    if (parts.size() == 2)
        return true;
    const std::string set = sim::upper(parts[2]);
    return set == "CURRENTCONTROLSET" || set == "SELECT" || set.rfind("CONTROLSET", 0) == 0;
}

void graftReach(regfile::Registry& whole, regfile::Registry& after)
{
    // HKLM and HKLM\SYSTEM are reached themselves, but only for the keys
    // below them that are: those are replaced one by one.
    auto replace = [](regfile::Key& into, regfile::Key* from, const auto& reached) {
        for (regfile::Key* child : into.children())
            if (reached(child->name))
                into.remove(child->name);
        if (from)
            for (regfile::Key* child : from->children())
                if (reached(child->name))
                    into.adopt(from->take(child->name));
    };
    regfile::Key& hklm = whole.ensureRoot("HKEY_LOCAL_MACHINE");
    regfile::Key* afterHklm = after.find("HKEY_LOCAL_MACHINE");
    replace(hklm, afterHklm, [](const std::string& name) { return sim::equalNoCase(name, "Enum"); });
    regfile::Key* afterSystem = afterHklm ? afterHklm->find("SYSTEM") : nullptr;
    regfile::Key* system = hklm.find("SYSTEM");
    if (!system && afterSystem)
        system = &hklm.ensure(afterSystem->name);
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
    for (const regfile::Key* enumerator : enumKey->children())
        for (const regfile::Key* device : enumerator->children())
            for (const regfile::Key* instance : device->children())
                ids.push_back(enumerator->name + "\\" + device->name + "\\" + instance->name);
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

std::vector<std::string> loadRegistry(regfile::Registry snapshot, const std::vector<std::string>& present,
                                      sim::Machine& machine)
{
    std::vector<std::string> leftOut;
    sim::Registry& registry = machine.registry();
    for (auto& [name, root] : snapshot.roots) {
        auto slot = registry.roots.find(name);
        if (slot == registry.roots.end())
            leftOut.push_back(root->name);
        else
            slot->second = std::move(root);
    }
    for (const std::string& id : present)
        machine.devices.present.insert(id);
    return leftOut;
}

regfile::Registry copyRegistry(sim::Machine& machine)
{
    regfile::Registry copy;
    for (const auto& [name, root] : machine.registry().roots)
        if (!root->subkeys.empty() || !root->values.empty())
            copy.roots.emplace(name, sim::clone(*root));
    return copy;
}

regfile::Registry takeRegistry(sim::Machine& machine)
{
    regfile::Registry taken;
    for (auto& [name, root] : machine.registry().roots) {
        if (root->subkeys.empty() && root->values.empty())
            continue;
        auto empty = std::make_shared<sim::RegKey>();
        empty->name = root->name;
        taken.roots.emplace(name, std::exchange(root, std::move(empty)));
    }
    return taken;
}

}  // namespace preview
