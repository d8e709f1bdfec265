#include "cleaning/matching.h"

#include "cleaning/cleaning_state.h"
#include "cleaning/jqpids.h"
#include "support/tracers.h"

#include <cstddef>
#include <cstring>
#include <iterator>

namespace {

// Nothing shorter can hold a whole vendor/product id text.
constexpr size_t ShortestMatchingId = VidPidLength;

constexpr char VendorPrefix[] = "VID_2F7A&PID_";
constexpr size_t VendorPrefixLength = sizeof VendorPrefix - 1;
static_assert(VendorPrefixLength == ProductDigitsOffset, "the product digits follow the prefix");

inline char upperCaseChar(char c) { return c >= 'a' && c <= 'z' ? static_cast<char>(c - 'a' + 'A') : c; }

// Every entry of a list is the vendor's prefix and four upper-case
// hexadecimal digits, so an entry occurs in the upper-cased id exactly where
// the prefix occurs, in any case, with the entry's digits behind it. Finding
// the prefix once and comparing the four characters behind it with each
// entry's digits gives the list-order scan's answer without an upper-cased
// copy of the id or one search of it per entry; a name without the prefix,
// most names on a machine, is passed over in one pass.
bool occursIn(const std::string& id, const char* const* list, size_t count)
{
    const char* const text = id.data();
    for (size_t at = 0; at + VidPidLength <= id.size(); ++at) {
        size_t matched = 0;
        while (matched < VendorPrefixLength &&
               upperCaseChar(text[at + matched]) == VendorPrefix[matched])
            ++matched;
        if (matched < VendorPrefixLength)
            continue;
        char digits[ProductDigitsLength];
        for (size_t i = 0; i < ProductDigitsLength; ++i)
            digits[i] = upperCaseChar(text[at + ProductDigitsOffset + i]);
        for (size_t i = 0; i < count; ++i)
            if (std::memcmp(list[i] + ProductDigitsOffset, digits, ProductDigitsLength) == 0)
                return true;
    }
    return false;
}

// With the trace switch on, entries are compared in list order and the
// first one found ends the scan, so the trace shows exactly how far each
// check went. With it off only the answer counts.
bool checkList(const char* entryLine, const std::string& id, const char* const* list,
               size_t count)
{
    if (!TraceEnabled)
        return occursIn(id, list, count);
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
    for (char& c : upper)
        c = upperCaseChar(c);
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
        return checkList("DELKEYS: checkDeviceId:%s", id, UsbVidPidsShort,
                         std::size(UsbVidPidsShort));
    return checkList("DELKEYS: checkDeviceId:%s", id, UsbVidPids, std::size(UsbVidPids));
}

bool checkAnalogId(const std::string& id)
{
    return checkList("DELKEYS: checkAnalogId:%s", id, AnalogVidPids, std::size(AnalogVidPids));
}

bool checkPedalId(const std::string& id)
{
    return checkList("DELKEYS: checkPedalId:%s", id, PedalVidPids, std::size(PedalVidPids));
}

bool checkAuxDeviceId(const std::string& id)
{
    return checkList("DELKEYS: checkAuxDeviceId:%s", id, AuxVidPids, std::size(AuxVidPids));
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
