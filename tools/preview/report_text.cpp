// The report for people.
#include "report.h"
#include "report_values.h"

#include "load_machine.h"

#include "devices/device_state.h"

#include <algorithm>

namespace preview {

namespace {

std::string answersLine(const Setup& setup)
{
    if (setup.answers.empty())
        return "Enter (the default button) for every dialog";
    std::string out;
    for (size_t i = 0; i < setup.answers.size(); ++i)
        out += (i ? ", " : "") + std::string(sim::dialogAnswerName(setup.answers[i]));
    return out + ", then Enter";
}

std::string installLine(const sim::CallRecord& r)
{
    std::string out = "driver install for \"" + r.text + "\" from \"" + r.file + "\": ";
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
    const Road road = roadOf(setup.windows);
    // The snapshot's name is the caller's own text; everything else comes
    // from the machine, in its code page.
    const std::string heading = "Machine: " + windowsVersionName(setup.windows) + ", " +
                                (setup.administrator ? "administrator" : "not an administrator") +
                                ", snapshot " + options.snapshotName + "\n";
    line("  road: " + road.text);
    // The road's own device tree first, the other only where it holds any;
    // devices are attached under the NT tree only.
    const auto instancesLine = [&](const char* enumPath) {
        return "  device instances: " + std::to_string(deviceInstances(run.before, enumPath).size()) + " under " +
               shortPath(enumPath) +
               (std::string_view(enumPath) == NtEnumPath ? ", " + std::to_string(run.presentDevices.size()) + " attached" : "");
    };
    const char* other = road.road9x ? NtEnumPath : Win9xEnumPath;
    line(instancesLine(road.enumPath));
    if (!deviceInstances(run.before, other).empty())
        line(instancesLine(other));
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
        for (const sim::CallRecord& r : c.driverInstalls)
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
    // Each list: its heading with the count, then one line an entry.
    const auto list = [&](const char* heading, const auto& entries, const auto& entryLine) {
        line(std::string("  ") + heading + ": " + std::to_string(entries.size()));
        for (const auto& entry : entries)
            line(entryLine(entry));
    };
    const auto valueLine = [](const ValueChange& v, const regfile::Value& value) {
        return "    " + v.keyPath + "  " + valueName(v.name) + " = " + describeValue(value);
    };
    const auto idLine = [](const std::string& id) { return "    " + id; };
    list("Keys deleted", changes.keysDeleted, keyLine);
    list("Values deleted", changes.valuesDeleted, [&](const ValueChange& v) { return valueLine(v, *v.before); });
    list("Keys created", changes.keysCreated, keyLine);
    list("Values added", changes.valuesAdded, [&](const ValueChange& v) { return valueLine(v, *v.after); });
    list("Values changed", changes.valuesChanged, [](const ValueChange& v) {
        return "    " + v.keyPath + "  " + valueName(v.name) + ": " + describeValue(*v.before) + " -> " +
               describeValue(*v.after);
    });
    list("Device nodes removed", changes.devicesRemoved, idLine);
    list("Device nodes created", changes.devicesCreated, idLine);
    size_t installs = 0;
    for (const CallOutcome& c : run.calls)
        installs += c.driverInstalls.size();
    line("  Driver installs: " + std::to_string(installs));
    for (const CallOutcome& c : run.calls)
        for (const sim::CallRecord& r : c.driverInstalls)
            line("    " + installLine(r));
    std::string restart = run.rebootRequired ? "yes: a driver install asked for one (NeedReboot answers 1)"
                                             : "no driver install asked for one (NeedReboot answers 0)";
    if (restartMessageShown(run))
        restart += "; a message told the user to restart Windows";
    line("  Restart: " + restart);

    const std::vector<VendorTrace> traces = vendorTraces(run);
    const TraceCounts counts = countTraces(traces);
    line("");
    line("Vendor traces in the registry after the run: " + std::to_string(traces.size()) +
         (counts.perUser + counts.beyondReach
              ? " (" + std::to_string(counts.beyondReach) + " beyond the library's reach under HKLM, " +
                    std::to_string(counts.perUser) + " in users' hives)"
              : std::string()));
    // HKLM's first, then each user's under a heading of its own.
    std::string user;
    for (const VendorTrace& t : traces) {
        if (t.user != user) {
            user = t.user;
            line("  per-user keys of " + user + ":");
        }
        std::string why;
        if (t.id == RootHardwareId) {
            why = "the root device's hardware id";
        } else if (t.lists.empty()) {
            why = "in no id list";
        } else {
            for (const std::string& l : t.lists)
                why += (why.empty() ? "in " : ", ") + l;
        }
        line("    " + t.keyPath + (t.valueName ? "  value " + valueName(*t.valueName) : ""));
        line("      " + t.id + ": " + why +
             (t.namedInTrace ? "; trace lines of the run name it" : "; no trace line of the run names it"));
        if (!t.reason.empty())
            line("      left because " + t.reason);
    }

    std::string text = heading + codePage.toUtf8(out);
    if (!run.warnings.empty() || !options.snapshotWarnings.empty() || !options.snapshotNotes.empty()) {
        text += "\nWarnings\n";
        for (const auto* list : {&options.snapshotNotes, &options.snapshotWarnings})
            for (const std::string& w : *list)
                text += "  " + w + "\n";
        for (const std::string& w : run.warnings)
            text += "  " + codePage.toUtf8(w) + "\n";
    }
    return text;
}

}  // namespace preview
