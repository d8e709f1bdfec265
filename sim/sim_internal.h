// Helpers shared by the files that implement the simulated calls.
#pragma once

#include "machine.h"

namespace sim {

// For calls that report failure through their result and GetLastError:
// when a fault is injected, sets the error and tells the caller to fail.
inline bool failWithInjectedFault(const char* call)
{
    if (DWORD error = machine().injectedFault(call)) {
        machine().lastError = error;
        return true;
    }
    return false;
}

// Whatever takes a subkey out of a key calls this, so that the registry
// stops trusting the enumeration position it remembers (registry.cpp).
void subkeyRemoved();

// Sets the thread's last error and hands back a result, for one-line returns.
template <class T>
T failWith(DWORD error, T result)
{
    machine().lastError = error;
    return result;
}

}  // namespace sim

// ntdll's NtDeleteKey, which the product binds at run time: an NTSTATUS.
LONG WINAPI NtDeleteKey(HANDLE keyHandle);
