// What the diff, the text report and the JSON report share: how a registry
// value is shown, and what the run's dialogs told the user.
#pragma once

#include "preview.h"
#include "reg_file.h"

#include <cstdint>
#include <string>
#include <vector>

namespace preview {

// "REG_SZ", ..., or "type 0x2a" for a type Windows does not name.
std::string typeLabel(uint32_t type);
// The texts of a text value: one for REG_SZ and REG_EXPAND_SZ (up to its
// first zero), each text of a REG_MULTI_SZ up to the empty one.
std::vector<std::string> valueTexts(const regfile::Value& v);
// "0a 0b ..." up to `limit` bytes, then the length.
std::string hexBytes(const std::vector<uint8_t>& data, size_t limit, const char* separator);
std::string quoted(const std::string& text);
// A value's name as the reports show it: quoted, or "@ (default)".
std::string valueName(const std::string& name);
// "1 key", "3 keys".
std::string plural(size_t n, const char* one, const char* many);

// The family a Windows version belongs to and the road the library takes
// on it. The library reads only the major version: 4 is the 9x road, so
// NT 4.0 takes it too.
struct Road {
    bool family9x;
    bool road9x;
    const char* enumPath;  // where that road finds the device instances
    std::string text;      // the report's line
};
Road roadOf(sim::WindowsVersion version);

// Whether a message told the user to restart Windows.
bool restartMessageShown(const RunResult& run);

}  // namespace preview
