#include "devices/device_state.h"

const GUID GuidDevClassSystem = {0x4d36e97d, 0xe325, 0x11ce,
                                 {0xbf, 0xc1, 0x08, 0x00, 0x2b, 0xe1, 0x03, 0x18}};
const char RootHardwareId[] = "root\\jq_pilotdeck";

void devicesLoad() {}
