// Windows entry point of the DLL: only the units' load-time initialisation.
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

extern "C" BOOL WINAPI DllMain(HINSTANCE instance, DWORD reason, LPVOID)
{
    if (reason == DLL_PROCESS_ATTACH) {
        DisableThreadLibraryCalls(instance);
        moduleLoad();
    }
    return TRUE;
}
