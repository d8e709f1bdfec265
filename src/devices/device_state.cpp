#include "devices/device_state.h"

#include "platform/system_libraries.h"
#include "support/id_string.h"
#include "support/tracers.h"

#include <cstring>

const GUID GuidDevClassSystem = {0x4d36e97d, 0xe325, 0x11ce,
                                 {0xbf, 0xc1, 0x08, 0x00, 0x2b, 0xe1, 0x03, 0x18}};
const char RootHardwareId[] = "root\\jq_pilotdeck";

DevInfoSetHandle DevInfoSet;
SP_DEVINFO_DATA DevInfoData;
BYTE HardwareIdBuffer[256];
BYTE DriverValueBuffer[256];

std::string firstTextOf(const BYTE* buffer, DWORD used)
{
    size_t length = 0;
    while (length < used && length < IdStringMax && buffer[length])
        ++length;
    return std::string(reinterpret_cast<const char*>(buffer), length);
}

bool DevInfoSetScope::got() const
{
    if (!opened()) {
        TraceMsg("  I2K: Could not get HDEVINFO");
        return false;
    }
    TraceMsg("  I2K: Got DeviceInfoSet Handle!");
    DevInfoData.cbSize = sizeof(SP_DEVINFO_DATA);
    return true;
}

bool readElementProperty(DWORD property, BYTE* buffer, DWORD* requiredSize)
{
    DWORD size = PropertyBufferUsed;
    DWORD dataType = 0;
    const bool read = setupapi::SetupDiGetDeviceRegistryPropertyA(
        DevInfoSet.get(), &DevInfoData, property, &dataType, buffer, PropertyBufferUsed, &size);
    if (!read)
        TraceFmt("  I2K: GetRegistryProperty Error - tVal:%x", GetLastError());
    if (requiredSize)
        *requiredSize = size;
    return read;
}

void devicesLoad()
{
    DevInfoSet.release();  // a handle from before the load is not ours to destroy
    std::memset(&DevInfoData, 0, sizeof DevInfoData);
    std::memset(HardwareIdBuffer, 0, sizeof HardwareIdBuffer);
    std::memset(DriverValueBuffer, 0, sizeof DriverValueBuffer);
}
