// On the NT family the vendor's device nodes are removed through the setup
// API, which takes their registry keys with them; the enumeration tree is
// only read, to learn which device ids exist.
#include "cleaning/cleaning_routines.h"

#include "cleaning/cleaning_state.h"
#include "cleaning/jqpids.h"
#include "cleaning/matching.h"
#include "platform/system_libraries.h"
#include "support/device_walk.h"
#include "support/handle_owners.h"
#include "support/id_string.h"
#include "support/tracers.h"
#include "support/winreg.h"

namespace {

struct Enumerator {
    const char* entryLine;
    const char* name;      // "USB": the first part of the device ids below it
    const char* keyPath;   // relative to HKEY_LOCAL_MACHINE
    char* deviceId;        // the routine's own template
    size_t deviceIdSize;
};

// Removes every device node, attached or not, of the given device id: the
// enumerator's name and the device key's own name below it.
void removeDeviceNodesOf(const char* deviceId)
{
    DevInfoSetHandle set(
        setupapi::SetupDiGetClassDevsA(nullptr, deviceId, ParentWindow, DIGCF_ALLCLASSES));
    if (!set)
        return;
    SP_DEVINFO_DATA element{};
    element.cbSize = sizeof(SP_DEVINFO_DATA);
    // One that cannot be deleted stays in the set: the walk steps past it,
    // or it would be found at the same index again and again.
    walkDevices(set.get(), element, {nullptr, nullptr, nullptr}, [&] {
        if (setupapi::SetupDiRemoveDevice(set.get(), &element))
            TraceMsg("  DK: DiRemove OK");
        else
            TraceMsg("  DK: DiRemove Failed");
        if (setupapi::SetupDiDeleteDeviceInfo(set.get(), &element)) {
            TraceMsg("  DK: DiDelete OK");
            return AfterElement::LeftSet;
        }
        TraceMsg("  DK: DiDelete Failed");
        return AfterElement::Next;
    });
}

void deleteEnumKeys2k(const Enumerator& e)
{
    TraceMsg(e.entryLine);
    KeyPath = e.keyPath;
    FirstList->clear();
    SecondList->clear();
    ThirdList->clear();
    {
        // Released before any device is touched: removing a device node
        // deletes keys below this one.
        std::unique_ptr<TWinRegistry> enumKey =
            TWinRegistry::OpenWithKeyReadOnly(HKEY_LOCAL_MACHINE, KeyPath);
        if (WinRegOpenFailed || !enumKey)
            return;
        enumKey->ReadSections(*FirstList);
    }
    const int count = FirstList->count();
    TraceFmt("  EU: ReadSection found %d Sections", count);
    for (int index = 0; index < count; ++index) {
        const std::string& name = (*FirstList)[index];
        std::string shortened;
        const std::string& id = asIdString(name, shortened);
        TraceFmt("  EU: Keylist Entry:%s", name);
        if (!checkId(id))
            continue;
        TraceMsg("  EU: checkId returned TRUE, opening subReg Key");
        // The device id is the key's name below the enumerator; a text that
        // is not one key name would name another device, or none.
        if (!isOneKeyName(name)) {
            TraceFmt("  WR: Not one key name, left:%s", name);
            continue;
        }
        writeProductDigits(e.deviceId, e.deviceIdSize, productDigitsOf(id));
        // The nodes to remove are those of the device id the key names. The
        // template holds only the product digits, so for a key with more
        // after them (an interface, "&MI_00") it would name another device
        // and this one's nodes would stay while the run reports a match.
        removeDeviceNodesOf((std::string(e.name) + "\\" + id).c_str());
    }
}

}  // namespace

void deleteEnumUsbKeys2k()
{
    deleteEnumKeys2k({"DELKEYS: deleteEnumUsbKeys2k", "USB", "System\\CurrentControlSet\\Enum\\USB",
                      UsbEnumDeviceId, sizeof UsbEnumDeviceId});
}

void deleteEnumGamePortKeys2k()
{
    deleteEnumKeys2k({"DELKEYS: deleteEnumGamePortKeys2k",
                      "GamePort", "System\\CurrentControlSet\\Enum\\GamePort", GamePortEnumDeviceId,
                      sizeof GamePortEnumDeviceId});
}

void deleteEnumHidKeys2k()
{
    deleteEnumKeys2k({"DELKEYS: deleteEnumHidKeys2k", "HID", "System\\CurrentControlSet\\Enum\\HID",
                      HidEnumDeviceId, sizeof HidEnumDeviceId});
}

void deleteEnumJqKeys2k()
{
    deleteEnumKeys2k({"DELKEYS: deleteEnumJqKeys2k", "Jovex", "System\\CurrentControlSet\\Enum\\Jovex",
                      JovexEnumDeviceId, sizeof JovexEnumDeviceId});
}
