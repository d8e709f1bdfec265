#include "cleaning/clean_run.h"

#include "cleaning/cleaning_routines.h"
#include "cleaning/cleaning_state.h"
#include "support/osinfo.h"
#include "support/tracers.h"

namespace {

// The three working lists of one run. Released in the order first, third,
// second on every path out of the run, an error included.
class WorkingLists {
public:
    WorkingLists()
    {
        FirstList = &first_;
        SecondList = &second_;
        ThirdList = &third_;
    }
    ~WorkingLists() { FirstList = ThirdList = SecondList = nullptr; }
    WorkingLists(const WorkingLists&) = delete;
    WorkingLists& operator=(const WorkingLists&) = delete;

private:
    // Members are destroyed in reverse order: first, third, second.
    TStringList second_;
    TStringList third_;
    TStringList first_;
};

void runSequence()
{
    if (CachedVersion4) {
        TraceMsg("  Deletinge W9x Enum Keys");
        deleteEnumUsbKeys();
        deleteEnumHidKeys();
        deleteEnumJqKeys();
    } else if (AnalogMode) {
        TraceMsg("  Deletinge W2k Enum Keys");
        deleteEnumGamePortKeys2k();
        deleteEnumHidKeys2k();
    } else {
        TraceMsg("  Deletinge W2k Enum Keys");
        deleteEnumUsbKeys2k();
        deleteEnumHidKeys2k();
        deleteEnumJqKeys2k();
    }

    TraceMsg("  Deletinge Settings and OEM Keys");
    deleteJoystickSettingsKeys();
    deleteOemKeys();

    if (CachedVersion4) {
        TraceMsg("  Deletinge W9x Special Keys");
        deleteAsdKeys();
        deleteDeviceClassesKeys();
    }
}

}  // namespace

int cleanDeviceKeys(HWND parentWindow, bool includeAux, bool deviceIds, bool analogIds,
                    bool shortUsbList)
{
    TraceMsg("DELKEYS: cleanDeviceKeys");
    initOsInfo();
    ParentWindow = parentWindow;
    IdMatchFound = false;
    CachedVersion4 = osIsVersion4();
    CachedWin2k = osIsWin2k();
    UseShortUsbList = shortUsbList;
    // The analog list, when asked for, is the one consulted: pedal mode would
    // take precedence over it, so it is off then.
    AnalogMode = analogIds;
    PedalMode = !analogIds && !deviceIds;
    AuxFallback = includeAux;

    if (!osIsAdmin())
        return 2;

    WorkingLists lists;
    runSequence();
    return IdMatchFound ? 0 : 1;
}
