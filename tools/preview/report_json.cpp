// The report for programs: the same facts as the text report, as JSON.
#include "report.h"
#include "report_values.h"

#include "load_machine.h"

#include <cstdio>

namespace preview {

namespace {

// JSON texts in the machine's code page: registry texts are its single
// bytes, written as the characters they stand for; `utf8` texts (file names,
// messages about the file) are passed on as they are. Called as json(text)
// or json(flag) throughout.
class JsonText {
public:
    explicit JsonText(const regfile::CodePage& codePage) : codePage_(codePage) {}

    std::string operator()(const std::string& text, bool utf8 = false) const
    {
        std::string out = "\"";
        char buffer[8];
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
                std::snprintf(buffer, sizeof buffer, "\\u%04x", static_cast<unsigned>(codePage_.toUnicode(c)));
                out += buffer;
            } else {
                out.push_back(ch);
            }
        }
        return out + "\"";
    }
    std::string operator()(const char* text) const { return (*this)(std::string(text)); }
    std::string operator()(bool b) const { return b ? "true" : "false"; }

private:
    const regfile::CodePage& codePage_;
};


template <class T, class F>
std::string jsonArray(const std::vector<T>& items, F each)
{
    std::string out = "[";
    for (size_t i = 0; i < items.size(); ++i)
        out += (i ? ", " : "") + each(items[i]);
    return out + "]";
}

std::string jsonStrings(const JsonText& json, const std::vector<std::string>& items)
{
    return jsonArray(items, [&](const std::string& s) { return json(s); });
}

std::string jsonValue(const JsonText& json, const regfile::Value& v)
{
    std::string out = "{\"type\": " + json(typeLabel(v.type)) + ", \"data\": ";
    if (v.type == REG_MULTI_SZ)
        out += jsonStrings(json, valueTexts(v));
    else if (regfile::isTextType(v.type))
        out += json(valueTexts(v).front());
    else if (v.type == REG_DWORD && v.data.size() == 4)
        out += std::to_string(v.data[0] | (v.data[1] << 8) | (v.data[2] << 16) |
                              (static_cast<uint32_t>(v.data[3]) << 24));
    else
        out += json(hexBytes(v.data, v.data.size(), ","));
    return out + "}";
}

std::string jsonKeyChange(const JsonText& json, const KeyChange& k)
{
    return "{\"path\": " + json(k.path) + ", \"keysBelow\": " + std::to_string(k.keysBelow) + "}";
}

std::string jsonValueChange(const JsonText& json, const ValueChange& c)
{
    std::string out = "{\"key\": " + json(c.keyPath) + ", \"name\": " + json(c.name);
    if (c.before)
        out += ", \"before\": " + jsonValue(json, *c.before);
    if (c.after)
        out += ", \"after\": " + jsonValue(json, *c.after);
    return out + "}";
}

std::string jsonInstall(const JsonText& json, const sim::CallRecord& r)
{
    return "{\"hardwareId\": " + json(r.text) + ", \"infPath\": " + json(r.file) +
           ", \"installed\": " + json(r.result != FALSE) + ", \"error\": " + std::to_string(r.error) +
           ", \"restart\": " + json(r.reboot != FALSE) + "}";
}

}  // namespace

std::string jsonReport(const RunResult& run, const ReportOptions& options)
{
    const JsonText json(options.codePage ? *options.codePage : regfile::CodePage::windows1252());
    const Setup& setup = run.setup;
    std::string out = "{\n";
    const Road road = roadOf(setup.windows);
    out += "  \"machine\": {\"windows\": " + json(windowsVersionName(setup.windows)) +
           ", \"family\": " + json(road.family9x ? "9x" : "NT") + ", \"road\": " + json(road.road9x ? "9x" : "NT") +
           ", \"administrator\": " + json(setup.administrator) + ", \"snapshot\": " + json(options.snapshotName, true) +
           ", \"controlSet\": " + json(options.controlSet) +
           ", \"deviceInstances\": " + jsonStrings(json, deviceInstances(run.before, NtEnumPath)) +
           ", \"attachedDevices\": " + jsonStrings(json, run.presentDevices) + ", \"files\": " + jsonStrings(json, setup.files) +
           ", \"driverInstallAsksReboot\": " + json(setup.driverInstallAsksReboot) +
           ", \"answers\": " +
           jsonArray(setup.answers, [&](sim::DialogAnswer a) { return json(sim::dialogAnswerName(a)); }) + "},\n";

    out += "  \"calls\": " + jsonArray(run.calls, [&](const CallOutcome& c) {
        const ExportInfo* info = findExport(c.exportName);
        std::string o = "\n    {\"export\": " + json(c.exportName) +
                        ", \"ordinal\": " + std::to_string(info ? info->ordinal : 0) + ", \"text\": " + json(c.text) +
                        ", \"result\": " + std::to_string(c.result) + ", \"meaning\": " + json(c.meaning);
        o += ",\n     \"dialogs\": " + jsonArray(c.dialogs, [&](const Dialog& d) {
            return "{\"caption\": " + json(d.caption) + ", \"text\": " + json(d.text) +
                   ", \"buttons\": " + jsonStrings(json, d.buttons) + ", \"result\": " +
                   std::to_string(static_cast<long long>(d.result)) + ", \"answer\": " +
                   json(dialogResultName(d.result)) + "}";
        });
        o += ",\n     \"driverInstalls\": " + jsonArray(c.driverInstalls, [&](const sim::CallRecord& r) { return jsonInstall(json, r); });
        o += ",\n     \"trace\": " + jsonStrings(json, c.trace) + "}";
        return o;
    }) + ",\n";
    out += "  \"notRun\": " + jsonStrings(json, run.notRun) + ",\n";

    const Changes changes = diff(run.before, run.after);
    out += "  \"changes\": {\n";
    out += "    \"keysDeleted\": " + jsonArray(changes.keysDeleted, [&](const KeyChange& k) { return jsonKeyChange(json, k); }) + ",\n";
    out += "    \"valuesDeleted\": " + jsonArray(changes.valuesDeleted, [&](const ValueChange& c) { return jsonValueChange(json, c); }) + ",\n";
    out += "    \"keysCreated\": " + jsonArray(changes.keysCreated, [&](const KeyChange& k) { return jsonKeyChange(json, k); }) + ",\n";
    out += "    \"valuesAdded\": " + jsonArray(changes.valuesAdded, [&](const ValueChange& c) { return jsonValueChange(json, c); }) + ",\n";
    out += "    \"valuesChanged\": " + jsonArray(changes.valuesChanged, [&](const ValueChange& c) { return jsonValueChange(json, c); }) + ",\n";
    out += "    \"deviceNodesRemoved\": " + jsonStrings(json, changes.devicesRemoved) + ",\n";
    out += "    \"deviceNodesCreated\": " + jsonStrings(json, changes.devicesCreated) + "\n  },\n";
    out += "  \"restart\": {\"needReboot\": " + json(run.rebootRequired) +
           ", \"restartMessageShown\": " + json(restartMessageShown(run)) + "},\n";
    const std::vector<VendorTrace> traces = vendorTraces(run);
    const TraceCounts counts = countTraces(traces);
    out += "  \"beyondReach\": {\"keys\": " + std::to_string(options.keysBeyondReach) +
           ", \"keyLines\": " + std::to_string(options.keyLinesBeyondReach) +
           ", \"valueLines\": " + std::to_string(options.valueLinesBeyondReach) + "},\n";
    out += "  \"vendorTraceCounts\": {\"all\": " + std::to_string(traces.size()) + ", \"beyondReach\": " +
           std::to_string(counts.beyondReach) + ", \"perUser\": " + std::to_string(counts.perUser) + "},\n";
    out += "  \"vendorTraces\": " + jsonArray(traces, [&](const VendorTrace& t) {
        std::string o = "\n    {\"key\": " + json(t.keyPath);
        if (t.valueName)
            o += ", \"value\": " + json(*t.valueName);
        if (!t.user.empty())
            o += ", \"user\": " + json(t.user);
        return o + ", \"id\": " + json(t.id) + ", \"lists\": " + jsonStrings(json, t.lists) +
               ", \"namedInTrace\": " + json(t.namedInTrace) + ", \"beyondReach\": " + json(t.beyondReach) +
               ", \"reason\": " + json(t.reason) + "}";
    }) + ",\n";
    std::vector<std::string> warnings;
    for (const auto* list : {&options.snapshotNotes, &options.snapshotWarnings})
        for (const std::string& w : *list)
            warnings.push_back(json(w, true));
    for (const std::string& w : run.warnings)
        warnings.push_back(json(w));
    out += "  \"warnings\": " + jsonArray(warnings, [](const std::string& s) { return s; }) + "\n}\n";
    return out;
}

}  // namespace preview
