// The 9x family keeps its device tree in the registry itself, so the
// vendor's devices are removed by deleting their keys: the device keys under
// Enum, the driver keys under the Class key that their instances name and,
// for the joystick enumerators, the joystick keys of those driver keys.
#include "cleaning/cleaning_routines.h"
#include "cleaning/cleaning_state.h"
#include "cleaning/matching.h"
#include "support/id_string.h"
#include "support/tracers.h"
#include "support/winreg.h"

#include <memory>
#include <string>

namespace {

// What the three routines do differently. The trace texts stay exactly as
// earlier releases wrote them, the Enum\HID lines of the Jovex routine
// included, so that traces from the field remain comparable.
struct EnumRoutine {
    const char* entryLine;
    const char* enumeratorPath;
    const char* enumeratorReleaseLine;
    const char* classStepLine;
    const char* classReleaseLine;
    bool hasJoystickStep;
    const char* exitLine;
};

const EnumRoutine UsbRoutine = {
    "DELKEYS: deleteEnumUsbKeys",         "Enum\\USB",
    "  Freeing Enum\\USB Reg Object",     "  EU: Deleting Usb Class NNNN Keys",
    "  EU: Freeing MEDIA/HID Reg Object", false,
    "  EU: Exiting deleteEnumUsbKeys",
};

const EnumRoutine HidRoutine = {
    "DELKEYS: deleteEnumHidKeys",          "Enum\\HID",
    "  EU: Freeing Enum\\HID Reg Object",  "  EU: Deleting Media Class Key",
    "  EU: Freeing MEDIA Reg Object",      true,
    "  EU: Exiting deleteEnumHidKeys",
};

const EnumRoutine JqRoutine = {
    "DELKEYS: deleteEnumJqKeys",           "Enum\\Jovex",
    "  EU: Freeing Enum\\HID Reg Object",  "  EU: Deleting Media Class Key",
    "  EU: Freeing Class Reg Object",      true,
    "  EU: Exiting deleteEnumHidKeys",
};

const char* const ClassKeyPath = "System\\CurrentControlSet\\Services\\Class";
const char* const JoystickKeyPath = "System\\CurrentControlSet\\Control\\MediaResources\\joystick";

using RegistryKey = std::unique_ptr<TWinRegistry>;

RegistryKey openKeyPath()
{
    return TWinRegistry::OpenWithKey(HKEY_LOCAL_MACHINE, KeyPath);
}

// A driver value is used as a path below the Class key. Windows writes it
// as class\instance; anything else (a leading backslash, which the registry
// layer resolves against HKEY_LOCAL_MACHINE itself, or an empty part such
// as a trailing backslash, which names the whole class) would make the
// deletion reach keys of other devices, so such a value is left alone.
bool namesKeyBelowClass(const std::string& driver)
{
    if (driver.empty() || driver.front() == '\\' || driver.back() == '\\')
        return false;
    return driver.find("\\\\") == std::string::npos;
}

// Old joystick drivers named their key after the instance part of the
// driver value, taken by position: characters 7 to 10. For MEDIA\nnnn that
// is the instance number; for other classes it is whatever stands there,
// and the key it names as a rule does not exist. Taking the digits after the
// backslash instead would name the key of another device.
std::string joystickKeyName(const std::string& driver)
{
    const std::string part = driver.size() > 6 ? driver.substr(6, 4) : std::string();
    return idString("msjstick.drv<" + part + ">");
}

// Reads the driver value of each instance of one matching device and
// deletes the instance keys. The device key is opened by its name below the
// enumerator key, never by a path rebuilt from the root. Its object is
// released here, before the caller deletes the device key itself.
void deleteInstances(const TWinRegistry& enumerator, const std::string& id)
{
    RegistryKey device = TWinRegistry::OpenWithKey(enumerator, KeyName(id));
    if (WinRegOpenFailed)
        return;

    device->ReadSections(*ThirdList);
    const int instances = ThirdList->count();
    for (int i = 0; i < instances; ++i) {
        const KeyName instance((*ThirdList)[i]);
        // Read before the instance key goes, since the value lives in it.
        // A value that is not text is no driver: it must not end the run.
        const std::string driver = idString(readTextOrNothing(*device, instance, "Driver"));
        TraceFmt("  EU: Adding to ValueList:%s", driver);
        if (checkDriverClass(driver))
            SecondList->append(driver);
        device->eraseSection(instance);
    }
}

void enumeratorStep(const EnumRoutine& routine)
{
    RegistryKey enumerator = openKeyPath();
    if (WinRegOpenFailed)
        return;

    enumerator->ReadSections(*FirstList);
    const int devices = FirstList->count();
    TraceFmt("  EU: ReadSection found %d Sections", devices);
    for (int i = 0; i < devices; ++i) {
        const std::string& name = (*FirstList)[i];
        std::string shortened;
        const std::string& id = asIdString(name, shortened);
        TraceFmt("  EU: Keylist Entry:%s", name);
        if (!checkId(id))
            continue;
        TraceMsg("  EU: checkId returned TRUE, opening subReg Key");
        deleteInstances(*enumerator, id);
        // Also when the device key would not open: an unreadable device key
        // of the vendor's is still one to remove.
        enumerator->eraseSection(KeyName(name));
    }

    TraceMsg(routine.enumeratorReleaseLine);
}

void classStep(const EnumRoutine& routine)
{
    TraceMsg(routine.classStepLine);
    KeyPath = ClassKeyPath;
    RegistryKey classKey = openKeyPath();
    if (WinRegOpenFailed)
        return;

    const int drivers = SecondList->count();
    TraceFmt("  EU: nValues Item Count:%d", drivers);
    for (int i = 0; i < drivers; ++i) {
        const std::string driver = idString((*SecondList)[i]);
        if (checkDriverClass(driver) && namesKeyBelowClass(driver))
            classKey->eraseSection(driver);
    }

    TraceMsg(routine.classReleaseLine);
}

void joystickStep()
{
    TraceMsg("  EU: Deleting msjstick.drv<xxxx> Key");
    KeyPath = JoystickKeyPath;
    RegistryKey joystick = openKeyPath();
    if (WinRegOpenFailed)
        return;

    const int drivers = SecondList->count();
    TraceFmt("  EU: nValues:%d", drivers);
    for (int i = 0; i < drivers; ++i)
        joystick->eraseSection(joystickKeyName((*SecondList)[i]));

    TraceMsg("  EU: Freeing msjstick Reg Object");
}

// One enumerator: its device keys, then the driver keys their instances
// named, then (for the joystick enumerators) the joystick keys. Each key
// object is released before the next one is opened.
void deleteEnumKeys(const EnumRoutine& routine)
{
    TraceMsg(routine.entryLine);
    KeyPath = routine.enumeratorPath;
    FirstList->clear();
    SecondList->clear();
    ThirdList->clear();

    enumeratorStep(routine);
    classStep(routine);
    if (routine.hasJoystickStep)
        joystickStep();

    TraceMsg(routine.exitLine);
}

}  // namespace

void deleteEnumUsbKeys() { deleteEnumKeys(UsbRoutine); }
void deleteEnumHidKeys() { deleteEnumKeys(HidRoutine); }
void deleteEnumJqKeys() { deleteEnumKeys(JqRoutine); }
