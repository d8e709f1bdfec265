// The working state the device-node routines share within one call.
#pragma once

#include "platform/win32.h"
#include "support/handle_owners.h"

#include <string>

extern const GUID GuidDevClassSystem;  // {4D36E97D-E325-11CE-BFC1-08002BE10318}
extern const char RootHardwareId[];    // "root\jq_pilotdeck", compared case-sensitively

// The device information set of the routine under way, its current
// element, and the buffers its property reads fill. Only meaningful inside
// the call that set them.
extern DevInfoSetHandle DevInfoSet;
extern SP_DEVINFO_DATA DevInfoData;

// The property calls are told 250 bytes of each 256-byte buffer.
constexpr DWORD PropertyBufferUsed = 250;
extern BYTE HardwareIdBuffer[256];
extern BYTE DriverValueBuffer[256];

// The first text of a property buffer, read no further than the bytes the
// call was told of: a value the system did not end still ends there.
std::string firstTextOf(const BYTE* buffer, DWORD used);

// Owns DevInfoSet for one routine: whatever way the routine is left, the
// set it opened is destroyed before the next routine opens one.
class DevInfoSetScope {
public:
    explicit DevInfoSetScope(HDEVINFO set) { DevInfoSet.reset(set); }
    ~DevInfoSetScope() { DevInfoSet.reset(); }
    DevInfoSetScope(const DevInfoSetScope&) = delete;
    DevInfoSetScope& operator=(const DevInfoSetScope&) = delete;

    bool opened() const { return DevInfoSet.valid(); }
    void destroy() { DevInfoSet.reset(); }
    // Traces whether the set was got, as each routine that asks for one
    // does, and readies DevInfoData for the walk; true when it was got.
    bool got() const;
};

// Reads a registry property of the element DevInfoData describes into
// buffer (told PropertyBufferUsed bytes), and the size the call reports
// where asked; a failure is traced with its error.
bool readElementProperty(DWORD property, BYTE* buffer, DWORD* requiredSize = nullptr);

void devicesLoad();
