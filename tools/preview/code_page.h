// The single-byte Windows code pages ("ANSI" code pages) in which a
// customer's machine keeps the texts that the library reads through the A
// calls. A registry export in ANSI holds those bytes as they are; a Unicode
// export holds characters, which only the machine's code page turns back
// into the bytes the library would see.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

namespace regfile {

class CodePage {
public:
    // The code page of that number; null when it is not one of ours.
    static const CodePage* find(unsigned number);
    static const CodePage& windows1252();
    // "874, 1250, 1251, ..." for messages.
    static std::string supportedList();

    unsigned number() const { return number_; }
    uint32_t toUnicode(uint8_t byte) const
    {
        return byte < 0x80 ? byte : high_[byte - 0x80];
    }
    // False when the code page has no byte for the character.
    bool fromUnicode(uint32_t codePoint, uint8_t& byte) const;
    // Bytes of this code page as UTF-8, for a terminal or a JSON text.
    std::string toUtf8(std::string_view bytes) const;

    CodePage(unsigned number, const uint16_t (&high)[128]);

private:
    unsigned number_;
    uint16_t high_[128];
};

// One character as UTF-8.
void appendUtf8(std::string& out, uint32_t codePoint);

}  // namespace regfile
