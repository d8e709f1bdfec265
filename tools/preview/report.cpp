#include "report.h"

#include "load_machine.h"

#include "cleaning/jqpids.h"
#include "devices/device_state.h"

#include <algorithm>
#include <cstdio>
#include <set>

namespace preview {

// ------------------------------------------------------------------- diff

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

std::vector<std::string> texts(const regfile::Value& v);

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
            for (const std::string& text : texts(v))
                namedInTrace = namedInTrace || index.mentions(text);
        out.push_back(VendorTrace{shortPath(path), v.name, *id, listsHolding(*id), namedInTrace});
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
                for (const std::string& text : texts(v))
                    namedInTrace = namedInTrace || index.mentions(text);
        out.push_back(VendorTrace{shortPath(childPath), std::nullopt, *id, listsHolding(*id), namedInTrace});
    }
}

}  // namespace

bool namesVendor(std::string_view text) { return vendorIdIn(std::string(text)).has_value(); }

bool namesVendor(const regfile::Value& value)
{
    return namesVendor(value.name) || (regfile::isTextType(value.type) && namesVendor(valueText(value)));
}

std::vector<VendorTrace> vendorTraces(const regfile::Registry& registry, const std::vector<CallOutcome>& calls)
{
    std::vector<VendorTrace> out;
    const TraceIndex index(calls);
    if (const regfile::Key* hklm = registry.find("HKEY_LOCAL_MACHINE"))
        findTraces(*hklm, "HKEY_LOCAL_MACHINE", index, out);
    return out;
}

// ------------------------------------------------------------ value texts

namespace {

const char* typeName(uint32_t type)
{
    switch (type) {
    case 0: return "REG_NONE";
    case 1: return "REG_SZ";
    case 2: return "REG_EXPAND_SZ";
    case 3: return "REG_BINARY";
    case 4: return "REG_DWORD";
    case 5: return "REG_DWORD_BIG_ENDIAN";
    case 6: return "REG_LINK";
    case 7: return "REG_MULTI_SZ";
    case 8: return "REG_RESOURCE_LIST";
    case 9: return "REG_FULL_RESOURCE_DESCRIPTOR";
    case 10: return "REG_RESOURCE_REQUIREMENTS_LIST";
    case 11: return "REG_QWORD";
    }
    return nullptr;
}

std::string typeLabel(uint32_t type)
{
    if (const char* name = typeName(type))
        return name;
    char buffer[32];
    std::snprintf(buffer, sizeof buffer, "type 0x%x", type);
    return buffer;
}

// The texts of a text value: one for REG_SZ and REG_EXPAND_SZ (up to its
// first zero), each text of a REG_MULTI_SZ up to the empty one.
std::vector<std::string> texts(const regfile::Value& v)
{
    std::vector<std::string> out;
    std::string current;
    for (uint8_t b : v.data) {
        if (b != 0) {
            current.push_back(static_cast<char>(b));
            continue;
        }
        if (current.empty() && v.type == regfile::TypeMultiString)
            return out;
        out.push_back(current);
        current.clear();
        if (v.type != regfile::TypeMultiString)
            return out;
    }
    if (!current.empty() || out.empty())
        out.push_back(current);
    return out;
}

std::string hexBytes(const std::vector<uint8_t>& data, size_t limit, const char* separator)
{
    std::string out;
    char buffer[4];
    for (size_t i = 0; i < data.size() && i < limit; ++i) {
        std::snprintf(buffer, sizeof buffer, "%02x", data[i]);
        if (i)
            out += separator;
        out += buffer;
    }
    if (data.size() > limit)
        out += " ... (" + std::to_string(data.size()) + " bytes)";
    return out;
}

std::string quoted(const std::string& text) { return "\"" + text + "\""; }

}  // namespace

std::string describeValue(const regfile::Value& v)
{
    std::string out = typeLabel(v.type) + " ";
    if (regfile::isTextType(v.type)) {
        const std::vector<std::string> list = texts(v);
        for (size_t i = 0; i < list.size(); ++i)
            out += (i ? ", " : "") + quoted(list[i]);
        return out;
    }
    if (v.type == regfile::TypeDword && v.data.size() == 4) {
        char buffer[16];
        const uint32_t n = v.data[0] | (v.data[1] << 8) | (v.data[2] << 16) | (static_cast<uint32_t>(v.data[3]) << 24);
        std::snprintf(buffer, sizeof buffer, "0x%08x", n);
        return out + buffer + " (" + std::to_string(n) + ")";
    }
    return out + (v.data.empty() ? std::string("(empty)") : hexBytes(v.data, 32, " "));
}

// ------------------------------------------------------------------- text

namespace {

std::string valueName(const std::string& name) { return name.empty() ? "@ (default)" : quoted(name); }

std::string plural(size_t n, const char* one, const char* many)
{
    return std::to_string(n) + " " + (n == 1 ? one : many);
}

bool restartMessageShown(const RunResult& run)
{
    for (const CallOutcome& c : run.calls)
        for (const Dialog& d : c.dialogs)
            if (d.buttons.size() == 1 && sim::upper(d.text).find("RESTART") != std::string::npos)
                return true;
    return false;
}

std::string answersLine(const Setup& setup)
{
    if (setup.answers.empty())
        return "Enter (the default button) for every dialog";
    std::string out;
    for (size_t i = 0; i < setup.answers.size(); ++i)
        out += (i ? ", " : "") + std::string(sim::dialogAnswerName(setup.answers[i]));
    return out + ", then Enter";
}

std::string installLine(const sim::DriverInstallRecord& r)
{
    std::string out = "driver install for \"" + r.hardwareId + "\" from \"" + r.infPath + "\": ";
    if (!r.result) {
        char buffer[32];
        std::snprintf(buffer, sizeof buffer, "failed, error 0x%X", static_cast<unsigned>(r.error));
        return out + buffer;
    }
    return out + (r.reboot ? "installed, restart needed" : "installed");
}

std::string callHeading(const CallOutcome& c)
{
    std::string out = c.exportName;
    if (c.readsText || !c.text.empty())
        out += "(\"" + c.text + "\")";
    else
        out += "()";
    return out + " -> " + std::to_string(c.result) + ": " + c.meaning;
}

}  // namespace

std::string textReport(const RunResult& run, const ReportOptions& options)
{
    const Setup& setup = run.setup;
    std::string out;
    auto line = [&out](const std::string& text) { out += text + "\n"; };

    const regfile::CodePage& codePage = options.codePage ? *options.codePage : regfile::CodePage::windows1252();
    const size_t instances = deviceInstances(run.before, NtEnumPath).size();
    // The snapshot's name is the caller's own text; everything else comes
    // from the machine, in its code page.
    const std::string heading = "Machine: " + windowsVersionName(setup.windows) + ", " +
                                (setup.administrator ? "administrator" : "not an administrator") +
                                ", snapshot " + options.snapshotName + "\n";
    line("  device instances: " + std::to_string(instances) + " under HKLM\\System\\CurrentControlSet\\Enum, " +
         std::to_string(run.presentDevices.size()) + " attached");
    if (size_t old = deviceInstances(run.before, Win9xEnumPath).size())
        line("  device instances: " + std::to_string(old) + " under HKLM\\Enum");
    std::string files;
    for (const std::string& f : setup.files)
        files += (files.empty() ? "" : ", ") + f;
    line("  files: " + (files.empty() ? std::string("none") : files));
    line(std::string("  driver installs ask for a restart: ") + (setup.driverInstallAsksReboot ? "yes" : "no"));
    line("  dialog answers: " + answersLine(setup));
    if (!options.controlSet.empty())
        line("  control set: " + options.controlSet);
    if (!options.snapshotSummary.empty())
        line("  snapshot: " + options.snapshotSummary);

    for (const CallOutcome& c : run.calls) {
        line("");
        line(callHeading(c));
        for (const Dialog& d : c.dialogs) {
            std::string buttons;
            for (const std::string& b : d.buttons)
                buttons += "[" + b + "]";
            line("  dialog \"" + d.caption + "\" " + buttons + " answered " + dialogResultName(d.result) + ":");
            line("    " + d.text);
        }
        for (const sim::DriverInstallRecord& r : c.driverInstalls)
            line("  " + installLine(r));
        if (options.showTrace)
            for (const std::string& t : c.trace)
                line("  | " + t);
    }
    if (!run.notRun.empty()) {
        std::string names;
        for (const std::string& n : run.notRun)
            names += (names.empty() ? "" : ", ") + n;
        line("");
        line("Not run, because UninstInitialize stopped the uninstall: " + names);
    }

    const Changes changes = diff(run.before, run.after);
    const auto keyLine = [](const KeyChange& k) {
        return "    " + k.path +
               (k.keysBelow ? "  (and " + plural(k.keysBelow, "key", "keys") + " below)" : "");
    };
    line("");
    line("Changes");
    line("  Keys deleted: " + std::to_string(changes.keysDeleted.size()));
    for (const KeyChange& k : changes.keysDeleted)
        line(keyLine(k));
    line("  Values deleted: " + std::to_string(changes.valuesDeleted.size()));
    for (const ValueChange& v : changes.valuesDeleted)
        line("    " + v.keyPath + "  " + valueName(v.name) + " = " + describeValue(*v.before));
    line("  Keys created: " + std::to_string(changes.keysCreated.size()));
    for (const KeyChange& k : changes.keysCreated)
        line(keyLine(k));
    line("  Values added: " + std::to_string(changes.valuesAdded.size()));
    for (const ValueChange& v : changes.valuesAdded)
        line("    " + v.keyPath + "  " + valueName(v.name) + " = " + describeValue(*v.after));
    line("  Values changed: " + std::to_string(changes.valuesChanged.size()));
    for (const ValueChange& v : changes.valuesChanged)
        line("    " + v.keyPath + "  " + valueName(v.name) + ": " + describeValue(*v.before) + " -> " +
             describeValue(*v.after));
    line("  Device nodes removed: " + std::to_string(changes.devicesRemoved.size()));
    for (const std::string& id : changes.devicesRemoved)
        line("    " + id);
    line("  Device nodes created: " + std::to_string(changes.devicesCreated.size()));
    for (const std::string& id : changes.devicesCreated)
        line("    " + id);
    size_t installs = 0;
    for (const CallOutcome& c : run.calls)
        installs += c.driverInstalls.size();
    line("  Driver installs: " + std::to_string(installs));
    for (const CallOutcome& c : run.calls)
        for (const sim::DriverInstallRecord& r : c.driverInstalls)
            line("    " + installLine(r));
    std::string restart = run.rebootRequired ? "yes: a driver install asked for one (NeedReboot answers 1)"
                                             : "no driver install asked for one (NeedReboot answers 0)";
    if (restartMessageShown(run))
        restart += "; a message told the user to restart Windows";
    line("  Restart: " + restart);

    const std::vector<VendorTrace> traces = vendorTraces(run.after, run.calls);
    line("");
    line("Vendor traces in the registry after the run: " + std::to_string(traces.size()));
    for (const VendorTrace& t : traces) {
        std::string where = t.keyPath + (t.valueName ? "  value " + valueName(*t.valueName) : "");
        std::string why;
        if (t.id == RootHardwareId) {
            why = "the root device's hardware id";
        } else if (t.lists.empty()) {
            why = "in no id list";
        } else {
            for (const std::string& l : t.lists)
                why += (why.empty() ? "in " : ", ") + l;
        }
        line("    " + where);
        line("      " + t.id + ": " + why +
             (t.namedInTrace ? "; trace lines of the run name it" : "; no trace line of the run names it"));
    }

    std::string text = heading + codePage.toUtf8(out);
    if (!run.warnings.empty() || !options.snapshotWarnings.empty() || !options.snapshotNotes.empty()) {
        text += "\nWarnings\n";
        for (const std::string& w : options.snapshotNotes)
            text += "  " + w + "\n";
        for (const std::string& w : options.snapshotWarnings)
            text += "  " + w + "\n";
        for (const std::string& w : run.warnings)
            text += "  " + codePage.toUtf8(w) + "\n";
    }
    return text;
}

// ------------------------------------------------------------------- JSON

namespace {

// The machine's code page, for the length of one JSON report.
const regfile::CodePage* jsonCodePage = nullptr;

// Registry texts are single bytes of the machine's code page; `utf8` texts
// (file names, messages about the file) are passed on as they are.
std::string json(const std::string& text, bool utf8 = false)
{
    std::string out = "\"";
    char buffer[8];
    const regfile::CodePage& codePage = jsonCodePage ? *jsonCodePage : regfile::CodePage::windows1252();
    for (char ch : text) {
        const auto c = static_cast<uint8_t>(ch);
        if (c >= 0x80 && utf8) {
            out.push_back(ch);
            continue;
        }
        if (c == '"' || c == '\\') {
            out.push_back('\\');
            out.push_back(ch);
        } else if (c == '\n') {
            out += "\\n";
        } else if (c == '\r') {
            out += "\\r";
        } else if (c == '\t') {
            out += "\\t";
        } else if (c < 0x20 || c >= 0x7F) {
            std::snprintf(buffer, sizeof buffer, "\\u%04x", static_cast<unsigned>(codePage.toUnicode(c)));
            out += buffer;
        } else {
            out.push_back(ch);
        }
    }
    return out + "\"";
}

std::string json(bool b) { return b ? "true" : "false"; }

template <class T, class F>
std::string jsonArray(const std::vector<T>& items, F each)
{
    std::string out = "[";
    for (size_t i = 0; i < items.size(); ++i)
        out += (i ? ", " : "") + each(items[i]);
    return out + "]";
}

std::string jsonStrings(const std::vector<std::string>& items)
{
    return jsonArray(items, [](const std::string& s) { return json(s); });
}

std::string jsonValue(const regfile::Value& v)
{
    std::string out = "{\"type\": " + json(typeLabel(v.type)) + ", \"data\": ";
    if (v.type == regfile::TypeMultiString)
        out += jsonStrings(texts(v));
    else if (regfile::isTextType(v.type))
        out += json(texts(v).front());
    else if (v.type == regfile::TypeDword && v.data.size() == 4)
        out += std::to_string(v.data[0] | (v.data[1] << 8) | (v.data[2] << 16) |
                              (static_cast<uint32_t>(v.data[3]) << 24));
    else
        out += json(hexBytes(v.data, v.data.size(), ","));
    return out + "}";
}

std::string jsonKeyChange(const KeyChange& k)
{
    return "{\"path\": " + json(k.path) + ", \"keysBelow\": " + std::to_string(k.keysBelow) + "}";
}

std::string jsonValueChange(const ValueChange& c)
{
    std::string out = "{\"key\": " + json(c.keyPath) + ", \"name\": " + json(c.name);
    if (c.before)
        out += ", \"before\": " + jsonValue(*c.before);
    if (c.after)
        out += ", \"after\": " + jsonValue(*c.after);
    return out + "}";
}

std::string jsonInstall(const sim::DriverInstallRecord& r)
{
    return "{\"hardwareId\": " + json(r.hardwareId) + ", \"infPath\": " + json(r.infPath) +
           ", \"installed\": " + json(r.result != FALSE) + ", \"error\": " + std::to_string(r.error) +
           ", \"restart\": " + json(r.reboot != FALSE) + "}";
}

}  // namespace

std::string jsonReport(const RunResult& run, const ReportOptions& options)
{
    jsonCodePage = options.codePage;
    const Setup& setup = run.setup;
    std::string out = "{\n";
    std::vector<std::string> answers;
    for (sim::DialogAnswer a : setup.answers)
        answers.push_back(sim::dialogAnswerName(a));
    out += "  \"machine\": {\"windows\": " + json(windowsVersionName(setup.windows)) +
           ", \"administrator\": " + json(setup.administrator) + ", \"snapshot\": " + json(options.snapshotName, true) +
           ", \"controlSet\": " + json(options.controlSet) +
           ", \"deviceInstances\": " + jsonStrings(deviceInstances(run.before, NtEnumPath)) +
           ", \"attachedDevices\": " + jsonStrings(run.presentDevices) + ", \"files\": " + jsonStrings(setup.files) +
           ", \"driverInstallAsksReboot\": " + json(setup.driverInstallAsksReboot) +
           ", \"answers\": " + jsonStrings(answers) + "},\n";

    out += "  \"calls\": " + jsonArray(run.calls, [](const CallOutcome& c) {
        const ExportInfo* info = findExport(c.exportName);
        std::string o = "\n    {\"export\": " + json(c.exportName) +
                        ", \"ordinal\": " + std::to_string(info ? info->ordinal : 0) + ", \"text\": " + json(c.text) +
                        ", \"result\": " + std::to_string(c.result) + ", \"meaning\": " + json(c.meaning);
        o += ",\n     \"dialogs\": " + jsonArray(c.dialogs, [](const Dialog& d) {
            return "{\"caption\": " + json(d.caption) + ", \"text\": " + json(d.text) +
                   ", \"buttons\": " + jsonStrings(d.buttons) + ", \"result\": " +
                   std::to_string(static_cast<long long>(d.result)) + ", \"answer\": " +
                   json(dialogResultName(d.result)) + "}";
        });
        o += ",\n     \"driverInstalls\": " + jsonArray(c.driverInstalls, jsonInstall);
        o += ",\n     \"trace\": " + jsonStrings(c.trace) + "}";
        return o;
    }) + ",\n";
    out += "  \"notRun\": " + jsonStrings(run.notRun) + ",\n";

    const Changes changes = diff(run.before, run.after);
    out += "  \"changes\": {\n";
    out += "    \"keysDeleted\": " + jsonArray(changes.keysDeleted, jsonKeyChange) + ",\n";
    out += "    \"valuesDeleted\": " + jsonArray(changes.valuesDeleted, jsonValueChange) + ",\n";
    out += "    \"keysCreated\": " + jsonArray(changes.keysCreated, jsonKeyChange) + ",\n";
    out += "    \"valuesAdded\": " + jsonArray(changes.valuesAdded, jsonValueChange) + ",\n";
    out += "    \"valuesChanged\": " + jsonArray(changes.valuesChanged, jsonValueChange) + ",\n";
    out += "    \"deviceNodesRemoved\": " + jsonStrings(changes.devicesRemoved) + ",\n";
    out += "    \"deviceNodesCreated\": " + jsonStrings(changes.devicesCreated) + "\n  },\n";
    out += "  \"restart\": {\"needReboot\": " + json(run.rebootRequired) +
           ", \"restartMessageShown\": " + json(restartMessageShown(run)) + "},\n";
    out += "  \"vendorTraces\": " + jsonArray(vendorTraces(run.after, run.calls), [](const VendorTrace& t) {
        std::string o = "\n    {\"key\": " + json(t.keyPath);
        if (t.valueName)
            o += ", \"value\": " + json(*t.valueName);
        return o + ", \"id\": " + json(t.id) + ", \"lists\": " + jsonStrings(t.lists) +
               ", \"namedInTrace\": " + json(t.namedInTrace) + "}";
    }) + ",\n";
    std::vector<std::string> warnings;
    for (const auto* list : {&options.snapshotNotes, &options.snapshotWarnings})
        for (const std::string& w : *list)
            warnings.push_back(json(w, true));
    for (const std::string& w : run.warnings)
        warnings.push_back(json(w));
    out += "  \"warnings\": " + jsonArray(warnings, [](const std::string& s) { return s; }) + "\n}\n";
    jsonCodePage = nullptr;
    return out;
}

}  // namespace preview
