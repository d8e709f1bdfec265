// The working state the device-node routines share within one call.
#pragma once

#include "platform/win32.h"

extern const GUID GuidDevClassSystem;  // {4D36E97D-E325-11CE-BFC1-08002BE10318}
extern const char RootHardwareId[];    // "root\jq_pilotdeck", compared case-sensitively

void devicesLoad();
