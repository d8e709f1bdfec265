#include "preview.h"

#include "load_machine.h"

#include "devices/driver_install.h"
#include "host/module_load.h"
#include "support/osinfo.h"
#include "support/tracers.h"

#include <algorithm>
#include <iterator>
#include <stdexcept>

namespace preview {

namespace {

std::string yesNo(LONG r, const char* yes, const char* no)
{
    if (r == 1)
        return yes;
    if (r == 0)
        return no;
    return "unexpected result";
}

// The host's window: a value such as a real window handle has. The library
// only passes it on to the setup API as a parent window.
const HWND HostWindow = reinterpret_cast<HWND>(static_cast<uintptr_t>(0x000A01F4));

// Enough answers for any script: nothing in the library shows more than
// three dialogs in one call.
constexpr size_t DefaultAnswers = 1024;

constexpr const char* NotRead = "no (or the OS facts were not read yet)";

// What each export's result means, in the report's words.
std::string (*meaningOf(int ordinal))(LONG)
{
    switch (ordinal) {
    case 1:
        return [](LONG r) -> std::string {
            return r == 0 ? "proceed with the uninstall" : r == -1 ? "stop the uninstall" : "unexpected result";
        };
    case 3:
        return [](LONG r) {
            return yesNo(r, "the root device is there with its driver",
                         "the root device is not there with its driver (see the trace)");
        };
    case 5: return [](LONG r) { return yesNo(r, "at least one root device was found", "no root device was found"); };
    case 6: case 7: case 8:
        return [](LONG r) -> std::string {
            switch (r) {
            case 0: return "at least one of the vendor's ids was found";
            case 1: return "none of the vendor's ids was found";
            case 2: return "not an administrator: nothing was done";
            }
            return "unexpected result";
        };
    case 9: return [](LONG r) { return yesNo(r, "yes: Windows 2000, XP or another version 5", NotRead); };
    case 10: return [](LONG r) { return yesNo(r, "yes: Windows Me", NotRead); };
    case 11: return [](LONG r) { return yesNo(r, "yes: Windows XP", NotRead); };
    case 12: return [](LONG r) { return yesNo(r, "yes: an administrator", "no: not an administrator"); };
    case 13:
        return [](LONG r) {
            return yesNo(r, "a driver install asked for a restart", "no driver install asked for a restart");
        };
    case 14: return [](LONG r) { return yesNo(r, "OS facts read", "the OS facts could not be read"); };
    case 15: return [](LONG r) -> std::string { return r == 0 ? "folder stored" : "unexpected result"; };
    case 16:
        return [](LONG r) {
            if (r < 0)
                return std::string("unexpected result");
            return std::to_string(r) + (r == 1 ? " root device found" : " root devices found");
        };
    }
    // UninstUnInitialize and UpdateDevices
    return [](LONG r) -> std::string { return r == 0 ? "done (always 0)" : "unexpected result"; };
}

}  // namespace

const std::vector<ExportInfo>& exportTable()
{
#define JQ_EXPORT_INFO(ordinal, name, argument, result) \
    {#name, ordinal, name, ExportArgument::argument == ExportArgument::Folder, \
     ExportArgument::argument == ExportArgument::Window, meaningOf(ordinal), result},
    static const std::vector<ExportInfo> table = {JQ_EXPORT_LIST(JQ_EXPORT_INFO)};
#undef JQ_EXPORT_INFO
    return table;
}

const ExportInfo* findExport(std::string_view name)
{
    for (const ExportInfo& e : exportTable())
        if (sim::equalNoCase(name, e.name))
            return &e;
    return nullptr;
}

std::vector<Call> removalRoad()
{
    return {Call{findExport("UninstInitialize"), ""}, Call{findExport("UninstUnInitialize"), ""}};
}

std::string dialogResultName(INT_PTR result)
{
    switch (result) {
    case 1: return "OK";
    case 2: return "closed";
    case 6: return "Yes";
    case 7: return "No";
    }
    return std::to_string(static_cast<long long>(result));
}

const WindowsRow WindowsRows[] = {
    {"95", nullptr, sim::WindowsVersion::Win95, "Windows 95 (4.0)"},
    {"98", nullptr, sim::WindowsVersion::Win98, "Windows 98 (4.10)"},
    {"me", nullptr, sim::WindowsVersion::WinMe, "Windows Me (4.90)"},
    {"nt4", nullptr, sim::WindowsVersion::NT4, "Windows NT 4.0 (4.0)"},
    {"2000", "2k", sim::WindowsVersion::Win2000, "Windows 2000 (5.0)"},
    {"xp", nullptr, sim::WindowsVersion::WinXP, "Windows XP (5.1)"},
    {"2003", nullptr, sim::WindowsVersion::Server2003, "Windows Server 2003 (5.2)"},
    {"vista", nullptr, sim::WindowsVersion::Vista, "Windows Vista (6.0)"},
    {"7", nullptr, sim::WindowsVersion::Win7, "Windows 7 (6.1)"},
    {"8", nullptr, sim::WindowsVersion::Win8, "Windows 8 (6.2)"},
    {"8.1", nullptr, sim::WindowsVersion::Win81, "Windows 8.1 (6.3)"},
    {"10", nullptr, sim::WindowsVersion::Win10, "Windows 10 (10.0)"},
    {"11", nullptr, sim::WindowsVersion::Win11, "Windows 11 (10.0)"},
};

std::string windowsWords()
{
    std::string words;
    const size_t count = std::size(WindowsRows);
    for (size_t i = 0; i < count; ++i)
        words += std::string(i == 0 ? "" : i + 1 == count ? " or " : ", ") + WindowsRows[i].word;
    return words;
}

bool parseWindowsVersion(std::string_view text, sim::WindowsVersion& version)
{
    for (const WindowsRow& row : WindowsRows)
        if (sim::equalNoCase(text, row.word) || (row.otherWord && sim::equalNoCase(text, row.otherWord))) {
            version = row.version;
            return true;
        }
    return false;
}

std::string windowsVersionName(sim::WindowsVersion version)
{
    for (const WindowsRow& row : WindowsRows)
        if (row.version == version)
            return row.name;
    return "Windows";
}

RunResult run(regfile::Registry snapshot, const Setup& setup, const std::vector<Call>& calls)
{
    // Checked before the machine is touched, so a bad setup changes nothing.
    const std::vector<std::string> present = presentInstances(snapshot, setup.absent, setup.present);

    RunResult out;
    out.setup = setup;
    out.presentDevices = present;
    out.answersGiven = setup.answers.size();

    sim::Machine& m = sim::machine();
    m.reset();
    m.setWindows(setup.windows);
    m.setAdministrator(setup.administrator);
    const bool family9x = setup.windows == sim::WindowsVersion::Win95 || setup.windows == sim::WindowsVersion::Win98 ||
                          setup.windows == sim::WindowsVersion::WinMe;
    const bool ntDevices = !deviceInstances(snapshot, NtEnumPath).empty();
    const bool devices9x = !deviceInstances(snapshot, Win9xEnumPath).empty();
    for (const std::string& root : loadRegistry(std::move(snapshot), present, m))
        out.warnings.push_back("the keys under " + root + " were left out: the simulated machine has no such root");
    if (!family9x && devices9x && !ntDevices)
        out.warnings.push_back("the snapshot keeps its devices under HKLM\\Enum, as the 9x family does, "
                               "but the run is on " + windowsVersionName(setup.windows) + " (see --windows)");
    if (family9x && ntDevices && !devices9x)
        out.warnings.push_back("the snapshot keeps its devices under HKLM\\System\\CurrentControlSet\\Enum, "
                               "as the NT family does, but the run is on " + windowsVersionName(setup.windows) +
                               " (see --windows)");
    // The INF files named are the vendor's: their drivers go under its class.
    for (const std::string& file : setup.files)
        m.devices.infFiles[file] = std::string("{") + VendorClassGuid + "}";
    m.devices.driverInstallAsksReboot = setup.driverInstallAsksReboot;
    m.dialogs.answers.assign(setup.answers.begin(), setup.answers.end());
    m.dialogs.answers.insert(m.dialogs.answers.end(), DefaultAnswers, sim::DialogAnswer::Enter);

    out.before = copyRegistry(m);

    moduleLoad();
    TraceEnabled = true;
    bool stopped = false;
    for (const Call& call : calls) {
        if (stopped) {
            out.notRun.push_back(call.info->name);
            continue;
        }
        const size_t dialogMark = m.dialogs.shown.size();

        CallOutcome outcome;
        outcome.exportName = call.info->name;
        outcome.text = call.text;
        outcome.readsText = call.info->readsText;
        outcome.result = call.info->function(HostWindow, nullptr, call.text.c_str());
        outcome.meaning = call.info->meaning(outcome.result);

        // The lines are taken over, not copied: a walk over a large Enum
        // key writes hundreds of thousands of them.
        outcome.trace = m.debugger.lines();
        m.debugger.texts.clear();
        m.debugger.texts.shrink_to_fit();
        for (size_t i = dialogMark; i < m.dialogs.shown.size(); ++i) {
            const sim::DialogRecord& d = m.dialogs.shown[i];
            outcome.dialogs.push_back(Dialog{d.caption, d.text, d.buttons(), d.result});
        }
        // The ledger holds every call of the export; only its driver installs are reported.
        for (sim::CallRecord& r : m.calls)
            if (r.call == "UpdateDriverForPlugAndPlayDevicesA")
                outcome.driverInstalls.push_back(std::move(r));
        m.calls.clear();
        m.calls.shrink_to_fit();
        if (setup.stopWhenUninstallStops && call.info->function == UninstInitialize && outcome.result == -1)
            stopped = true;
        out.calls.push_back(std::move(outcome));
    }
    TraceEnabled = false;
    for (const CallOutcome& c : out.calls)
        out.cleaningRan = out.cleaningRan ||
                          std::find(c.trace.begin(), c.trace.end(), "DELKEYS: cleanDeviceKeys") != c.trace.end();
    out.cleaningRefused = out.cleaningRan && !osIsAdmin();

    out.after = takeRegistry(m);
    out.dialogsShown = m.dialogs.shown.size();
    // Asked the way a host asks, with the trace switch off so that the
    // question leaves no line of its own.
    out.rebootRequired = NeedReboot(HostWindow, nullptr, "") == 1;

    if (m.openHandleCount() != 0 || m.openHandleCount(sim::HandleKind::Module) != 0)
        out.warnings.push_back("the library left handles open:\n" + m.openHandleReport());
    if (out.answersGiven > out.dialogsShown)
        out.warnings.push_back(std::to_string(out.answersGiven - out.dialogsShown) +
                               " of the given dialog answers were not used");
    return out;
}

}  // namespace preview
