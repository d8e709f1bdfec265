// How the single-byte registry calls see names.
//
// NT keeps key names in Unicode. RegEnumKeyExA hands each one out converted
// to the ANSI code page with best fit, and RegOpenKeyExA converts the path it
// is given back the other way. A name whose characters the code page lacks
// therefore comes out as another text, which opens another key or none:
// U+FF3C (fullwidth reverse solidus) and U+2216 (set minus) both come out as
// a backslash in code page 1252, a separator once the text is used as a path.
// Microsoft's best-fit table for 1252 (published by Unicode as
// WindowsBestFit/bestfit1252.txt) holds those two and the fullwidth forms of
// ASCII; what it maps to nothing becomes '?'. Other single-byte code pages
// are given the same treatment here, which is enough for a test.
//
// In the double-byte code pages (932, 936, 949, 950) the byte 0x5C is also
// the second byte of ordinary characters, so a path is split only at the
// backslashes that stand alone.
#include "sim_internal.h"

#include <cstring>
#include <vector>

namespace sim {

namespace {

// The code points of a UTF-8 text; a malformed byte stands for itself.
std::vector<unsigned long> codePoints(const std::string& utf8)
{
    std::vector<unsigned long> out;
    for (size_t i = 0; i < utf8.size();) {
        const auto byte = static_cast<unsigned char>(utf8[i]);
        size_t extra = byte >= 0xF0 ? 3 : byte >= 0xE0 ? 2 : byte >= 0xC0 ? 1 : 0;
        if (i + extra >= utf8.size())
            extra = 0;
        unsigned long point = extra ? byte & (0x3F >> extra) : byte;
        for (size_t k = 1; k <= extra; ++k)
            point = (point << 6) | (static_cast<unsigned char>(utf8[i + k]) & 0x3F);
        out.push_back(point);
        i += extra + 1;
    }
    return out;
}

char bestFit1252(unsigned long point)
{
    if (point < 0x80 || (point >= 0xA0 && point <= 0xFF))
        return static_cast<char>(point);
    if (point >= 0xFF01 && point <= 0xFF5E)  // fullwidth ASCII
        return static_cast<char>(point - 0xFF01 + 0x21);
    switch (point) {
    case 0x2216: return '\\';  // set minus
    case 0x2215: return '/';   // division slash
    case 0x2044: return '/';   // fraction slash
    default: return '?';
    }
}

}  // namespace

bool isLeadByte(UINT codePage, unsigned char byte)
{
    switch (codePage) {
    case 932: return (byte >= 0x81 && byte <= 0x9F) || (byte >= 0xE0 && byte <= 0xFC);
    case 936:
    case 949:
    case 950: return byte >= 0x81 && byte <= 0xFE;
    default: return false;
    }
}

std::string ansiName(const RegKey& key)
{
    if (!key.unicodeName)
        return key.name;
    std::string out;
    for (unsigned long point : codePoints(key.name))
        out += machine().os.codePage == 1252 || point < 0x80 ? bestFit1252(point) : '?';
    return out;
}


namespace {

void splitNames(const char* p, const char* end, UINT codePage, std::vector<std::string>& names)
{
    std::string name;
    for (; p != end; ++p) {
        if (*p == '\\') {
            if (!name.empty())
                names.push_back(name);
            name.clear();
            continue;
        }
        name += *p;
        if (isLeadByte(codePage, static_cast<unsigned char>(*p)) && p + 1 != end)
            name += *++p;
    }
    if (!name.empty())
        names.push_back(name);
}

}  // namespace

bool splitRegistryPath(const char* path, UINT codePage, std::vector<std::string>& names)
{
    names.clear();
    if (!path)
        return true;
    if (path[0] == '\\')
        return false;
    splitNames(path, path + std::strlen(path), codePage, names);
    return true;
}

std::vector<std::string> splitMachinePath(const std::string& path, UINT codePage)
{
    std::vector<std::string> names;
    splitNames(path.data(), path.data() + path.size(), codePage, names);
    return names;
}

}  // namespace sim
