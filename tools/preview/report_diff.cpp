// What a run changed, and the vendor's traces left: the two comparisons
// both reports are made of.
#include "report.h"
#include "report_values.h"

#include "load_machine.h"

#include "cleaning/jqpids.h"
#include "devices/device_state.h"

#include <set>

namespace preview {

std::string shortPath(const std::string& path)
{
    static const std::pair<const char*, const char*> roots[] = {
        {"HKEY_LOCAL_MACHINE", "HKLM"}, {"HKEY_CURRENT_USER", "HKCU"},
        {"HKEY_CLASSES_ROOT", "HKCR"},  {"HKEY_USERS", "HKU"},
    };
    for (const auto& [full, brief] : roots) {
        const std::string prefix = full;
        if (path.compare(0, prefix.size(), prefix) == 0 &&
            (path.size() == prefix.size() || path[prefix.size()] == '\\'))
            return brief + path.substr(prefix.size());
    }
    return path;
}

namespace {

std::vector<std::string> missingFrom(const std::vector<std::string>& from, const std::vector<std::string>& in)
{
    std::set<std::string> folded;
    for (const std::string& id : in)
        folded.insert(sim::upper(id));
    std::vector<std::string> out;
    for (const std::string& id : from)
        if (!folded.count(sim::upper(id)))
            out.push_back(id);
    return out;
}

}  // namespace

Changes diff(const regfile::Registry& before, const regfile::Registry& after)
{
    Changes out;
    sim::TreeChanges changes;
    changes.keyRemoved = [&](const std::string& path, const regfile::Key& key) {
        out.keysDeleted.push_back(KeyChange{shortPath(path), key.descendantCount()});
    };
    changes.keyAdded = [&](const std::string& path, const regfile::Key& key) {
        out.keysCreated.push_back(KeyChange{shortPath(path), key.descendantCount()});
    };
    changes.valueRemoved = [&](const std::string& path, const regfile::Value& v) {
        out.valuesDeleted.push_back(ValueChange{path, v.name, v, std::nullopt});
    };
    changes.valueAdded = [&](const std::string& path, const regfile::Value& v) {
        out.valuesAdded.push_back(ValueChange{path, v.name, std::nullopt, v});
    };
    changes.valueChanged = [&](const std::string& path, const regfile::Value& was, const regfile::Value& is) {
        out.valuesChanged.push_back(ValueChange{path, was.name, was, is});
    };
    // The roots as keys of one top, as the registry writes them.
    sim::RegKey beforeTop, afterTop;
    for (const auto& [name, root] : before.roots)
        beforeTop.subkeys.emplace(name, root);
    for (const auto& [name, root] : after.roots)
        afterTop.subkeys.emplace(name, root);
    sim::compareTrees(beforeTop, afterTop, "", changes);
    for (auto* list : {&out.valuesDeleted, &out.valuesAdded, &out.valuesChanged})
        for (ValueChange& c : *list)
            c.keyPath = shortPath(c.keyPath);
    for (const char* enumPath : {NtEnumPath, Win9xEnumPath}) {
        const auto was = deviceInstances(before, enumPath);
        const auto is = deviceInstances(after, enumPath);
        for (std::string& id : missingFrom(was, is))
            out.devicesRemoved.push_back(std::move(id));
        for (std::string& id : missingFrom(is, was))
            out.devicesCreated.push_back(std::move(id));
    }
    return out;
}

// ---------------------------------------------------------- vendor traces

namespace {

const char* const VendorIdText = "VID_2F7A&PID_";

struct IdList {
    const char* name;
    const char* const* entries;
    size_t count;
};

const IdList Lists[] = {
    {"UsbVidPids", UsbVidPids, UsbVidPidCount},
    {"UsbVidPidsShort", UsbVidPidsShort, UsbVidPidShortCount},
    {"PedalVidPids", PedalVidPids, PedalVidPidCount},
    {"AuxVidPids", AuxVidPids, AuxVidPidCount},
    {"AnalogVidPids", AnalogVidPids, AnalogVidPidCount},
    {"UpdateVidPids", UpdateVidPids, UpdateVidPidCount},
};

// The vendor's id named in a text: the vendor/product id (upper case),
// else the root hardware id, else nothing.
std::optional<std::string> vendorIdIn(const std::string& text)
{
    const std::string folded = sim::upper(text);
    const size_t at = folded.find(VendorIdText);
    if (at != std::string::npos)
        return folded.substr(at, VidPidLength);
    if (folded.find(sim::upper(RootHardwareId)) != std::string::npos)
        return std::string(RootHardwareId);
    return std::nullopt;
}

std::vector<std::string> listsHolding(const std::string& id)
{
    std::vector<std::string> names;
    for (const IdList& list : Lists)
        for (size_t i = 0; i < list.count; ++i)
            if (id == list.entries[i]) {
                names.push_back(list.name);
                break;
            }
    return names;
}

std::string valueText(const regfile::Value& v)
{
    if (!regfile::isTextType(v.type))
        return std::string();
    std::string text(v.data.begin(), v.data.end());
    std::replace(text.begin(), text.end(), '\0', ' ');
    return text;
}

// Every trace line of the run, upper-cased, for looking names up in: one
// text, the lines apart, so that a long trace is held once more, not as
// many small strings again.
class TraceIndex {
public:
    explicit TraceIndex(const std::vector<CallOutcome>& calls)
    {
        size_t size = 0;
        for (const CallOutcome& c : calls)
            for (const std::string& line : c.trace)
                size += line.size() + 1;
        lines_.reserve(size);
        for (const CallOutcome& c : calls)
            for (const std::string& line : c.trace)
                lines_ += sim::upper(line) + '\n';
    }

    bool mentions(const std::string& text) const
    {
        if (text.empty() || text.find('\n') != std::string::npos)
            return false;
        return lines_.find(sim::upper(text)) != std::string::npos;
    }

private:
    std::string lines_;
};

// The user, the reach and the reason are filled in by vendorTraces.
VendorTrace trace(std::string keyPath, std::optional<std::string> valueName, const std::string& id, bool namedInTrace)
{
    VendorTrace t;
    t.keyPath = std::move(keyPath);
    t.valueName = std::move(valueName);
    t.id = id;
    t.lists = listsHolding(id);
    t.namedInTrace = namedInTrace;
    return t;
}

void findTraces(const regfile::Key& key, const std::string& path, const TraceIndex& index,
                std::vector<VendorTrace>& out)
{
    for (const regfile::Value& v : key.values) {
        std::optional<std::string> id = vendorIdIn(v.name);
        if (!id)
            id = vendorIdIn(valueText(v));
        if (!id)
            continue;
        bool namedInTrace = index.mentions(v.name);
        if (regfile::isTextType(v.type))
            for (const std::string& text : valueTexts(v))
                namedInTrace = namedInTrace || index.mentions(text);
        out.push_back(trace(shortPath(path), v.name, *id, namedInTrace));
    }
    for (const regfile::Key* child : key.children()) {
        const std::string childPath = path + "\\" + child->name;
        std::optional<std::string> id = vendorIdIn(child->name);
        if (!id) {
            findTraces(*child, childPath, index, out);
            continue;
        }
        // A key may be judged by one of its texts rather than by its name,
        // as a device-interface key is by its DeviceInstance value.
        bool namedInTrace = index.mentions(child->name);
        for (const regfile::Value& v : child->values)
            if (regfile::isTextType(v.type))
                for (const std::string& text : valueTexts(v))
                    namedInTrace = namedInTrace || index.mentions(text);
        out.push_back(trace(shortPath(childPath), std::nullopt, *id, namedInTrace));
    }
}

}  // namespace

bool namesVendor(std::string_view text) { return vendorIdIn(std::string(text)).has_value(); }

bool namesVendor(const regfile::Value& value)
{
    return namesVendor(value.name) || (regfile::isTextType(value.type) && namesVendor(valueText(value)));
}

namespace {

bool below(const std::string& path, const char* folder)
{
    const std::string prefix = sim::upper(folder) + "\\";
    return sim::upper(path).compare(0, prefix.size(), prefix) == 0;
}

// The first reason that holds, from the widest to the narrowest.
std::string reasonFor(const VendorTrace& t, const RunResult& run, bool road9x)
{
    if (!t.user.empty())
        return "a per-user key: the library cleans HKEY_LOCAL_MACHINE only";
    if (t.beyondReach)
        return "outside HKLM\\SYSTEM\\CurrentControlSet and HKLM\\Enum, where the library never looks";
    if (!run.cleaningRan)
        return "no cleaning ran: none of the exports called cleans the registry";
    if (run.cleaningRefused)
        return "the user is not an administrator: the cleaning answered 2 and cleaned nothing";
    const std::string control = "HKLM\\System\\CurrentControlSet\\Control\\";
    if (!road9x && (below(t.keyPath, (control + "DeviceClasses").c_str()) || below(t.keyPath, (control + "ASD").c_str())))
        return "the NT road does not clean DeviceClasses and ASD (the 9x road does)";
    if (t.id != RootHardwareId && t.lists.empty())
        return "a product id of the vendor that no id list holds";
    return "";
}

}  // namespace

std::vector<VendorTrace> vendorTraces(const RunResult& run)
{
    std::vector<VendorTrace> out;
    const TraceIndex index(run.calls);
    if (const regfile::Key* hklm = run.after.find("HKEY_LOCAL_MACHINE"))
        findTraces(*hklm, "HKEY_LOCAL_MACHINE", index, out);
    for (VendorTrace& t : out)
        t.beyondReach = !libraryReaches(t.keyPath);
    // Each user's hive: the one logged on, then every one loaded under HKU.
    const auto perUser = [&](const regfile::Key& hive, const std::string& path, const std::string& user) {
        const size_t first = out.size();
        findTraces(hive, path, index, out);
        for (size_t i = first; i < out.size(); ++i)
            out[i].user = user;
    };
    if (const regfile::Key* hkcu = run.after.find("HKEY_CURRENT_USER"))
        perUser(*hkcu, "HKEY_CURRENT_USER", "HKCU");
    if (const regfile::Key* users = run.after.find("HKEY_USERS"))
        for (const regfile::Key* hive : users->children())
            perUser(*hive, "HKEY_USERS\\" + hive->name, "HKU\\" + hive->name);
    const bool road9x = roadOf(run.setup.windows).road9x;
    for (VendorTrace& t : out)
        t.reason = reasonFor(t, run, road9x);
    return out;
}

TraceCounts countTraces(const std::vector<VendorTrace>& traces)
{
    TraceCounts counts;
    for (const VendorTrace& t : traces) {
        counts.perUser += t.user.empty() ? 0 : 1;
        counts.beyondReach += t.beyondReach ? 1 : 0;
    }
    return counts;
}

}  // namespace preview
