// Helpers shared by the files that implement the simulated calls.
#pragma once

#include "machine.h"

namespace sim {

// For calls that report failure through their result and GetLastError:
// when a fault is injected, sets the error and tells the caller to fail.
// Either form records the call in the machine's ledger first.
inline bool failWithInjectedFault(CallRecord call)
{
    if (DWORD error = machine().injectedFault(std::move(call))) {
        machine().lastError = error;
        return true;
    }
    return false;
}
inline bool failWithInjectedFault(const char* call) { return failWithInjectedFault(CallRecord{call}); }

// Held for the length of every simulated call that allocates. Windows
// reports running out of memory inside a call through the call's result,
// never by throwing into its caller (a close in a destructor included), so
// an allocation fault that a test arms waits for the caller's own next
// allocation, and the simulator's bookkeeping is not counted.
struct WindowsCall {
    WindowsCall();
    ~WindowsCall();
    WindowsCall(const WindowsCall&) = delete;
    WindowsCall& operator=(const WindowsCall&) = delete;
};
// Held while a call runs the caller's code (a dialog procedure): its
// allocations are the caller's again.
struct CallerCode {
    CallerCode();
    ~CallerCode();
    CallerCode(const CallerCode&) = delete;
    CallerCode& operator=(const CallerCode&) = delete;

private:
    int savedDepth_;
};

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
