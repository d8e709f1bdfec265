#include "support/tracers.h"

#include "platform/win32.h"

// The diagnostic build defines JQ_TRACE_ON_LOAD=1; the shipped one leaves the
// switch off for the whole life of the module.
#ifndef JQ_TRACE_ON_LOAD
#define JQ_TRACE_ON_LOAD 0
#endif

bool TraceEnabled = JQ_TRACE_ON_LOAD != 0;

void tracersLoad() { TraceEnabled = JQ_TRACE_ON_LOAD != 0; }

namespace {

void appendDecimal(std::string& out, int32_t n)
{
    int64_t value = n;
    if (value < 0) {
        out += '-';
        value = -value;
    }
    char digits[16];
    int count = 0;
    do {
        digits[count++] = static_cast<char>('0' + value % 10);
        value /= 10;
    } while (value);
    while (count)
        out += digits[--count];
}

void appendHex(std::string& out, int32_t n)
{
    uint32_t value = static_cast<uint32_t>(n);
    char digits[8];
    int count = 0;
    do {
        digits[count++] = "0123456789ABCDEF"[value & 0xF];
        value >>= 4;
    } while (value);
    while (count)
        out += digits[--count];
}

}  // namespace

std::string traceFormat(const char* format, const TraceArg* args, size_t count)
{
    std::string line;
    size_t used = 0;
    for (const char* p = format ? format : ""; *p; ++p) {
        const char directive = p[0] == '%' ? p[1] : '\0';
        if (directive != 's' && directive != 'd' && directive != 'x') {
            line += *p;
            continue;
        }
        if (used == count)
            throw ETraceFormatError(std::string("trace format has more directives than arguments: ") + format);
        const TraceArg& arg = args[used++];
        const bool wantsText = directive == 's';
        if (wantsText != (arg.kind == TraceArg::Text))
            throw ETraceFormatError(std::string("trace argument of the wrong kind for %") + directive + " in: " + format);
        if (directive == 's')
            line += arg.text;
        else if (directive == 'd')
            appendDecimal(line, arg.number);
        else
            appendHex(line, arg.number);
        ++p;
    }
    if (used != count)
        throw ETraceFormatError(std::string("trace format has fewer directives than arguments: ") + format);
    line += '\n';
    return line;
}

void traceWrite(const char* format, const TraceArg* args, size_t count)
{
    OutputDebugStringA(traceFormat(format, args, count).c_str());
}

void traceWriteText(const char* text)
{
    std::string line = text ? text : "";
    line += '\n';
    OutputDebugStringA(line.c_str());
}
