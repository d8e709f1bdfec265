// The jqpreview command line: options in, a report out.
#pragma once

#include "preview.h"

#include <iosfwd>
#include <optional>
#include <stdexcept>
#include <string>
#include <vector>

namespace preview {

// A command line that cannot be understood; the text says why.
class UsageError : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

struct Options {
    std::optional<std::string> snapshotPath;  // none: the built-in sample machine
    Setup setup;
    std::vector<Call> calls;  // none given: the removal road
    bool quiet = false;       // no trace lines in the text report
    std::string jsonPath;     // "-": the JSON report on standard output, instead of the text
    std::string regPath;      // the machine after the run, as a .reg file
    std::string htmlPath;     // the report as an HTML page
    bool strict = false;      // refuse a snapshot with lines regedit would skip
    unsigned codePage = 1252; // the machine's ANSI code page
    bool help = false;
};

Options parseCommandLine(const std::vector<std::string>& args);  // throws UsageError
std::string helpText();

// The built-in sample machine: a Windows XP registry export.
const std::string& sampleSnapshot();
constexpr const char* SampleSnapshotName = "sample-xp.reg (built in)";

// Exit codes of the tool.
constexpr int ExitOk = 0;
constexpr int ExitWriteFailed = 1;  // a report or .reg file could not be written
constexpr int ExitBadInput = 2;     // bad command line or malformed snapshot; nothing ran

// The whole tool: arguments (without the program name) to exit code.
int runTool(const std::vector<std::string>& args, std::ostream& out, std::ostream& err);

}  // namespace preview
