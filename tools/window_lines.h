// What jqhost and jqdialogs share: their output lines, which the tests read
// on Linux, and how they name a window's class.
#pragma once

#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#include <windows.h>

#include <cstdio>
#include <string>
#include <vector>

// Flushed at once, so that the line interleaves with what Wine writes on
// stderr.
inline void printLine(const std::string& line)
{
    std::fputs(line.c_str(), stdout);
    std::fputc('\n', stdout);
    std::fflush(stdout);
}

// Between double quotes, a backslash, a double quote and a line break
// written \\, \" and \n, so that a reader can split the line unambiguously.
inline std::string quoted(const std::string& s)
{
    std::string out = "\"";
    for (char c : s) {
        if (c == '\\' || c == '"')
            out += '\\', out += c;
        else if (c == '\n')
            out += "\\n";
        else if (c != '\r')
            out += c;
    }
    return out + "\"";
}

inline std::string joined(const std::vector<std::string>& parts)
{
    std::string out;
    for (size_t i = 0; i < parts.size(); ++i)
        out += (i ? "|" : "") + parts[i];
    return out;
}

inline std::string className(HWND window)
{
    char name[64] = "";
    GetClassNameA(window, name, sizeof name);
    return name;
}
