// Arbitrary format texts and argument lists for the trace formatter.
//
// Input: the format, a zero byte, then the arguments, each a kind byte
// followed by its value: an even kind byte takes the next four bytes as a
// little-endian integer (missing bytes count as zero), an odd one takes a
// text up to the next zero byte or the end.
//
// The formatter must refuse (ETraceFormatError) exactly the formats whose
// directives do not match the arguments, and otherwise write exactly the
// line that the directives describe, computed here with the C library.
#include "host/module_load.h"
#include "machine.h"
#include "support/tracers.h"

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <optional>
#include <string>
#include <vector>

namespace {

void require(bool condition, const char* what)
{
    if (!condition) {
        std::fprintf(stderr, "trace format: %s\n", what);
        std::abort();
    }
}

struct Argument {
    bool isText;
    int32_t number;
    std::string text;
};

std::vector<Argument> readArguments(const uint8_t* p, const uint8_t* end)
{
    std::vector<Argument> arguments;
    while (p < end) {
        const bool isText = (*p++ & 1) != 0;
        Argument a{isText, 0, std::string()};
        if (isText) {
            const uint8_t* stop = static_cast<const uint8_t*>(std::memchr(p, 0, end - p));
            if (!stop)
                stop = end;
            a.text.assign(reinterpret_cast<const char*>(p), stop - p);
            p = stop == end ? end : stop + 1;
        } else {
            uint32_t value = 0;
            for (int i = 0; i < 4 && p < end; ++i)
                value |= static_cast<uint32_t>(*p++) << (8 * i);
            a.number = static_cast<int32_t>(value);
        }
        arguments.push_back(a);
    }
    return arguments;
}

// The line, or nothing when directives and arguments do not agree. A "%"
// that does not begin "%s", "%d" or "%x" is an ordinary character.
std::optional<std::string> expectedLine(const char* format, const std::vector<Argument>& args)
{
    std::string line;
    size_t used = 0;
    for (const char* p = format; *p; ++p) {
        if (p[0] != '%' || (p[1] != 's' && p[1] != 'd' && p[1] != 'x')) {
            line += *p;
            continue;
        }
        const char directive = *++p;
        if (used == args.size() || args[used].isText != (directive == 's'))
            return std::nullopt;
        const Argument& a = args[used++];
        char number[16];
        if (directive == 's')
            line += a.text.c_str();
        else if (directive == 'd')
            line += (std::snprintf(number, sizeof number, "%ld", static_cast<long>(a.number)), number);
        else
            line += (std::snprintf(number, sizeof number, "%lX",
                                   static_cast<unsigned long>(static_cast<uint32_t>(a.number))),
                     number);
    }
    if (used != args.size())
        return std::nullopt;
    return line + "\n";
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***)
{
    moduleLoad();
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    const uint8_t* end = data + size;
    const uint8_t* zero = static_cast<const uint8_t*>(std::memchr(data, 0, size));
    const std::string format(reinterpret_cast<const char*>(data), (zero ? zero : end) - data);
    const std::vector<Argument> arguments = readArguments(zero ? zero + 1 : end, end);

    std::vector<TraceArg> list;
    for (const Argument& a : arguments) {
        if (a.isText)
            list.emplace_back(a.text);
        else
            list.emplace_back(a.number);
    }

    const std::optional<std::string> expected = expectedLine(format.c_str(), arguments);
    try {
        const std::string line = traceFormat(format.c_str(), list.data(), list.size());
        require(expected.has_value(), "a format that does not match its arguments was accepted");
        require(line == *expected, "the line differs from what the directives describe");
    } catch (const ETraceFormatError&) {
        require(!expected.has_value(), "a format that matches its arguments was refused");
    }

    sim::Machine& m = sim::machine();
    m.debugger.texts.clear();

    // With the switch off nothing is looked at, so nothing can fail.
    TraceEnabled = false;
    TraceFmt(format.c_str(), 1, "text");
    TraceMsg(format.c_str());
    require(m.debugger.texts.empty(), "a line was written with the switch off");

    // A text is written as it stands, a "%" in it included.
    TraceEnabled = true;
    TraceMsg(format.c_str());
    require(m.debugger.texts.size() == 1 && m.debugger.texts[0] == format.c_str() + std::string("\n"),
            "TraceMsg changed its text");
    TraceEnabled = false;
    m.debugger.texts.clear();
    return 0;
}
