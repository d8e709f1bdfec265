// Arbitrary registries for the cleaning exports. The routines delete keys
// whose paths they build from what they read (key names, "Driver" values),
// so whatever a machine holds, a run must stay within the vendor's keys,
// release every handle, and answer with one of its results.
//
// Input: a first byte (bit 0: the 9x family, else Windows XP; bits 1 and 2:
// which export; bit 3: the trace switch on), then lines, each a key path
// below HKEY_LOCAL_MACHINE, optionally followed by "|name|data" for a value
// of that key: a REG_SZ text, or a REG_DWORD when the data begins with "#".
#include "host/exports.h"
#include "host/module_load.h"
#include "machine.h"
#include "support/tracers.h"

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

namespace {

void require(bool condition, const std::string& what)
{
    if (!condition) {
        std::fprintf(stderr, "clean run: %s\n", what.c_str());
        std::abort();
    }
}

std::vector<std::string> split(const std::string& text, char separator)
{
    std::vector<std::string> parts;
    size_t start = 0;
    for (;;) {
        const size_t end = text.find(separator, start);
        parts.push_back(text.substr(start, end - start));
        if (end == std::string::npos)
            return parts;
        start = end + 1;
    }
}

// A key path as the registry would take it: no empty name, no name longer
// than the registry allows.
bool validPath(const std::string& path)
{
    if (path.empty() || path.size() > 1024)
        return false;
    for (const std::string& name : split(path, '\\'))
        if (name.empty() || name.size() > 255)
            return false;
    return true;
}

void addLine(sim::Machine& m, const std::string& line)
{
    const std::vector<std::string> parts = split(line, '|');
    if (!validPath(parts[0]))
        return;
    const std::string key = "HKLM\\" + parts[0];
    m.createKey(key);
    if (parts.size() < 3)
        return;
    const std::string& data = parts[2];
    if (!data.empty() && data[0] == '#')
        m.setDword(key, parts[1], static_cast<DWORD>(std::strtoul(data.c_str() + 1, nullptr, 0)));
    else
        m.setString(key, parts[1], data);
}

// Keys that no run may touch, whatever the other keys hold: not the
// vendor's, and not a class the 9x cleaning removes driver keys of. (On the
// NT family the setup API deletes whatever driver key a removed device
// names, so no driver key there can serve.)
const char* const Sentinels[] = {
    "HKLM\\Software\\Sentinel",
    "HKLM\\System\\CurrentControlSet\\Services\\Class\\Ports\\0000",
    "HKLM\\Enum\\USB\\VID_045E&PID_0047\\6&1",
    "HKLM\\System\\CurrentControlSet\\Enum\\USB\\VID_045E&PID_0047\\6&1",
};

using Export = LONG(WINAPI*)(HWND, LONG*, LPCSTR);
const Export Exports[] = {RemoveUsbDevices, RemovePedalDevices, RemoveAuxDevices,
                          RemoveRootDevice};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    if (size == 0 || size > 16384)
        return 0;
    sim::Machine& m = sim::machine();
    m.reset();
    m.setWindows((data[0] & 1) ? sim::WindowsVersion::Win98 : sim::WindowsVersion::WinXP);
    const Export run = Exports[(data[0] >> 1) & 3];

    const std::string text(reinterpret_cast<const char*>(data + 1), size - 1);
    const std::vector<std::string> lines = split(text, '\n');
    for (size_t i = 0; i < lines.size() && i < 200; ++i)
        addLine(m, lines[i]);
    for (const char* sentinel : Sentinels)
        m.setString(sentinel, "Keep", "1");
    m.addDevice({"USB\\VID_045E&PID_0047\\6&1", {"USB\\VID_045E&PID_0047"},
                 "{745A17A0-74D3-11D0-B6FE-00A0C90F57DA}", "", true});

    moduleLoad();
    TraceEnabled = (data[0] & 8) != 0;
    const LONG result = run(nullptr, nullptr, nullptr);
    TraceEnabled = false;

    require(result == 0 || result == 1, "result " + std::to_string(result));
    require(m.openHandleCount() == 0, "left open: " + m.openHandleReport());
    require(m.openHandleCount(sim::HandleKind::Module) == 0, "a library left loaded");
    for (const char* sentinel : Sentinels)
        require(m.valueExists(sentinel, "Keep"), std::string("deleted: ") + sentinel);
    m.debugger.texts.clear();
    return 0;
}
