// A preview run: the library's exports called, as a host script calls
// them, on a simulated machine built from a registry snapshot, with
// everything the run did collected for the report.
#pragma once

#include "reg_file.h"

#include "host/exports.h"
#include "machine.h"

#include <string>
#include <string_view>
#include <vector>

namespace preview {

using ExportFn = LONG(WINAPI*)(HWND, LONG*, LPCSTR);

// The argument an export reads, as the export list names it.
enum class ExportArgument { Nothing, Window, Folder };

struct ExportInfo {
    const char* name;
    int ordinal;
    ExportFn function;
    bool readsText;      // the third argument: an installation folder
    bool readsWindow;    // the first argument: passed on to the cleaning run
    std::string (*meaning)(LONG result);
    const char* results;  // what it answers, for the help text
};

const std::vector<ExportInfo>& exportTable();
// By name, without regard to case; null when there is no such export.
const ExportInfo* findExport(std::string_view name);

struct Call {
    const ExportInfo* info = nullptr;
    std::string text;  // the third argument; empty when none was given
};

// The removal road of an uninstaller: ask first, then clean up.
std::vector<Call> removalRoad();

struct Setup {
    sim::WindowsVersion windows = sim::WindowsVersion::WinXP;
    bool administrator = true;
    // Dialog answers in the order the dialogs come; the dialogs beyond them
    // are answered with Enter, which presses the default button (Yes, OK).
    std::vector<sim::DialogAnswer> answers;
    std::vector<std::string> absent;   // NT device instances not attached
    std::vector<std::string> present;  // NT device instances attached
    std::vector<std::string> files;    // full paths of files that exist, "C:\JQ\JQDRV2K3.INF"
    bool driverInstallAsksReboot = false;
    // An uninstaller stops when UninstInitialize answers -1; so does the
    // run, unless told to go on.
    bool stopWhenUninstallStops = true;
};

struct Dialog {
    std::string caption;
    std::string text;
    std::vector<std::string> buttons;
    INT_PTR result = 0;
};
std::string dialogResultName(INT_PTR result);

struct CallOutcome {
    std::string exportName;
    std::string text;
    bool readsText = false;
    LONG result = 0;
    std::string meaning;
    std::vector<std::string> trace;
    std::vector<Dialog> dialogs;
    std::vector<sim::CallRecord> driverInstalls;  // hardware id in text, INF path in file
};

struct RunResult {
    Setup setup;
    std::vector<CallOutcome> calls;
    std::vector<std::string> notRun;  // exports left out after the uninstall stopped
    regfile::Registry before;         // the machine's registry before the first call
    regfile::Registry after;          // and after the last
    std::vector<std::string> presentDevices;
    bool rebootRequired = false;      // what NeedReboot answers after the run
    size_t answersGiven = 0;
    size_t dialogsShown = 0;
    // Whether a cleaning run began, and whether it found the user no
    // administrator and so cleaned nothing (the cleaning answers 2).
    bool cleaningRan = false;
    bool cleaningRefused = false;
    std::vector<std::string> warnings;
};

// Builds the machine (reset first) from the snapshot and the setup, loads
// the module, runs the calls and collects what they did. The machine runs
// on the snapshot's keys, so it is handed over (std::move, or clone() to
// keep one). Throws std::invalid_argument when the setup names a device the
// snapshot lacks, before anything is changed.
RunResult run(regfile::Registry snapshot, const Setup& setup, const std::vector<Call>& calls);

// "98", "me", "2000", "xp", "2003", "vista", "7" (and "95"); false when unknown.
bool parseWindowsVersion(std::string_view text, sim::WindowsVersion& version);
// The Windows versions --windows knows: its words, and the name a report gives.
struct WindowsRow {
    const char* word;
    const char* otherWord;  // or null
    sim::WindowsVersion version;
    const char* name;  // "Windows 10 (10.0)": the version the library is told
};
extern const WindowsRow WindowsRows[13];
std::string windowsWords();  // "95, 98, ... or 11"
std::string windowsVersionName(sim::WindowsVersion version);

}  // namespace preview
