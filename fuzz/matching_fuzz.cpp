// Arbitrary bytes as the names that the cleaning routines test. The first
// byte sets the run's matching mode, the trace switch and whether a match
// was already found; the rest is the name. Besides running clean under the
// sanitizers, every answer is held against the matching rule stated here
// plainly, apart from the product's code.
#include "cleaning/cleaning_state.h"
#include "cleaning/jqpids.h"
#include "cleaning/matching.h"
#include "host/module_load.h"
#include "machine.h"
#include "support/tracers.h"

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>

namespace {

void require(bool condition, const char* what)
{
    if (!condition) {
        std::fprintf(stderr, "matching: %s\n", what);
        std::abort();
    }
}

bool holdsAny(const std::string& text, const char* const* list, size_t count)
{
    for (size_t i = 0; i < count; ++i)
        if (text.find(list[i]) != std::string::npos)
            return true;
    return false;
}

// A name too short to hold a whole vendor/product id text matches nothing;
// otherwise the mode's list decides (pedal before analog before USB), and
// the aux list is asked after a miss when the run includes it.
bool expectedMatch(const std::string& upper)
{
    if (upper.size() < VidPidLength)
        return false;
    bool match;
    if (PedalMode)
        match = holdsAny(upper, PedalVidPids, PedalVidPidCount);
    else if (AnalogMode)
        match = holdsAny(upper, AnalogVidPids, AnalogVidPidCount);
    else if (UseShortUsbList)
        match = holdsAny(upper, UsbVidPidsShort, UsbVidPidShortCount);
    else
        match = holdsAny(upper, UsbVidPids, UsbVidPidCount);
    if (!match && AuxFallback)
        match = holdsAny(upper, AuxVidPids, AuxVidPidCount);
    return match;
}

const char* const DriverClasses[] = {"HID\\", "HIDCLASS\\", "MEDIA\\", "JOVEX\\", "KEYBOARD\\",
                                     "MOUSE\\"};

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***)
{
    moduleLoad();
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    if (size == 0)
        return 0;
    const uint8_t mode = data[0];
    const std::string id(reinterpret_cast<const char*>(data + 1), size - 1);

    PedalMode = (mode & 0x01) != 0;
    AnalogMode = (mode & 0x02) != 0;
    AuxFallback = (mode & 0x04) != 0;
    UseShortUsbList = (mode & 0x08) != 0;
    TraceEnabled = (mode & 0x10) != 0;
    IdMatchFound = (mode & 0x20) != 0;

    // Only the 26 letters a to z change, whatever the other bytes are.
    const std::string upper = upperCaseId(id);
    require(upper.size() == id.size(), "upperCaseId changed the length");
    for (size_t i = 0; i < id.size(); ++i) {
        const char c = id[i];
        const char expected = c >= 'a' && c <= 'z' ? static_cast<char>(c - 'a' + 'A') : c;
        require(upper[i] == expected, "upperCaseId changed a byte it must keep, or missed a letter");
    }

    const bool foundBefore = IdMatchFound;
    const bool match = checkId(id);
    require(match == expectedMatch(upper), "checkId disagrees with the matching rule");
    require(IdMatchFound == (foundBefore || match), "IdMatchFound not set on a match, or cleared");

    require(checkDriverClass(id) == holdsAny(upper, DriverClasses, std::size(DriverClasses)),
            "checkDriverClass disagrees with the six class texts");

    sim::machine().debugger.texts.clear();
    TraceEnabled = false;
    return 0;
}
