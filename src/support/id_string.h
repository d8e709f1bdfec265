// Id strings: key names, value names, hardware ids and driver values are
// held as texts of at most 255 single-byte characters; a longer text is cut
// after its 255th character when it is stored.
#pragma once

#include <string>

constexpr size_t IdStringMax = 255;

inline std::string idString(const char* text)
{
    if (!text)
        return std::string();
    size_t length = 0;
    while (length < IdStringMax && text[length])
        ++length;
    return std::string(text, length);
}

inline std::string idString(const std::string& text) { return text.substr(0, IdStringMax); }
