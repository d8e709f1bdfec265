// Helpers shared by the files that implement the simulated calls.
#pragma once

#include "machine.h"

#include <cstddef>
#include <cstdint>
#include <type_traits>

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

// Opened first in every simulated call: each return hands its result
// through it, and it writes the result and the thread's last error into the
// call's entry in the ledger (recording the call there if nothing has yet).
// A call without a result is written when it ends. It holds the call's
// WindowsCall, so that the ledger's own allocations are never the caller's.
class Answer {
public:
    explicit Answer(const char* call) : call_(call), entry_(machine().calls.size()) {}
    ~Answer()
    {
        if (!answered_)
            machine().answered(call_, entry_, 0);
    }
    Answer(const Answer&) = delete;
    Answer& operator=(const Answer&) = delete;
    template <class T>
    T operator()(T result) const
    {
        answered_ = true;
        machine().answered(call_, entry_, asNumber(result));
        return result;
    }

private:
    template <class T>
    static long long asNumber(T result)
    {
        if constexpr (std::is_pointer_v<T>)
            return static_cast<long long>(reinterpret_cast<uintptr_t>(result));
        else if constexpr (std::is_same_v<T, std::nullptr_t>)
            return 0;
        else
            return static_cast<long long>(result);
    }
    WindowsCall windowsCall_;
    const char* call_;
    size_t entry_;
    mutable bool answered_ = false;
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
