// Plain loops: a few hundred bytes of text at a time is all the DLL moves.
// This file is built with -fno-builtin and -fno-tree-loop-distribute-patterns
// (CMakeLists.txt), or the compiler would turn the loops into calls to the
// very functions they implement.
#include "runtime/c_runtime.h"

namespace crt {

void* memcpy(void* to, const void* from, size_t count)
{
    unsigned char* out = static_cast<unsigned char*>(to);
    const unsigned char* in = static_cast<const unsigned char*>(from);
    while (count--)
        *out++ = *in++;
    return to;
}

void* memmove(void* to, const void* from, size_t count)
{
    unsigned char* out = static_cast<unsigned char*>(to);
    const unsigned char* in = static_cast<const unsigned char*>(from);
    // Copying forwards into a destination that starts inside the source
    // would overwrite bytes before they are read: go backwards then.
    if (out > in && out < in + count) {
        out += count;
        in += count;
        while (count--)
            *--out = *--in;
    } else {
        while (count--)
            *out++ = *in++;
    }
    return to;
}

void* memset(void* to, int value, size_t count)
{
    unsigned char* out = static_cast<unsigned char*>(to);
    while (count--)
        *out++ = static_cast<unsigned char>(value);
    return to;
}

int memcmp(const void* a, const void* b, size_t count)
{
    const unsigned char* x = static_cast<const unsigned char*>(a);
    const unsigned char* y = static_cast<const unsigned char*>(b);
    for (; count; --count, ++x, ++y) {
        if (*x != *y)
            return *x < *y ? -1 : 1;
    }
    return 0;
}

const void* memchr(const void* where, int value, size_t count)
{
    const unsigned char* p = static_cast<const unsigned char*>(where);
    const unsigned char wanted = static_cast<unsigned char>(value);
    for (; count; --count, ++p) {
        if (*p == wanted)
            return p;
    }
    return nullptr;
}

size_t strlen(const char* text)
{
    const char* end = text;
    while (*end)
        ++end;
    return static_cast<size_t>(end - text);
}

int strncmp(const char* a, const char* b, size_t count)
{
    const unsigned char* x = reinterpret_cast<const unsigned char*>(a);
    const unsigned char* y = reinterpret_cast<const unsigned char*>(b);
    for (; count; --count, ++x, ++y) {
        if (*x != *y)
            return *x < *y ? -1 : 1;
        if (!*x)
            break;
    }
    return 0;
}

int strcmp(const char* a, const char* b) { return strncmp(a, b, static_cast<size_t>(-1)); }

bool byteCount(size_t count, size_t size, size_t* total)
{
    if (size != 0 && count > static_cast<size_t>(-1) / size)
        return false;
    *total = count * size;
    return true;
}

}  // namespace crt
