// devreg: registers, lists and removes device nodes through the setup API,
// the way Windows' own enumerators leave them, so that the end-to-end tests
// can give the library devices to find without any hardware.
//
//   devreg COMMAND... (run in order; the first one that fails stops the run)
//
//   add INSTANCE_ID CLASS_GUID HARDWARE_ID
//       registers a device node with that full instance id
//       ("USB\VID_2F7A&PID_00A1\1"), setup class ("{745A17A0-...}") and
//       first hardware id
//   list ENUMERATOR
//       prints "DEVICE INSTANCE_ID|HARDWARE_ID" for every device, present or
//       not, that the setup API selects for ENUMERATOR ("USB", "ROOT\SYSTEM",
//       "HID\VID_2F7A&PID_00A1"); the hardware id is the first one, or empty
//   remove ENUMERATOR
//       removes every device node that list would print
//
// An enumerator that names nothing on the machine lists nothing and removes
// nothing. Exit code: 0 when every command ran, 1 bad command line, 2 a
// setup API call failed (its error is printed on stderr).
#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#include <windows.h>

#include <setupapi.h>

#include "guid_text.h"

#include <fcntl.h>
#include <io.h>

#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

namespace {

class DeviceSet {
public:
    explicit DeviceSet(HDEVINFO handle) : handle_(handle) {}
    DeviceSet(const DeviceSet&) = delete;
    DeviceSet& operator=(const DeviceSet&) = delete;
    ~DeviceSet()
    {
        if (handle_ != INVALID_HANDLE_VALUE)
            SetupDiDestroyDeviceInfoList(handle_);
    }
    HDEVINFO get() const { return handle_; }
    bool valid() const { return handle_ != INVALID_HANDLE_VALUE; }

private:
    HDEVINFO handle_;
};

bool failed(const char* what, const std::string& about)
{
    std::fprintf(stderr, "devreg: %s failed for %s (error 0x%lX)\n", what, about.c_str(),
                 GetLastError());
    return false;
}

// No DICD_GENERATE_ID: the instance id is taken as given, as a bus driver
// names the devices it finds.
bool addDevice(const std::string& instanceId, const GUID& classGuid, const std::string& hardwareId)
{
    DeviceSet set(SetupDiCreateDeviceInfoList(&classGuid, nullptr));
    if (!set.valid())
        return failed("SetupDiCreateDeviceInfoList", instanceId);
    SP_DEVINFO_DATA element = {};
    element.cbSize = sizeof element;
    if (!SetupDiCreateDeviceInfoA(set.get(), instanceId.c_str(), &classGuid, nullptr, nullptr, 0,
                                  &element))
        return failed("SetupDiCreateDeviceInfoA", instanceId);
    const std::string ids = hardwareId + '\0';  // and the zero that ends the list
    if (!SetupDiSetDeviceRegistryPropertyA(set.get(), &element, SPDRP_HARDWAREID,
                                           reinterpret_cast<const BYTE*>(ids.c_str()),
                                           static_cast<DWORD>(ids.size() + 1)))
        return failed("SetupDiSetDeviceRegistryPropertyA", instanceId);
    if (!SetupDiCallClassInstaller(DIF_REGISTERDEVICE, set.get(), &element))
        return failed("DIF_REGISTERDEVICE", instanceId);
    return true;
}

struct Device {
    std::string instanceId;
    std::string hardwareId;
};

// Present and absent devices alike: the tests look for nodes left behind.
bool listDevices(const std::string& enumerator, std::vector<Device>& devices)
{
    DeviceSet set(SetupDiGetClassDevsA(nullptr, enumerator.c_str(), nullptr, DIGCF_ALLCLASSES));
    if (!set.valid())
        return true;  // nothing under that name
    SP_DEVINFO_DATA element = {};
    element.cbSize = sizeof element;
    for (DWORD index = 0; SetupDiEnumDeviceInfo(set.get(), index, &element); ++index) {
        char id[512] = {};  // an instance id has at most 200 characters
        if (!SetupDiGetDeviceInstanceIdA(set.get(), &element, id, sizeof id, nullptr))
            return failed("SetupDiGetDeviceInstanceIdA", enumerator);
        BYTE ids[1024] = {};
        if (!SetupDiGetDeviceRegistryPropertyA(set.get(), &element, SPDRP_HARDWAREID, nullptr, ids,
                                               sizeof ids - 2, nullptr))
            ids[0] = 0;
        devices.push_back({id, reinterpret_cast<const char*>(ids)});
    }
    return true;
}

bool removeDevices(const std::string& enumerator)
{
    DeviceSet set(SetupDiGetClassDevsA(nullptr, enumerator.c_str(), nullptr, DIGCF_ALLCLASSES));
    if (!set.valid())
        return true;
    SP_DEVINFO_DATA element = {};
    element.cbSize = sizeof element;
    // The elements stay in the set after their nodes are gone, so the walk
    // moves on by index rather than deleting them from the set.
    for (DWORD index = 0; SetupDiEnumDeviceInfo(set.get(), index, &element); ++index)
        if (!SetupDiRemoveDevice(set.get(), &element))
            return failed("SetupDiRemoveDevice", enumerator);
    return true;
}

void usage()
{
    std::fputs(
        "usage: devreg COMMAND...\n"
        "  add INSTANCE_ID CLASS_GUID HARDWARE_ID\n"
        "  list ENUMERATOR\n"
        "  remove ENUMERATOR\n",
        stderr);
}

}  // namespace

int main(int argc, char** argv)
{
    _setmode(_fileno(stdout), _O_BINARY);  // plain line feeds: read on Linux
    if (argc < 2) {
        usage();
        return 1;
    }
    for (int i = 1; i < argc;) {
        const std::string command = argv[i];
        if (command == "add" && i + 3 < argc) {
            GUID classGuid;
            if (!sim::parseGuidText(argv[i + 2], classGuid)) {
                std::fprintf(stderr, "devreg: not a class GUID: %s\n", argv[i + 2]);
                return 1;
            }
            if (!addDevice(argv[i + 1], classGuid, argv[i + 3]))
                return 2;
            i += 4;
        } else if (command == "list" && i + 1 < argc) {
            std::vector<Device> devices;
            if (!listDevices(argv[i + 1], devices))
                return 2;
            for (const Device& d : devices)
                std::printf("DEVICE %s|%s\n", d.instanceId.c_str(), d.hardwareId.c_str());
            std::fflush(stdout);
            i += 2;
        } else if (command == "remove" && i + 1 < argc) {
            if (!removeDevices(argv[i + 1]))
                return 2;
            i += 2;
        } else {
            usage();
            return 1;
        }
    }
    return 0;
}
