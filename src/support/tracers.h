// Trace output: one line per call to the debugger output channel, gated by
// a switch that the module itself never turns on. Support engineers get the
// lines from the diagnostic build, whose switch is on from load.
#pragma once

#include "support/errors.h"

#include <cstddef>
#include <cstdint>
#include <string>
#include <type_traits>

extern bool TraceEnabled;

// Load-time initialisation: the switch as the build sets it (off).
void tracersLoad();

// A format whose directives do not match its arguments: a fault of the caller.
class ETraceFormatError : public EModuleError {
public:
    using EModuleError::EModuleError;
};

// One argument of a trace line: a 32-bit integer for "%d" and "%x", or a
// text for "%s". Built on the caller's stack; it never allocates.
struct TraceArg {
    enum Kind { Integer, Text } kind;
    int32_t number;
    const char* text;

    TraceArg(const char* s) : kind(Text), number(0), text(s ? s : "") {}
    TraceArg(const std::string& s) : kind(Text), number(0), text(s.c_str()) {}
    template <class T, class = std::enable_if_t<std::is_integral_v<T> || std::is_enum_v<T>>>
    TraceArg(T n) : kind(Integer), number(static_cast<int32_t>(n)), text(nullptr)
    {
    }
};

// Formats "%s", "%d" and "%x" (32 bits, upper-case digits, no prefix, no
// fill) and writes the line with one line feed. Throws ETraceFormatError
// when the directives and the arguments do not agree.
std::string traceFormat(const char* format, const TraceArg* args, size_t count);
void traceWrite(const char* format, const TraceArg* args, size_t count);
void traceWriteText(const char* text);

#ifdef JQ_TRACE_COMPILED_OUT

// A build without trace calls at all, kept only to measure what the calls
// cost with the switch off. The arguments are still evaluated at the call
// sites, as they are in the shipped build.
template <class... Args>
inline void TraceFmt(const char*, const Args&...)
{
}

inline void TraceMsg(const char*) {}

#else

// Out of the caller's way: the callers test the switch in their innermost
// loops, and the code that packs the arguments would otherwise sit there.
template <class... Args>
[[gnu::cold, gnu::noinline]] void traceWriteArgs(const char* format, const Args&... args)
{
    const TraceArg list[sizeof...(Args) + 1] = {TraceArg(args)..., TraceArg(0)};
    traceWrite(format, list, sizeof...(Args));
}

template <class... Args>
inline void TraceFmt(const char* format, const Args&... args)
{
    if (!TraceEnabled)
        return;  // one byte tested; nothing formatted, nothing allocated
    traceWriteArgs(format, args...);
}

// A line written as it stands; a "%" in it is not a directive.
inline void TraceMsg(const char* text)
{
    if (!TraceEnabled)
        return;
    traceWriteText(text);
}

#endif  // JQ_TRACE_COMPILED_OUT
