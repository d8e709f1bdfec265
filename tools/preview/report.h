// What a preview run did, for people (text) and for programs (JSON): each
// export's result and trace, the registry and device changes, the driver
// installs, the restart, and the vendor's traces that are still there.
#pragma once

#include "preview.h"
#include "reg_file.h"

#include <optional>
#include <string>
#include <vector>

namespace preview {

struct KeyChange {
    std::string path;  // "HKLM\System\..."
    size_t keysBelow = 0;
};

struct ValueChange {
    std::string keyPath;
    std::string name;
    std::optional<regfile::Value> before;
    std::optional<regfile::Value> after;
};

struct Changes {
    std::vector<KeyChange> keysDeleted;  // the topmost deleted keys only
    std::vector<KeyChange> keysCreated;  // likewise
    std::vector<ValueChange> valuesDeleted;  // from keys that are still there
    std::vector<ValueChange> valuesAdded;
    std::vector<ValueChange> valuesChanged;
    std::vector<std::string> devicesRemoved;  // instance ids
    std::vector<std::string> devicesCreated;
};

Changes diff(const regfile::Registry& before, const regfile::Registry& after);

// A key or value that still names one of the vendor's devices (its
// vendor id, or the root device's hardware id), and the id lists that
// hold its product id: the usual reason why a cleaning run passed it over.
struct VendorTrace {
    std::string keyPath;
    std::optional<std::string> valueName;  // set for a value, not a key
    std::string id;                        // "VID_2F7A&PID_00A1" or "root\jq_pilotdeck"
    std::vector<std::string> lists;        // names of the id lists holding the id
    // Whether any trace line of the run names the key or value or one of
    // their texts. None does for a key the run never looked at; one may
    // also name it for another reason, so the trace has the last word.
    bool namedInTrace = false;
    std::string user;    // for a per-user key: "HKCU" or "HKU\<SID>"; empty for HKLM
    bool beyondReach = false;  // where the library never looks
    // Why the library leaves it, where that is known: in words a support
    // engineer acts on. Empty where none of the known reasons applies.
    std::string reason;
};

// Whether a key name, or a value's name or text, names one of the
// vendor's devices: what vendorTraces looks for.
bool namesVendor(std::string_view text);
bool namesVendor(const regfile::Value& value);

// The vendor's keys and values left after the run, under HKLM and in every
// user's hive (HKCU, HKU\<SID>), each with why the library left it.
std::vector<VendorTrace> vendorTraces(const RunResult& run);

// How many of the traces lie beyond the library's reach under HKLM, and
// how many in users' hives.
struct TraceCounts {
    size_t beyondReach = 0;
    size_t perUser = 0;
};
TraceCounts countTraces(const std::vector<VendorTrace>& traces);

struct ReportOptions {
    bool showTrace = true;
    std::string snapshotName;  // the file, or the built-in sample's name
    // The machine's code page: the registry's texts are shown in UTF-8
    // through it. Null: Windows-1252.
    const regfile::CodePage* codePage = nullptr;
    std::string controlSet;  // which set stands for CurrentControlSet, and why
    std::string snapshotSummary;  // what of the snapshot was loaded
    // What of the snapshot lies beyond the library's reach: distinct keys,
    // key lines, value lines (read for vendor traces only).
    size_t keysBeyondReach = 0, keyLinesBeyondReach = 0, valueLinesBeyondReach = 0;
    // About the snapshot file, in UTF-8: facts, and lines skipped or read
    // differently from what they say.
    std::vector<std::string> snapshotNotes;
    std::vector<std::string> snapshotWarnings;
};

std::string textReport(const RunResult& run, const ReportOptions& options);
std::string jsonReport(const RunResult& run, const ReportOptions& options);
// One self-contained HTML page (no script, no network).
std::string htmlReport(const RunResult& run, const ReportOptions& options);

// "HKEY_LOCAL_MACHINE\X" shown as "HKLM\X".
std::string shortPath(const std::string& path);
// A value as the report shows it: REG_SZ "text", REG_DWORD 0x0000000a...
std::string describeValue(const regfile::Value& value);

}  // namespace preview
