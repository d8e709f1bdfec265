#include "code_page.h"

#include <algorithm>
#include <iterator>
#include <vector>

namespace regfile {

namespace {

struct Table {
    unsigned number;
    uint16_t high[128];
};

const Table Tables[] = {
#include "code_pages/code_page_tables.inc"
};

const std::vector<CodePage>& all()
{
    static const std::vector<CodePage> pages = [] {
        std::vector<CodePage> list;
        for (const Table& t : Tables)
            list.emplace_back(t.number, t.high);
        return list;
    }();
    return pages;
}

}  // namespace

CodePage::CodePage(unsigned number, const uint16_t (&high)[128]) : number_(number)
{
    std::copy(std::begin(high), std::end(high), high_);
}

const CodePage* CodePage::find(unsigned number)
{
    for (const CodePage& page : all())
        if (page.number() == number)
            return &page;
    return nullptr;
}

const CodePage& CodePage::windows1252()
{
    static const CodePage* page = find(1252);
    return *page;
}

std::string CodePage::supportedList()
{
    std::string out;
    for (const CodePage& page : all())
        out += (out.empty() ? "" : ", ") + std::to_string(page.number());
    return out;
}

bool CodePage::fromUnicode(uint32_t codePoint, uint8_t& byte) const
{
    if (codePoint < 0x80) {
        byte = static_cast<uint8_t>(codePoint);
        return true;
    }
    // 128 entries: a linear look is as quick as any index, and needs none.
    for (size_t i = 0; i < 128; ++i)
        if (high_[i] == codePoint) {
            byte = static_cast<uint8_t>(0x80 + i);
            return true;
        }
    return false;
}

void appendUtf8(std::string& out, uint32_t cp)
{
    if (cp < 0x80) {
        out.push_back(static_cast<char>(cp));
    } else if (cp < 0x800) {
        out.push_back(static_cast<char>(0xC0 | (cp >> 6)));
        out.push_back(static_cast<char>(0x80 | (cp & 0x3F)));
    } else if (cp < 0x10000) {
        out.push_back(static_cast<char>(0xE0 | (cp >> 12)));
        out.push_back(static_cast<char>(0x80 | ((cp >> 6) & 0x3F)));
        out.push_back(static_cast<char>(0x80 | (cp & 0x3F)));
    } else {
        out.push_back(static_cast<char>(0xF0 | (cp >> 18)));
        out.push_back(static_cast<char>(0x80 | ((cp >> 12) & 0x3F)));
        out.push_back(static_cast<char>(0x80 | ((cp >> 6) & 0x3F)));
        out.push_back(static_cast<char>(0x80 | (cp & 0x3F)));
    }
}

std::string CodePage::toUtf8(std::string_view bytes) const
{
    std::string out;
    out.reserve(bytes.size());
    for (char c : bytes)
        appendUtf8(out, toUnicode(static_cast<uint8_t>(c)));
    return out;
}

}  // namespace regfile
