#include "cleaning/matching.h"

#include "cleaning/cleaning_state.h"
#include "cleaning/jqpids.h"
#include "support/tracers.h"

#include <cstddef>
#include <iterator>

namespace {

// Nothing shorter can hold a whole vendor/product id text.
constexpr size_t ShortestMatchingId = VidPidLength;

// Entries are compared in list order and the first one found ends the scan,
// so the trace shows exactly how far each check went.
bool scanList(const char* entryLine, const std::string& id, const char* const* list,
              size_t count)
{
    TraceFmt(entryLine, id);
    const std::string upper = upperCaseId(id);
    TraceFmt("  EU: nVidPids:%d", static_cast<int>(count) - 1);
    for (size_t index = 0; index < count; ++index) {
        TraceFmt("  EU: Doing Compare:  List:%s:  Current:%s:", list[index], upper);
        if (upper.find(list[index]) != std::string::npos) {
            TraceMsg("  EU: Found It!");
            return true;
        }
    }
    return false;
}

}  // namespace

std::string upperCaseId(const std::string& id)
{
    std::string upper = id;
    for (char& c : upper) {
        if (c >= 'a' && c <= 'z')
            c = static_cast<char>(c - 'a' + 'A');
    }
    return upper;
}

bool checkDriverClass(const std::string& text)
{
    static const char* const classes[] = {"HID\\",   "HIDCLASS\\", "MEDIA\\",
                                          "JOVEX\\", "KEYBOARD\\", "MOUSE\\"};
    const std::string upper = upperCaseId(text);
    bool found = false;
    for (const char* driverClass : classes)
        found = upper.find(driverClass) != std::string::npos || found;
    return found;
}

bool checkDeviceId(const std::string& id)
{
    if (UseShortUsbList)
        return scanList("DELKEYS: checkDeviceId:%s", id, UsbVidPidsShort, std::size(UsbVidPidsShort));
    return scanList("DELKEYS: checkDeviceId:%s", id, UsbVidPids, std::size(UsbVidPids));
}

bool checkAnalogId(const std::string& id)
{
    return scanList("DELKEYS: checkAnalogId:%s", id, AnalogVidPids, std::size(AnalogVidPids));
}

bool checkPedalId(const std::string& id)
{
    return scanList("DELKEYS: checkPedalId:%s", id, PedalVidPids, std::size(PedalVidPids));
}

bool checkAuxDeviceId(const std::string& id)
{
    return scanList("DELKEYS: checkAuxDeviceId:%s", id, AuxVidPids, std::size(AuxVidPids));
}

bool checkId(const std::string& id)
{
    if (id.size() < ShortestMatchingId)
        return false;

    bool match;
    if (PedalMode)
        match = checkPedalId(id);
    else if (AnalogMode)
        match = checkAnalogId(id);
    else
        match = checkDeviceId(id);

    if (!match && AuxFallback)
        match = checkAuxDeviceId(id);

    if (match)
        IdMatchFound = true;
    return match;
}
