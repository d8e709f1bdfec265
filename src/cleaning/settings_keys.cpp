// Entries a game controller leaves outside the device tree, keyed by its
// vendor/product id or by its device instance id: joystick settings and OEM
// entries on every system, ASD values and device-interface keys on 9x.
#include "cleaning/cleaning_routines.h"
#include "cleaning/cleaning_state.h"
#include "cleaning/matching.h"
#include "support/id_string.h"
#include "support/tracers.h"
#include "support/winreg.h"

#include <memory>
#include <string>

namespace {

using RegistryKey = std::unique_ptr<TWinRegistry>;

RegistryKey openKeyPath()
{
    return TWinRegistry::OpenWithKey(HKEY_LOCAL_MACHINE, KeyPath);
}

struct SubkeySweep {
    const char* releaseLine;
    const char* exitLine;
};

// Deletes every subkey of the key at KeyPath whose name is the vendor's.
void sweepSubkeys(const SubkeySweep& sweep)
{
    {
        RegistryKey key = openKeyPath();
        FirstList->clear();
        if (!WinRegOpenFailed) {
            key->ReadSections(*FirstList);
            const int names = FirstList->count();
            TraceFmt("  EU: nKeys:%d", names);
            for (int i = 0; i < names; ++i) {
                const std::string& name = (*FirstList)[i];
                std::string shortened;
                const std::string& vidPidStr = asIdString(name, shortened);
                TraceFmt("  EU: vidPidStr:%s", vidPidStr);
                if (checkId(vidPidStr))
                    key->eraseSection(KeyName(name));
            }
            TraceMsg(sweep.releaseLine);
        }
    }
    TraceMsg(sweep.exitLine);
}

const char* const AsdSubkeys[2] = {"{9b4e7760-3196-11cf-97ea-00aa0034319d}",
                                   "{cf2524c0-29ae-11cf-97ea-00aa0034319d}"};

struct AsdLines {
    const char* countLine;
    const char* nameLine;
    const char* deleteLine;
};
const AsdLines AsdSubkeyLines[2] = {
    {"  EU: First nVals:%d", "  EU: First vidPidStr:%s", "  DK: Deleting ASD Subkey 1"},
    {"  EU: Second nVals:%d", "  EU: Second vidPidStr:%s", "  DK: Deleting ASD Subkey 2"},
};

// Values only: the two subkeys belong to Windows and stay, even emptied.
void sweepAsdValues(TWinRegistry& asd, int which)
{
    const char* subkey = AsdSubkeys[which];
    const AsdLines& lines = AsdSubkeyLines[which];
    SecondList->clear();
    asd.ReadSection(subkey, *SecondList);
    const int names = SecondList->count();
    TraceFmt(lines.countLine, names);
    for (int i = 0; i < names; ++i) {
        std::string shortened;
        const std::string& vidPidStr = asIdString((*SecondList)[i], shortened);
        TraceFmt(lines.nameLine, vidPidStr);
        if (checkId(vidPidStr)) {
            TraceMsg(lines.deleteLine);
            asd.DeleteKey(subkey, vidPidStr);
        }
    }
}

struct InterfaceClass {
    const char* path;
    const char* openedLine;
    const char* countLine;
    const char* nameLine;
    const char* releaseLine;
};
const InterfaceClass InterfaceClasses[2] = {
    {"System\\CurrentControlSet\\Control\\DeviceClasses\\{4d1e55b2-f16f-11cf-88cb-001111000030}",
     "  EU: Registry Key Opened Okay", "  EU: First nKeys:%d", "  EU: First vidPidStr:%s",
     "  EU: Freeing First DevClass Reg Object"},
    {"System\\CurrentControlSet\\Control\\DeviceClasses\\{a5dcbf10-6530-11d2-901f-00c04fb951ed}",
     "  EU: Second Registry Key Opened Okay", "  EU: Second nKeys:%d", "  EU: Second vidPidStr:%s",
     "  EU: Freeing Second DevClass Reg Object"},
};

// A device-interface key is named after the interface, not the device, so
// its DeviceInstance value is what tells whose it is.
void sweepInterfaceClass(const InterfaceClass& interfaceClass)
{
    KeyPath = interfaceClass.path;
    FirstList->clear();
    RegistryKey key = openKeyPath();
    if (WinRegOpenFailed)
        return;

    TraceMsg(interfaceClass.openedLine);
    key->ReadSections(*FirstList);
    const int names = FirstList->count();
    TraceFmt(interfaceClass.countLine, names);
    for (int i = 0; i < names; ++i) {
        const KeyName name((*FirstList)[i]);
        // The value may be another program's: one that is not text names no
        // device, and the sweep goes on with the next key.
        const std::string vidPidStr = idString(readTextOrNothing(*key, name, "DeviceInstance"));
        TraceFmt(interfaceClass.nameLine, vidPidStr);
        if (checkId(vidPidStr))
            key->eraseSection(name);
    }
    TraceMsg(interfaceClass.releaseLine);
}

}  // namespace

void deleteJoystickSettingsKeys()
{
    TraceMsg("DELKEYS: deleteJoystickSettingsKeys");
    // "<FixedKey>" is the key's literal name, brackets and all.
    KeyPath = CachedWin2k
                  ? "System\\CurrentControlSet\\Control\\MediaResources\\Joystick\\DINPUT.DLL"
                    "\\JoystickSettings"
                  : "System\\CurrentControlSet\\Control\\MediaResources\\joystick\\<FixedKey>"
                    "\\JoystickSettings";
    sweepSubkeys({"  EU: Freeing JoystickSettings Key Reg Object",
                  "  EU: Exiting deleteJoystickSettingsKeys"});
}

void deleteOemKeys()
{
    TraceMsg("DELKEYS: deleteOemKeys");
    KeyPath = "System\\CurrentControlSet\\Control\\MediaProperties\\PrivateProperties\\Joystick\\OEM";
    sweepSubkeys({"  EU: Freeing OEM Key Reg Object", "  EU: Exiting deleteOemKeys"});
}

void deleteAsdKeys()
{
    TraceMsg("DELKEYS: deleteAsdKeys");
    KeyPath = "System\\CurrentControlSet\\Control\\ASD\\Prob";
    {
        RegistryKey asd = openKeyPath();
        SecondList->clear();
        if (!WinRegOpenFailed) {
            sweepAsdValues(*asd, 0);
            TraceMsg("  EU: Processing Second ASD Reg Object");
            sweepAsdValues(*asd, 1);
            TraceMsg("  EU: Freeing Second ASD Reg Object");
        }
    }
    TraceMsg("  EU: Exiting deleteAsdKeys");
}

void deleteDeviceClassesKeys()
{
    TraceMsg("DELKEYS: deleteDeviceClassesKeys");
    for (const InterfaceClass& interfaceClass : InterfaceClasses)
        sweepInterfaceClass(interfaceClass);
    TraceMsg("  EU: Exiting deleteDeviceClassesKeys");
}
