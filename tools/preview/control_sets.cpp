#include "control_sets.h"

#include <algorithm>
#include <cstdio>

namespace preview {

namespace {

constexpr const char* SystemPath = "HKEY_LOCAL_MACHINE\\SYSTEM";
constexpr const char* Current = "CurrentControlSet";

// The number of a "ControlSetNNN" key (three digits, as Windows names
// them), or 0.
unsigned setNumber(const std::string& name)
{
    const std::string prefix = "CONTROLSET";
    const std::string folded = sim::upper(name);
    if (folded.size() != prefix.size() + 3 || folded.compare(0, prefix.size(), prefix) != 0)
        return 0;
    unsigned n = 0;
    for (size_t i = prefix.size(); i < folded.size(); ++i) {
        if (folded[i] < '0' || folded[i] > '9')
            return 0;
        n = n * 10 + static_cast<unsigned>(folded[i] - '0');
    }
    return n;
}

std::string setName(unsigned n)
{
    char buffer[24];
    std::snprintf(buffer, sizeof buffer, "ControlSet%03u", n);
    return buffer;
}

// HKLM\SYSTEM\Select's Current, when it is a DWORD.
bool selectCurrent(const regfile::Key& system, unsigned& n)
{
    const regfile::Key* select = system.find("Select");
    const regfile::Value* v = select ? select->value("Current") : nullptr;
    if (!v || v->type != REG_DWORD || v->data.size() != 4)
        return false;
    n = v->data[0] | (v->data[1] << 8) | (v->data[2] << 16) | (static_cast<unsigned>(v->data[3]) << 24);
    return true;
}

}  // namespace

ControlSetChoice resolveControlSets(regfile::Registry& snapshot)
{
    ControlSetChoice choice;
    regfile::Key* system = snapshot.find(SystemPath);
    if (!system)
        return choice;
    std::vector<std::pair<unsigned, std::string>> sets;  // number, name as exported
    for (const regfile::Key* k : system->children())
        if (const unsigned n = setNumber(k->name))
            sets.emplace_back(n, k->name);
    std::sort(sets.begin(), sets.end());
    if (sets.empty())
        return choice;

    unsigned selected = 0;
    const bool hasSelect = selectCurrent(*system, selected);
    auto exported = std::find_if(sets.begin(), sets.end(), [&](const auto& s) { return s.first == selected; });
    const std::string selectText = "HKLM\\SYSTEM\\Select Current = " + std::to_string(selected);

    if (system->find(Current)) {
        // The link and the set it points to, both exported: one key twice.
        if (hasSelect && exported != sets.end()) {
            choice.readAsCurrent = exported->second;
            system->remove(exported->second);
            choice.note = "CurrentControlSet, as exported; " + exported->second +
                          " is the same key (" + selectText + ") and is read once, as CurrentControlSet";
        }
        return choice;
    }

    std::string names;
    for (const auto& s : sets)
        names += (names.empty() ? "" : ", ") + s.second;
    if (hasSelect && exported != sets.end()) {
        choice.note = exported->second + " stands for CurrentControlSet (" + selectText + ")";
    } else {
        exported = sets.begin();
        if (hasSelect)
            choice.warnings.push_back(selectText + " names " + setName(selected) +
                                      ", which the snapshot lacks; " + exported->second +
                                      " was used as CurrentControlSet (the snapshot holds " + names + ")");
        else if (sets.size() > 1)
            choice.warnings.push_back("the snapshot holds the control sets " + names +
                                      " and no HKLM\\SYSTEM\\Select key to tell the current one; " +
                                      exported->second + " was used as CurrentControlSet (export "
                                      "HKLM\\SYSTEM\\Select with them, or CurrentControlSet itself)");
        choice.note = exported->second + " stands for CurrentControlSet (" +
                      (sets.size() == 1 ? std::string("the only control set in the snapshot")
                                        : "the lowest-numbered of " + names) +
                      ")";
    }
    choice.standsFor = exported->second;
    system->rename(choice.standsFor, Current);
    return choice;
}

void restoreControlSetName(regfile::Registry& registry, const ControlSetChoice& choice)
{
    regfile::Key* system = registry.find(SystemPath);
    if (!system)
        return;
    if (!choice.standsFor.empty())
        system->rename(Current, choice.standsFor);
    if (!choice.readAsCurrent.empty())
        if (const regfile::Key* current = system->find(Current)) {
            std::shared_ptr<regfile::Key> copy = sim::clone(*current);
            copy->name = choice.readAsCurrent;
            system->adopt(std::move(copy));
        }
}

}  // namespace preview
