#include "cli.h"

#include "control_sets.h"
#include "load_machine.h"
#include "report.h"

#include <algorithm>
#include <cstdlib>
#include <fstream>
#include <ostream>
#include <string_view>

namespace preview {

namespace {

std::vector<std::string> splitList(const std::string& text)
{
    std::vector<std::string> items;
    size_t start = 0;
    while (true) {
        const size_t comma = text.find(',', start);
        items.push_back(text.substr(start, comma == std::string::npos ? std::string::npos : comma - start));
        if (comma == std::string::npos)
            return items;
        start = comma + 1;
    }
}

Call parseCall(const std::string& arg)
{
    const size_t eq = arg.find('=');
    const std::string name = arg.substr(0, eq);
    const ExportInfo* info = findExport(name);
    if (!info) {
        std::string names;
        for (const ExportInfo& e : exportTable())
            names += (names.empty() ? "" : ", ") + std::string(e.name);
        throw UsageError("unknown export \"" + name + "\"; the exports are: " + names);
    }
    return Call{info, eq == std::string::npos ? std::string() : arg.substr(eq + 1)};
}

// Only what the library can reach is loaded, and elsewhere only what names
// the vendor's devices, for the traces left: a whole-HKLM export is mostly
// other keys.
regfile::ReadOptions snapshotReading(bool strict, const regfile::CodePage* codePage)
{
    regfile::ReadOptions reading(strict, codePage);
    reading.keepKey = [](std::string_view path) { return libraryReaches(path) || namesVendor(path); };
    reading.keepValue = [](const regfile::Value& v) { return namesVendor(v); };
    return reading;
}

bool writeFile(const std::string& path, const std::string& bytes)
{
    std::ofstream file(path, std::ios::binary | std::ios::trunc);
    file.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
    file.close();
    return static_cast<bool>(file);
}

void setSnapshot(Options& o, const std::string& path)
{
    if (o.snapshotPath)
        throw UsageError("two snapshots given: \"" + *o.snapshotPath + "\" and \"" + path + "\"");
    o.snapshotPath = path;
}

// The options, in the order the help text lists them: the names, the value
// an option takes (none: a switch), its help lines, and what it sets.
struct OptionRow {
    const char* names;     // "-q, --quiet"
    const char* argument;  // "FILE"; null: the option takes no value
    const char* help;      // lines separated by '\n'
    void (*apply)(Options& options, const std::string& value);
};

const OptionRow OptionTable[] = {
    {"--snapshot", "FILE", "the snapshot, for a file whose name does not end in .reg", setSnapshot},
    {"--windows", "VERSION", "95, 98, me, nt4, 2000, xp (the default), 2003, vista,\n"
                             "7, 8, 8.1, 10 or 11",
     [](Options& o, const std::string& v) {
         if (!parseWindowsVersion(v, o.setup.windows))
             throw UsageError("unknown Windows version \"" + v + "\"; use " + windowsWords());
     }},
    {"--not-admin", nullptr, "the user is not an administrator",
     [](Options& o, const std::string&) { o.setup.administrator = false; }},
    {"--answer", "A[,A]...",
     "answers to the dialogs in turn: yes, no, ok, enter,\n"
     "escape or close (the close box); dialogs beyond them\n"
     "are answered with enter (the default button)",
     [](Options& o, const std::string& v) {
         for (const std::string& item : splitList(v)) {
             sim::DialogAnswer a;
             if (!sim::parseDialogAnswer(item, a))
                 throw UsageError("unknown dialog answer \"" + item + "\"; use yes, no, ok, enter, escape or close");
             o.setup.answers.push_back(a);
         }
     }},
    {"--absent", "INSTANCE",
     "this NT device instance is not attached (repeatable),\n"
     "e.g. USB\\VID_2F7A&PID_00A1\\6&2c9a1b3&0&1",
     [](Options& o, const std::string& v) { o.setup.absent.push_back(v); }},
    {"--present", "INSTANCE", "this NT device instance is attached (repeatable)",
     [](Options& o, const std::string& v) { o.setup.present.push_back(v); }},
    {"--file", "PATH",
     "a file that exists, such as C:\\JQ\\JQDRV2K3.INF\n"
     "(repeatable); a driver install needs its INF file",
     [](Options& o, const std::string& v) { o.setup.files.push_back(v); }},
    {"--reboot", nullptr, "driver installs ask for a restart",
     [](Options& o, const std::string&) { o.setup.driverInstallAsksReboot = true; }},
    {"--continue", nullptr, "go on after UninstInitialize answered -1",
     [](Options& o, const std::string&) { o.setup.stopWhenUninstallStops = false; }},
    {"-q, --quiet", nullptr, "leave the trace lines out of the report",
     [](Options& o, const std::string&) { o.quiet = true; }},
    {"--json", "FILE",
     "write the report as JSON too (\"-\": JSON instead of\n"
     "the text report, on standard output)",
     [](Options& o, const std::string& v) { o.jsonPath = v; }},
    {"--html", "FILE",
     "write the report as one self-contained HTML page too,\n"
     "to look at or to send to a customer",
     [](Options& o, const std::string& v) { o.htmlPath = v; }},
    {"--write-reg", "FILE",
     "write the machine's registry after the run as a .reg\n"
     "file (version 5.00, UTF-16LE) that regedit imports;\n"
     "importing adds keys, it does not delete any",
     [](Options& o, const std::string& v) { o.regPath = v; }},
    {"--code-page", "N",
     "the machine's ANSI code page, for reading and writing\n"
     "its texts: 1252 (the default, Western European),\n"
     "1251 (Cyrillic), or 874, 1250, 1253 to 1257",
     [](Options& o, const std::string& v) {
         char* end = nullptr;
         const unsigned long n = std::strtoul(v.c_str(), &end, 10);
         if (v.empty() || *end != '\0' || !regfile::CodePage::find(static_cast<unsigned>(n)))
             throw UsageError("code page \"" + v + "\" is not supported; the supported ones are: " +
                              regfile::CodePage::supportedList());
         o.codePage = static_cast<unsigned>(n);
     }},
    {"--strict", nullptr, "refuse a snapshot that has lines regedit would skip",
     [](Options& o, const std::string&) { o.strict = true; }},
    {"-h, --help", nullptr, "this text", [](Options& o, const std::string&) { o.help = true; }},
};

const OptionRow* findOption(const std::string& name)
{
    for (const OptionRow& row : OptionTable) {
        const std::string_view names = row.names;
        for (size_t from = 0; from < names.size();) {
            const size_t comma = names.find(", ", from);
            if (names.substr(from, comma == std::string_view::npos ? std::string_view::npos : comma - from) == name)
                return &row;
            from = comma == std::string_view::npos ? names.size() : comma + 2;
        }
    }
    return nullptr;
}

// "  --name VALUE" in a column of its own, the help lines beside it.
std::string optionHelp()
{
    constexpr size_t Column = 22;
    std::string text;
    for (const OptionRow& row : OptionTable) {
        std::string left = row.names;
        if (row.argument)
            left += std::string(" ") + row.argument;
        left.resize(std::max(left.size() + 1, Column), ' ');
        std::string_view help = row.help;
        for (bool first = true; !help.empty() || first; first = false) {
            const size_t end = help.find('\n');
            text += "  " + (first ? left : std::string(Column, ' ')) + std::string(help.substr(0, end)) + "\n";
            help = end == std::string_view::npos ? std::string_view() : help.substr(end + 1);
        }
    }
    return text;
}

}  // namespace

Options parseCommandLine(const std::vector<std::string>& args)
{
    Options o;
    bool onlyCalls = false;
    for (size_t i = 0; i < args.size(); ++i) {
        const std::string& arg = args[i];
        if (onlyCalls || arg.empty() || arg[0] != '-') {
            // A file name ending in .reg is the snapshot, any other word an export.
            if (!onlyCalls && arg.size() >= 4 && sim::equalNoCase(arg.substr(arg.size() - 4), ".reg"))
                setSnapshot(o, arg);
            else
                o.calls.push_back(parseCall(arg));
            continue;
        }
        if (arg == "--") {
            onlyCalls = true;
            continue;
        }
        // "--name=value" and "--name value" alike.
        std::string name = arg;
        std::optional<std::string> inlineValue;
        if (arg.rfind("--", 0) == 0 && arg.find('=') != std::string::npos) {
            name = arg.substr(0, arg.find('='));
            inlineValue = arg.substr(arg.find('=') + 1);
        }
        const OptionRow* row = findOption(name);
        if (!row)
            throw UsageError("unknown option \"" + name + "\"");
        std::string value;
        if (!row->argument) {
            if (inlineValue)
                throw UsageError("option " + name + " takes no value");
        } else if (inlineValue) {
            value = *inlineValue;
        } else if (i + 1 < args.size()) {
            value = args[++i];
        } else {
            throw UsageError("option " + name + " needs a value");
        }
        row->apply(o, value);
    }
    if (o.calls.empty())
        o.calls = removalRoad();
    return o;
}

std::string helpText()
{
    std::string text = R"(Usage: jqpreview [SNAPSHOT.reg] [OPTION]... [--] [EXPORT[=TEXT]]...

Shows what JQInst2k.dll would do to a machine: runs the library's exports,
as an installer's script calls them, on a simulated Windows built from a
registry snapshot, and reports each export's result and trace lines, the
keys, values and device nodes it removed or created, the driver installs,
whether a restart is needed, and the vendor's traces left in the registry.

SNAPSHOT.reg is a regedit export of HKEY_LOCAL_MACHINE ("REGEDIT4", or
"Windows Registry Editor Version 5.00" in UTF-16LE or ANSI). Without one,
the built-in sample machine is used (Windows XP with the vendor's devices).
Devices are the instance keys under System\CurrentControlSet\Enum (NT) or
Enum (9x). An NT instance counts as attached when its key has the subkey
"Control" that Windows gives running devices; in a snapshot without any
such subkey, every instance counts as attached.

An export that holds control sets under their own names (ControlSet001...)
is read with the set HKLM\SYSTEM\Select names as Current (else the only
one, else the lowest-numbered one, with a warning) as CurrentControlSet.
Lines that regedit passes over when it imports the file (a '#' comment, a
value outside any key, data it cannot read) are skipped, each with a
warning; --strict refuses the file instead.

Texts are single-byte, as the library sees them, in the machine's ANSI code
page (--code-page): a Unicode file's characters that the code page lacks
are read as '?', with a warning when two names become one that way.

EXPORT is an export's name, with its text argument after '=' (the
installation folder of CreateRootDevice, UpdateDevices and SetTargetDir).
Without any, the removal road runs: UninstInitialize, then UninstUnInitialize.
When UninstInitialize answers -1 the run stops there, as an uninstaller does.

Options:
)";
    text += optionHelp();
    text += R"(
Exports (ordinal, argument read, result):
)";
    for (const ExportInfo& e : exportTable()) {
        std::string row = "  " + std::to_string(e.ordinal) + (e.ordinal < 10 ? "  " : " ") + e.name;
        row.resize(24, ' ');
        row += e.readsText ? "folder  " : (e.readsWindow ? "window  " : "none    ");
        text += row + e.results + "\n";
    }
    text += R"(
Exit status: 0 the run was reported; 1 a report or .reg file could not be
written; 2 the command line or the snapshot is bad (nothing ran).

Examples:
  jqpreview customer.reg
  jqpreview customer.reg --not-admin --answer yes,no
  jqpreview --windows 98 old-pc.reg RemoveUsbDevices RemoveRootDevice
  jqpreview --file C:\JQ\JQDRV2K3.INF InitModule CreateRootDevice=C:\JQ NeedReboot
)";
    return text;
}

int runTool(const std::vector<std::string>& args, std::ostream& out, std::ostream& err)
{
    Options options;
    try {
        options = parseCommandLine(args);
    } catch (const UsageError& e) {
        err << "jqpreview: " << e.what() << "\n(jqpreview --help shows the usage)\n";
        return ExitBadInput;
    }
    if (options.help) {
        out << helpText();
        return ExitOk;
    }

    regfile::Registry snapshot;
    ReportOptions report;
    report.showTrace = !options.quiet;
    report.codePage = regfile::CodePage::find(options.codePage);
    const regfile::ReadOptions reading = snapshotReading(options.strict, report.codePage);
    // Every key, for writing the machine out: the run changes only what the
    // library reaches, which comes from the run.
    regfile::Registry whole;
    ControlSetChoice controlSet;
    try {
        const regfile::ReadOptions everything(options.strict, report.codePage);
        // The snapshot: once with only what the library reaches, and for
        // --write-reg once more, whole.
        const auto read = [&](regfile::Registry& into, const regfile::ReadOptions& how) {
            return options.snapshotPath ? regfile::load(*options.snapshotPath, into, how)
                                        : regfile::parse(sampleSnapshot(), SampleSnapshotName, into, how);
        };
        regfile::FileInfo info = read(snapshot, reading);
        report.snapshotName = options.snapshotPath ? *options.snapshotPath : std::string(SampleSnapshotName);
        report.snapshotNotes = info.notes;
        // What the code page cannot hold would be written as '?' into a file
        // that regedit imports: refused rather than lost without a word.
        if (!options.regPath.empty() && info.lossyTexts) {
            const unsigned codePage =
                (report.codePage ? *report.codePage : regfile::CodePage::windows1252()).number();
            err << "jqpreview: --write-reg: " << info.lossyTexts << " names and texts of " << report.snapshotName
                << " hold characters code page " << codePage << " lacks (the first at line " << info.firstLossyLine
                << "); the file would hold '?' in their place: name the machine's code page with --code-page\n";
            return ExitBadInput;
        }
        if (!options.regPath.empty())
            read(whole, everything);
        report.keysBeyondReach = info.keysLeftOut;
        report.keyLinesBeyondReach = info.keyLinesLeftOut;
        report.valueLinesBeyondReach = info.valuesLeftOut;
        if (info.keysLeftOut)
            report.snapshotSummary =
                std::to_string(info.keysLeftOut) + " distinct keys" +
                (info.keyLinesLeftOut != info.keysLeftOut ? " (" + std::to_string(info.keyLinesLeftOut) + " key lines)"
                                                          : std::string()) +
                " and " + std::to_string(info.valuesLeftOut) +
                " value lines beyond the library's reach (outside HKLM\\SYSTEM\\CurrentControlSet and "
                "HKLM\\Enum) read for vendor traces only, not loaded";
        report.snapshotWarnings = std::move(info.warnings);
        if (info.warningsLeftOut)
            report.snapshotWarnings.push_back("... and " + std::to_string(info.warningsLeftOut) +
                                              " more lines skipped (run with --strict to stop at the first)");
        controlSet = resolveControlSets(snapshot);
        report.controlSet = controlSet.note;
        for (std::string& w : controlSet.warnings)
            report.snapshotWarnings.push_back(std::move(w));
    } catch (const regfile::ParseError& e) {
        if (e.line() == 0)
            err << "jqpreview: " << e.file() << ": " << e.reason() << "\n";
        else
            err << e.what() << "\n";
        return ExitBadInput;
    }

    RunResult result;
    try {
        result = run(std::move(snapshot), options.setup, options.calls);
    } catch (const std::invalid_argument& e) {
        err << "jqpreview: " << e.what() << "\n";
        return ExitBadInput;
    }

    int status = ExitOk;
    if (options.jsonPath == "-") {
        out << jsonReport(result, report);
    } else {
        out << textReport(result, report);
        if (!options.jsonPath.empty() && !writeFile(options.jsonPath, jsonReport(result, report))) {
            err << "jqpreview: cannot write the JSON report to " << options.jsonPath << "\n";
            status = ExitWriteFailed;
        }
    }
    if (!options.htmlPath.empty() && !writeFile(options.htmlPath, htmlReport(result, report))) {
        err << "jqpreview: cannot write the HTML report to " << options.htmlPath << "\n";
        status = ExitWriteFailed;
    }
    if (!options.regPath.empty()) {
        graftReach(whole, result.after);
        restoreControlSetName(whole, controlSet);
        regfile::WriteOptions writing;
        writing.codePage = report.codePage;
        std::ofstream file(options.regPath, std::ios::binary | std::ios::trunc);
        regfile::write(whole, writing, file);
        file.close();
        if (!file) {
            err << "jqpreview: cannot write the registry to " << options.regPath << "\n";
            status = ExitWriteFailed;
        }
    }
    return status;
}

}  // namespace preview
