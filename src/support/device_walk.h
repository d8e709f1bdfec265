// The one walk over the elements of a device information set. Each road
// gives its own trace lines and, per element, says how the walk goes on: the
// element stayed in the set, left it (deleting it moves the next element
// down to its index, which must then be read again, or every second device
// would stay), or the walk is done.
#pragma once

#include "platform/win32.h"

#include <type_traits>

enum class AfterElement { Next, LeftSet, Stop };

struct DeviceWalkLines {
    const char* enumerating;  // before each SetupDiEnumDeviceInfo; null: none
    const char* enumerated;   // after one that found an element; null: none
    const char* ended;        // "...%x" with the error that ended the walk; null: none
};

// What the walk does with each element, passed on without a template so
// that the walk is compiled once: the callable lives for the call.
class ElementAction {
public:
    template <class F, class = std::enable_if_t<!std::is_same_v<std::decay_t<F>, ElementAction>>>
    ElementAction(F&& action)
        : action_(&action), call_([](void* a) { return (*static_cast<std::remove_reference_t<F>*>(a))(); })
    {
    }
    AfterElement operator()() const { return call_(action_); }

private:
    void* action_;
    AfterElement (*call_)(void*);
};

void walkDevices(HDEVINFO set, SP_DEVINFO_DATA& element, const DeviceWalkLines& lines,
                 ElementAction onElement);
