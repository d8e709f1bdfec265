// The C run-time functions that the DLL's static runtime (the MinGW start-up
// code, libgcc and libstdc++) calls, provided by the DLL itself: Windows 95
// as shipped has no msvcrt.dll, and every other C runtime DLL is missing
// from some Windows the DLL runs on. c_runtime.cpp defines them under their C
// names for the DLL alone; the byte and text routines are here under names
// of their own, so that the native tests can hold them to the C library's
// behaviour without replacing the C library of the test program.
#pragma once

#include <stddef.h>

namespace crt {

void* memcpy(void* to, const void* from, size_t count);
void* memmove(void* to, const void* from, size_t count);  // the areas may overlap
void* memset(void* to, int value, size_t count);
int memcmp(const void* a, const void* b, size_t count);  // bytes compared unsigned
const void* memchr(const void* where, int value, size_t count);
size_t strlen(const char* text);
int strcmp(const char* a, const char* b);
int strncmp(const char* a, const char* b, size_t count);

// count * size, or false when the product does not fit in size_t (calloc).
bool byteCount(size_t count, size_t size, size_t* total);

}  // namespace crt
