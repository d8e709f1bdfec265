#include "report_values.h"

#include "load_machine.h"

#include <cstdio>
#include <iterator>

namespace preview {

std::string typeLabel(uint32_t type)
{
    // Indexed by the type's number: REG_NONE is 0, REG_QWORD 11.
    static const char* const Names[] = {
        "REG_NONE", "REG_SZ", "REG_EXPAND_SZ", "REG_BINARY", "REG_DWORD", "REG_DWORD_BIG_ENDIAN", "REG_LINK",
        "REG_MULTI_SZ", "REG_RESOURCE_LIST", "REG_FULL_RESOURCE_DESCRIPTOR", "REG_RESOURCE_REQUIREMENTS_LIST",
        "REG_QWORD",
    };
    if (type < std::size(Names))
        return Names[type];
    char buffer[32];
    std::snprintf(buffer, sizeof buffer, "type 0x%x", type);
    return buffer;
}

std::vector<std::string> valueTexts(const regfile::Value& v)
{
    std::vector<std::string> out;
    std::string current;
    for (uint8_t b : v.data) {
        if (b != 0) {
            current.push_back(static_cast<char>(b));
            continue;
        }
        if (current.empty() && v.type == REG_MULTI_SZ)
            return out;
        out.push_back(current);
        current.clear();
        if (v.type != REG_MULTI_SZ)
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

std::string describeValue(const regfile::Value& v)
{
    std::string out = typeLabel(v.type) + " ";
    if (regfile::isTextType(v.type)) {
        const std::vector<std::string> list = valueTexts(v);
        for (size_t i = 0; i < list.size(); ++i)
            out += (i ? ", " : "") + quoted(list[i]);
        return out;
    }
    if (v.type == REG_DWORD && v.data.size() == 4) {
        char buffer[16];
        const uint32_t n = v.data[0] | (v.data[1] << 8) | (v.data[2] << 16) | (static_cast<uint32_t>(v.data[3]) << 24);
        std::snprintf(buffer, sizeof buffer, "0x%08x", n);
        return out + buffer + " (" + std::to_string(n) + ")";
    }
    return out + (v.data.empty() ? std::string("(empty)") : hexBytes(v.data, 32, " "));
}

std::string valueName(const std::string& name) { return name.empty() ? "@ (default)" : quoted(name); }

std::string plural(size_t n, const char* one, const char* many)
{
    return std::to_string(n) + " " + (n == 1 ? one : many);
}

Road roadOf(sim::WindowsVersion version)
{
    const OSVERSIONINFOA record = sim::versionRecord(version);
    Road road;
    road.family9x = record.dwPlatformId != VER_PLATFORM_WIN32_NT;
    road.road9x = record.dwMajorVersion == 4;
    road.enumPath = road.road9x ? Win9xEnumPath : NtEnumPath;
    if (road.family9x)
        road.text = "9x family: the library's 9x road, devices under HKLM\\Enum";
    else if (road.road9x)
        road.text = "NT family, but version 4: the library takes its 9x road, devices under HKLM\\Enum";
    else
        road.text = "NT family: the library's NT road, device nodes through the setup API, "
                    "devices under HKLM\\System\\CurrentControlSet\\Enum";
    return road;
}

bool restartMessageShown(const RunResult& run)
{
    for (const CallOutcome& c : run.calls)
        for (const Dialog& d : c.dialogs)
            if (d.buttons.size() == 1 && sim::upper(d.text).find("RESTART") != std::string::npos)
                return true;
    return false;
}

}  // namespace preview
