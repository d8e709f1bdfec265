// GCC's "win32" thread model, which Debian's MinGW-w64 cross compilers use,
// provides no std::mutex and no std::condition_variable before GCC 13, and
// GoogleTest's Windows port needs both for its start-up notification. This
// header, included before everything else in GoogleTest and the cross-built
// tests, fills the gap with the Windows primitives. It does nothing where
// the library has them.
#pragma once

#include <mutex>

#if !defined(_GLIBCXX_HAS_GTHREADS)

#include <windows.h>

namespace std {

class mutex {
public:
    mutex() = default;
    mutex(const mutex&) = delete;
    mutex& operator=(const mutex&) = delete;
    void lock() { AcquireSRWLockExclusive(&lock_); }
    bool try_lock() { return TryAcquireSRWLockExclusive(&lock_) != 0; }
    void unlock() { ReleaseSRWLockExclusive(&lock_); }
    PSRWLOCK native_handle() { return &lock_; }

private:
    SRWLOCK lock_ = SRWLOCK_INIT;
};

class condition_variable {
public:
    condition_variable() = default;
    condition_variable(const condition_variable&) = delete;
    condition_variable& operator=(const condition_variable&) = delete;
    void notify_one() { WakeConditionVariable(&condition_); }
    void notify_all() { WakeAllConditionVariable(&condition_); }
    void wait(unique_lock<mutex>& held)
    {
        SleepConditionVariableSRW(&condition_, held.mutex()->native_handle(), INFINITE, 0);
    }
    template <class Predicate>
    void wait(unique_lock<mutex>& held, Predicate ready)
    {
        while (!ready())
            wait(held);
    }

private:
    CONDITION_VARIABLE condition_ = CONDITION_VARIABLE_INIT;
};

}  // namespace std

#endif
