// The C functions of the DLL's static runtime, over kernel32 alone, so that
// the DLL imports no C runtime DLL: Windows 95 as shipped has no msvcrt.dll.
// Which functions these are is what the link asks for: the MinGW start-up
// code (_initterm, _amsg_exit, the exit table's _lock/_unlock), libgcc's
// unwinder and emulated thread-local storage, and libstdc++ (operator new,
// std::string, type_info). Built into the DLL only (windows/CMakeLists.txt).
#include "platform/win32.h"
#include "runtime/c_runtime.h"

extern "C" {

// ---------------------------------------------------------------- the heap
// The process heap, as the C runtime of every Windows has underneath: the
// memory outlives nothing of ours, and what the DLL frees at unload goes
// back to the host. HeapAlloc with no flags returns 8-byte aligned blocks on
// 32-bit Windows and 16-byte aligned ones on 64-bit, as msvcrt's malloc does.

void* malloc(size_t size) { return HeapAlloc(GetProcessHeap(), 0, size ? size : 1); }

void free(void* block)
{
    if (block)
        HeapFree(GetProcessHeap(), 0, block);
}

void* calloc(size_t count, size_t size)
{
    size_t total = 0;
    if (!crt::byteCount(count, size, &total))
        return nullptr;
    return HeapAlloc(GetProcessHeap(), HEAP_ZERO_MEMORY, total ? total : 1);
}

// As msvcrt's: a null block is a new one, a size of 0 frees the block and
// gives null; when the block cannot grow it stays as it was and null is
// returned.
void* realloc(void* block, size_t size)
{
    if (!block)
        return malloc(size);
    if (size == 0) {
        free(block);
        return nullptr;
    }
    return HeapReAlloc(GetProcessHeap(), 0, block, size);
}

// ---------------------------------------------------------- bytes and text

void* memcpy(void* to, const void* from, size_t count) { return crt::memcpy(to, from, count); }
void* memmove(void* to, const void* from, size_t count) { return crt::memmove(to, from, count); }
void* memset(void* to, int value, size_t count) { return crt::memset(to, value, count); }
int memcmp(const void* a, const void* b, size_t count) { return crt::memcmp(a, b, count); }
void* memchr(const void* where, int value, size_t count)
{
    return const_cast<void*>(crt::memchr(where, value, count));
}
size_t strlen(const char* text) { return crt::strlen(text); }
int strcmp(const char* a, const char* b) { return crt::strcmp(a, b); }
int strncmp(const char* a, const char* b, size_t count) { return crt::strncmp(a, b, count); }

// ------------------------------------------------------- ending the process
// Reached only on a fault of the runtime itself (std::terminate, a broken
// start-up): the process ends at once, as after msvcrt's abort, with its
// exit code; no other DLL's detach code runs in a process in that state.

[[noreturn]] static void endProcess(UINT code)
{
    TerminateProcess(GetCurrentProcess(), code);
    ExitProcess(code);  // should the process not be ours to end
}

[[noreturn]] void abort() { endProcess(3); }
[[noreturn]] void _amsg_exit(int) { endProcess(255); }

// ------------------------------------------------------------- start-up

typedef void(__cdecl* InitFunction)(void);

// Runs the initialisers (the C++ constructors among them) in table order;
// the table has empty slots.
void _initterm(InitFunction* first, InitFunction* last)
{
    for (; first < last; ++first) {
        if (*first)
            (*first)();
    }
}

// The start-up code runs a TLS callback when this is set; tlssup.o, which
// sets it, also gives the DLL a TLS directory, and Windows 95's LoadLibrary
// refuses a DLL with one (KB Q118816). Defining it here keeps tlssup.o out.
// What its callback did for the runtime is done from DllMain (dllmain.cpp).
extern const PIMAGE_TLS_CALLBACK __dyn_tls_init_callback = nullptr;

// Pseudo relocations are how the MinGW linker patches references to data
// of other DLLs (auto-import). The DLL imports functions only, and the link
// refuses to make any (--disable-runtime-pseudo-reloc, --disable-auto-import:
// windows/CMakeLists.txt), so the runtime's relocator, whose error report
// needs stdio, has nothing to do; a list that is not empty after all ends
// the process rather than leave data unpatched.
extern char __RUNTIME_PSEUDO_RELOC_LIST__;
extern char __RUNTIME_PSEUDO_RELOC_LIST_END__;
void _pei386_runtime_relocator(void)
{
    if (&__RUNTIME_PSEUDO_RELOC_LIST__ != &__RUNTIME_PSEUDO_RELOC_LIST_END__)
        _amsg_exit(0);
}

// ---------------------------------------------------------------- locks
// msvcrt's numbered locks; the start-up code's exit table takes one while
// it registers or runs the C++ destructors. They are taken before any
// constructor of ours has run, so they need no initialisation: a lock is
// its owner's thread id (0 when free) and a depth, since a thread may take
// a lock it holds, as with a critical section. InterlockedCompareExchange
// is not on Windows 95: the compiler's atomics are single instructions.

namespace {

struct NumberedLock {
    DWORD owner;
    unsigned depth;
};

NumberedLock numberedLocks[64];

NumberedLock* lockNumbered(int number)
{
    if (number < 0 || number >= static_cast<int>(sizeof numberedLocks / sizeof numberedLocks[0]))
        endProcess(255);
    return &numberedLocks[number];
}

}  // namespace

void _lock(int number)
{
    NumberedLock* lock = lockNumbered(number);
    const DWORD self = GetCurrentThreadId();
    if (__atomic_load_n(&lock->owner, __ATOMIC_ACQUIRE) == self) {
        ++lock->depth;
        return;
    }
    for (unsigned tries = 0;; ++tries) {
        DWORD expected = 0;
        if (__atomic_compare_exchange_n(&lock->owner, &expected, self, false, __ATOMIC_ACQUIRE,
                                        __ATOMIC_RELAXED))
            break;
        Sleep(tries < 64 ? 0 : 1);  // Sleep(0) alone never yields to a lower-priority owner
    }
    lock->depth = 1;
}

void _unlock(int number)
{
    NumberedLock* lock = lockNumbered(number);
    if (__atomic_load_n(&lock->owner, __ATOMIC_RELAXED) != GetCurrentThreadId())
        return;  // not held by this thread: nothing of ours to release
    if (--lock->depth == 0)
        __atomic_store_n(&lock->owner, 0, __ATOMIC_RELEASE);
}

}  // extern "C"
