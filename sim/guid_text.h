// A GUID from its registry text, "{4D36E97D-E325-11CE-BFC1-08002BE10318}".
// Plain C++ over any GUID structure, so that the simulator and the 32-bit
// device tool read class GUIDs alike.
#pragma once

#include <cstdio>
#include <string>

namespace sim {

template <class Guid>
bool parseGuidText(const std::string& text, Guid& guid)
{
    unsigned long d1 = 0;
    unsigned d2 = 0, d3 = 0, b[8] = {};
    char end = 0;
    if (text.size() != 38 || text.front() != '{' ||
        std::sscanf(text.c_str(), "{%8lx-%4x-%4x-%2x%2x-%2x%2x%2x%2x%2x%2x%c", &d1, &d2, &d3, &b[0],
                    &b[1], &b[2], &b[3], &b[4], &b[5], &b[6], &b[7], &end) != 12 ||
        end != '}')
        return false;
    guid.Data1 = static_cast<decltype(guid.Data1)>(d1);
    guid.Data2 = static_cast<decltype(guid.Data2)>(d2);
    guid.Data3 = static_cast<decltype(guid.Data3)>(d3);
    for (int i = 0; i < 8; ++i)
        guid.Data4[i] = static_cast<unsigned char>(b[i]);
    return true;
}

}  // namespace sim
