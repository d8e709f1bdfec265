// Windows entry point of the DLL: the units' load-time initialisation, and at
// unload what the module and its C++ runtime hold of the host's heap.
#include "host/module_load.h"
#include "platform/win32.h"

#include <cstdlib>
#include <exception>
#include <new>

// No exception leaves an export, so std::terminate is never reached; should
// it be, the process ends as after any fatal error. The runtime's own
// handler would print the exception's demangled type to a console that an
// installer does not have, and brings the demangler and a whole printf into
// the DLL for it: this definition stands in for it at link time.
namespace __gnu_cxx {
void __verbose_terminate_handler() { std::abort(); }
}  // namespace __gnu_cxx

// The errors std::string and std::vector raise on misuse (a length beyond
// their limit, a position past the end): never expected here, since every
// text the module holds is short. The runtime's own versions construct
// std::length_error and its kin, whose message strings are of a second string
// type; linking them costs the DLL some 50 KiB of that type's code. These
// raise one plain error with the same message instead (a format as it stands,
// unfilled), which the exports catch like any other. Should the product come
// to need another of them, the link fails with "multiple definition" errors
// naming functexcept.o: that one belongs here too.
namespace {

class EStringError : public std::exception {
public:
    explicit EStringError(const char* message) : message_(message ? message : "") {}
    const char* what() const noexcept override { return message_; }

private:
    const char* message_;  // the runtime passes texts of its own, never freed
};

}  // namespace

namespace std {
[[noreturn]] void __throw_bad_alloc() { throw std::bad_alloc(); }
[[noreturn]] void __throw_bad_array_new_length() { throw std::bad_array_new_length(); }
[[noreturn]] void __throw_logic_error(const char* message) { throw EStringError(message); }
[[noreturn]] void __throw_length_error(const char* message) { throw EStringError(message); }
[[noreturn]] void __throw_out_of_range_fmt(const char* format, ...) { throw EStringError(format); }
}  // namespace std

// The MinGW runtime's thread-key bookkeeping (libgcc's emulated thread-local
// storage, which the C++ exception code uses, keeps a block per thread
// there). The runtime calls it from a TLS callback; this DLL has no TLS
// directory (c_runtime.cpp), so DllMain calls it at the same moments: on
// attach, and at every thread's and the process's detach.
extern "C" BOOL __mingw_TLScallback(HANDLE instance, DWORD reason, LPVOID reserved);

// The pool that libstdc++ sets aside at load for exceptions thrown when the
// heap is exhausted (64 KiB and more); nothing frees it but this.
namespace __gnu_cxx {
void __freeres() noexcept;
}  // namespace __gnu_cxx

extern "C" BOOL WINAPI DllMain(HINSTANCE instance, DWORD reason, LPVOID reserved)
{
    switch (reason) {
    case DLL_PROCESS_ATTACH:
        __mingw_TLScallback(instance, reason, reserved);
        moduleLoad();
        break;
    case DLL_THREAD_DETACH:
        __mingw_TLScallback(instance, reason, reserved);
        break;
    case DLL_PROCESS_DETACH:
        // A null `reserved` is FreeLibrary: the host lives on, and everything
        // the module took from its heap goes back. At process exit the other
        // threads are gone wherever they stood, perhaps inside the heap or
        // holding our state, and the heap goes with the process anyway: only
        // the runtime's own bookkeeping runs then, as it always has.
        if (!reserved)
            moduleUnload();
        __mingw_TLScallback(instance, reason, reserved);
        if (!reserved)
            __gnu_cxx::__freeres();
        break;
    default:
        break;
    }
    return TRUE;
}
