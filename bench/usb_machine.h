// Simulated machines with many enumeration keys under Enum\USB, one in a
// hundred of them the vendor's, for timing a cleaning run against the
// plain walk over the same keys.
#pragma once

#include <cstddef>
#include <string>
#include <vector>

namespace bench {

enum class Family { Win9x, NT };

// What the builder put on the machine, so that a floor walk can act on the
// vendor's keys without matching and a check can tell whether a run removed
// exactly what it should have.
struct UsbMachine {
    Family family = Family::NT;
    std::string enumPath;                  // Enum\USB, relative to HKEY_LOCAL_MACHINE
    std::string classPath;                 // where the driver keys live
    size_t keys = 0;                       // device keys under Enum\USB
    std::vector<std::string> vendorKeys;   // the vendor's, in enumeration order
    std::vector<std::string> vendorDrivers;  // 9x: their instances' driver values, same order
    size_t keysLeftAfterCleaning = 0;
};

// Resets the simulated machine and fills Enum\USB with `keys` device keys,
// every 100th the vendor's. On the 9x family each device key has one
// instance with a driver value, the vendor's naming a MEDIA driver key
// that exists. On the NT family each has one device instance (class,
// hardware id, driver key; one in three attached) that the setup API sees.
// The vendor's first 86 keys are its products' device ids, the rest
// interfaces of them ("...&MI_01"): key names must differ, and there are
// only 86 products. A cleaning run removes every one of them.
UsbMachine buildUsbMachine(Family family, size_t keys);

// Empty when the machine holds what a cleaning run should have left, else
// what differs.
std::string checkCleaned(const UsbMachine& machine);

}  // namespace bench
