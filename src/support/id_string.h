// Id strings: key names, value names, hardware ids and driver values are
// held as texts of at most 255 single-byte characters; a longer text is cut
// after its 255th character when it is stored.
#pragma once

#include <string>
#include <utility>

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

inline std::string idString(std::string&& text)
{
    if (text.size() > IdStringMax)
        text.resize(IdStringMax);
    return std::move(text);
}

// The text itself when it is an id string already, as every registry name
// is, so that a walk over many names copies none of them; otherwise its
// first 255 characters, kept in `shortened`.
inline const std::string& asIdString(const std::string& text, std::string& shortened)
{
    if (text.size() <= IdStringMax)
        return text;
    shortened = text.substr(0, IdStringMax);
    return shortened;
}
