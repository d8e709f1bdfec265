// Trace output: one line per call to the debugger output channel, gated by
// a switch that the module itself never turns on. Support engineers get the
// lines from the diagnostic build, whose switch is on from load.
#pragma once

#include <cstddef>
#include <cstdint>
#include <stdexcept>
#include <string>
#include <type_traits>

extern bool TraceEnabled;

// Load-time initialisation: the switch as the build sets it (off).
void tracersLoad();

// A format whose directives do not match its arguments: a fault of the caller.
class ETraceFormatError : public std::logic_error {
public:
    using std::logic_error::logic_error;
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

template <class... Args>
inline void TraceFmt(const char* format, const Args&... args)
{
    if (!TraceEnabled)
        return;  // one byte tested; nothing formatted, nothing allocated
    const TraceArg list[sizeof...(Args) + 1] = {TraceArg(args)..., TraceArg(0)};
    traceWrite(format, list, sizeof...(Args));
}

// A line written as it stands; a "%" in it is not a directive.
inline void TraceMsg(const char* text)
{
    if (!TraceEnabled)
        return;
    traceWriteText(text);
}
