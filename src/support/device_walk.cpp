#include "support/device_walk.h"

#include "platform/system_libraries.h"
#include "support/tracers.h"

void walkDevices(HDEVINFO set, SP_DEVINFO_DATA& element, const DeviceWalkLines& lines,
                 ElementAction onElement)
{
    DWORD index = 0;
    while (true) {
        if (lines.enumerating)
            TraceMsg(lines.enumerating);
        if (!setupapi::SetupDiEnumDeviceInfo(set, index, &element)) {
            if (lines.ended)
                TraceFmt(lines.ended, GetLastError());
            return;
        }
        if (lines.enumerated)
            TraceMsg(lines.enumerated);
        const AfterElement after = onElement();
        if (after == AfterElement::Stop)
            return;
        if (after == AfterElement::Next)
            ++index;
    }
}
