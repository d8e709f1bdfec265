#include "reg_file.h"

#include <algorithm>
#include <cstdio>
#include <fstream>
#include <sstream>

namespace regfile {

// ------------------------------------------------------------------ names

bool isTextType(uint32_t type)
{
    return type == TypeString || type == TypeExpandString || type == TypeMultiString;
}

static char upperChar(char c) { return (c >= 'a' && c <= 'z') ? static_cast<char>(c - 'a' + 'A') : c; }

std::string foldCase(std::string_view text)
{
    std::string folded(text);
    for (char& c : folded)
        c = upperChar(c);
    return folded;
}

bool equalNoCase(std::string_view a, std::string_view b)
{
    if (a.size() != b.size())
        return false;
    for (size_t i = 0; i < a.size(); ++i)
        if (upperChar(a[i]) != upperChar(b[i]))
            return false;
    return true;
}

bool lessNoCase(std::string_view a, std::string_view b)
{
    const size_t n = std::min(a.size(), b.size());
    for (size_t i = 0; i < n; ++i) {
        const auto x = static_cast<unsigned char>(upperChar(a[i]));
        const auto y = static_cast<unsigned char>(upperChar(b[i]));
        if (x != y)
            return x < y;
    }
    return a.size() < b.size();
}

// ----------------------------------------------------------------- values

Value stringValue(std::string name, std::string_view text, uint32_t type)
{
    Value v{std::move(name), type, std::vector<uint8_t>(text.begin(), text.end())};
    v.data.push_back(0);
    return v;
}

Value multiStringValue(std::string name, const std::vector<std::string>& texts)
{
    Value v{std::move(name), TypeMultiString, {}};
    for (const std::string& t : texts) {
        v.data.insert(v.data.end(), t.begin(), t.end());
        v.data.push_back(0);
    }
    v.data.push_back(0);
    return v;
}

Value dwordValue(std::string name, uint32_t number)
{
    return Value{std::move(name), TypeDword,
                 {static_cast<uint8_t>(number), static_cast<uint8_t>(number >> 8),
                  static_cast<uint8_t>(number >> 16), static_cast<uint8_t>(number >> 24)}};
}

Value binaryValue(std::string name, std::vector<uint8_t> bytes, uint32_t type)
{
    return Value{std::move(name), type, std::move(bytes)};
}

// ------------------------------------------------------------------- keys

Key* Key::find(std::string_view childName)
{
    auto it = childIndex_.find(foldCase(childName));
    return it == childIndex_.end() ? nullptr : children_[it->second].get();
}

const Key* Key::find(std::string_view childName) const
{
    return const_cast<Key*>(this)->find(childName);
}

Key& Key::ensure(std::string_view childName)
{
    std::string folded = foldCase(childName);
    auto it = childIndex_.find(folded);
    if (it != childIndex_.end())
        return *children_[it->second];
    childIndex_.emplace(std::move(folded), children_.size());
    children_.push_back(std::make_unique<Key>(std::string(childName)));
    return *children_.back();
}

bool Key::remove(std::string_view childName)
{
    auto it = childIndex_.find(foldCase(childName));
    if (it == childIndex_.end())
        return false;
    children_[it->second].reset();
    childIndex_.erase(it);
    return true;
}

std::vector<Key*> Key::subkeys()
{
    std::vector<Key*> list;
    list.reserve(childIndex_.size());
    for (auto& child : children_)
        if (child)
            list.push_back(child.get());
    std::sort(list.begin(), list.end(),
              [](const Key* a, const Key* b) { return lessNoCase(a->name(), b->name()); });
    return list;
}

std::vector<const Key*> Key::subkeys() const
{
    std::vector<Key*> list = const_cast<Key*>(this)->subkeys();
    return std::vector<const Key*>(list.begin(), list.end());
}

size_t Key::descendantCount() const
{
    size_t count = 0;
    for (const auto& child : children_)
        if (child)
            count += 1 + child->descendantCount();
    return count;
}

void Key::set(Value value)
{
    std::string folded = foldCase(value.name);
    auto it = valueIndex_.find(folded);
    if (it != valueIndex_.end()) {
        // The registry keeps the name as first written and the value's place.
        Value& existing = *values_[it->second];
        existing.type = value.type;
        existing.data = std::move(value.data);
        return;
    }
    valueIndex_.emplace(std::move(folded), values_.size());
    values_.push_back(std::make_unique<Value>(std::move(value)));
}

bool Key::removeValue(std::string_view valueName)
{
    auto it = valueIndex_.find(foldCase(valueName));
    if (it == valueIndex_.end())
        return false;
    values_[it->second].reset();
    valueIndex_.erase(it);
    return true;
}

const Value* Key::value(std::string_view valueName) const
{
    auto it = valueIndex_.find(foldCase(valueName));
    return it == valueIndex_.end() ? nullptr : values_[it->second].get();
}

std::vector<const Value*> Key::values() const
{
    std::vector<const Value*> list;
    list.reserve(valueIndex_.size());
    for (const auto& v : values_)
        if (v)
            list.push_back(v.get());
    return list;
}

// --------------------------------------------------------------- registry

std::string rootKeyName(std::string_view name)
{
    static const std::pair<const char*, const char*> roots[] = {
        {"HKEY_LOCAL_MACHINE", "HKLM"}, {"HKEY_CURRENT_USER", "HKCU"},
        {"HKEY_CLASSES_ROOT", "HKCR"},  {"HKEY_USERS", "HKU"},
        {"HKEY_CURRENT_CONFIG", "HKCC"}, {"HKEY_DYN_DATA", "HKDD"},
    };
    for (const auto& [full, brief] : roots)
        if (equalNoCase(name, full) || equalNoCase(name, brief))
            return full;
    return std::string();
}

bool splitKeyPath(std::string_view path, std::vector<std::string_view>& parts)
{
    parts.clear();
    size_t start = 0;
    while (true) {
        const size_t end = path.find('\\', start);
        const std::string_view part =
            path.substr(start, end == std::string_view::npos ? std::string_view::npos : end - start);
        if (part.empty())
            return false;
        parts.push_back(part);
        if (end == std::string_view::npos)
            return true;
        start = end + 1;
    }
}

Key* Registry::find(std::string_view path)
{
    std::vector<std::string_view> parts;
    if (!splitKeyPath(path, parts))
        return nullptr;
    const std::string root = rootKeyName(parts[0]);
    if (root.empty())
        return nullptr;
    Key* key = top.find(root);
    for (size_t i = 1; key && i < parts.size(); ++i)
        key = key->find(parts[i]);
    return key;
}

const Key* Registry::find(std::string_view path) const
{
    return const_cast<Registry*>(this)->find(path);
}

Key& Registry::create(std::string_view path)
{
    std::vector<std::string_view> parts;
    if (!splitKeyPath(path, parts))
        throw std::invalid_argument("empty key name in \"" + std::string(path) + "\"");
    const std::string root = rootKeyName(parts[0]);
    if (root.empty())
        throw std::invalid_argument("unknown root key \"" + std::string(parts[0]) + "\"");
    Key* key = &top.ensure(root);
    for (size_t i = 1; i < parts.size(); ++i)
        key = &key->ensure(parts[i]);
    return *key;
}

bool Registry::remove(std::string_view path)
{
    const size_t cut = path.rfind('\\');
    if (cut == std::string_view::npos)
        return false;
    Key* parent = find(path.substr(0, cut));
    return parent && parent->remove(path.substr(cut + 1));
}

// ------------------------------------------------------------------ errors

ParseError::ParseError(std::string file, size_t line, std::string reason)
    : std::runtime_error(file + ":" + std::to_string(line) + ": " + reason),
      file_(std::move(file)),
      line_(line),
      reason_(std::move(reason))
{
}

// ---------------------------------------------------------------- decoding

namespace {

char narrow(uint32_t codePoint) { return codePoint < 0x100 ? static_cast<char>(codePoint) : '?'; }

// The whole file as single-byte text, and the encoding it was in.
std::string decodeText(std::string_view bytes, const std::string& fileName, Encoding& encoding)
{
    auto byteAt = [&](size_t i) { return static_cast<uint8_t>(bytes[i]); };
    std::string text;
    if (bytes.size() >= 2 && byteAt(0) == 0xFE && byteAt(1) == 0xFF)
        throw ParseError(fileName, 1, "UTF-16 big-endian files are not supported (regedit writes UTF-16LE)");
    if (bytes.size() >= 2 && byteAt(0) == 0xFF && byteAt(1) == 0xFE) {
        encoding = Encoding::Utf16Le;
        if (bytes.size() % 2 != 0)
            throw ParseError(fileName, 1, "UTF-16 file with an odd number of bytes");
        text.reserve(bytes.size() / 2);
        for (size_t i = 2; i + 1 < bytes.size(); i += 2) {
            const uint32_t unit = byteAt(i) | (byteAt(i + 1) << 8);
            // A surrogate pair is one character, so it becomes one '?'.
            if (unit >= 0xDC00 && unit <= 0xDFFF && i >= 4) {
                const uint32_t before = byteAt(i - 2) | (byteAt(i - 1) << 8);
                if (before >= 0xD800 && before <= 0xDBFF)
                    continue;
            }
            text.push_back(narrow(unit));
        }
        return text;
    }
    if (bytes.size() >= 3 && byteAt(0) == 0xEF && byteAt(1) == 0xBB && byteAt(2) == 0xBF) {
        encoding = Encoding::Utf8;
        text.reserve(bytes.size());
        size_t line = 1;
        for (size_t i = 3; i < bytes.size();) {
            const uint8_t lead = byteAt(i);
            size_t extra = 0;
            uint32_t cp = lead;
            if (lead < 0x80) {
                extra = 0;
            } else if (lead >= 0xC2 && lead <= 0xDF) {
                extra = 1;
                cp = lead & 0x1F;
            } else if (lead >= 0xE0 && lead <= 0xEF) {
                extra = 2;
                cp = lead & 0x0F;
            } else if (lead >= 0xF0 && lead <= 0xF4) {
                extra = 3;
                cp = lead & 0x07;
            } else {
                throw ParseError(fileName, line, "invalid UTF-8 byte sequence");
            }
            if (i + extra >= bytes.size() && extra > 0)
                throw ParseError(fileName, line, "invalid UTF-8 byte sequence");
            for (size_t k = 1; k <= extra; ++k) {
                const uint8_t next = byteAt(i + k);
                if ((next & 0xC0) != 0x80)
                    throw ParseError(fileName, line, "invalid UTF-8 byte sequence");
                cp = (cp << 6) | (next & 0x3F);
            }
            if (cp == '\n')
                ++line;
            text.push_back(narrow(cp));
            i += extra + 1;
        }
        return text;
    }
    encoding = Encoding::Ansi;
    return std::string(bytes);
}

bool isBlank(char c) { return c == ' ' || c == '\t'; }

bool isHexDigit(char c)
{
    return (c >= '0' && c <= '9') || (c >= 'a' && c <= 'f') || (c >= 'A' && c <= 'F');
}

unsigned hexDigit(char c)
{
    if (c >= '0' && c <= '9')
        return static_cast<unsigned>(c - '0');
    return static_cast<unsigned>(upperChar(c) - 'A' + 10);
}

bool startsWithNoCase(std::string_view text, std::string_view prefix)
{
    return text.size() >= prefix.size() && equalNoCase(text.substr(0, prefix.size()), prefix);
}

// Data of a text type written as hex in a version 5 file: UTF-16LE code
// units, each turned into one byte. An odd last byte is kept as it is.
std::vector<uint8_t> narrowUtf16(const std::vector<uint8_t>& wide)
{
    std::vector<uint8_t> bytes;
    bytes.reserve(wide.size() / 2 + 1);
    size_t i = 0;
    for (; i + 1 < wide.size(); i += 2)
        bytes.push_back(static_cast<uint8_t>(narrow(wide[i] | (wide[i + 1] << 8))));
    if (i < wide.size())
        bytes.push_back(wide[i]);
    return bytes;
}

// The reader: one pass over the lines, each line looked at a bounded number
// of times, so the whole file is read in time linear in its size.
class Parser {
public:
    Parser(std::string_view text, const std::string& fileName, Registry& into)
        : text_(text), fileName_(fileName), registry_(into)
    {
    }

    FileInfo run()
    {
        std::string_view line;
        if (!nextLine(line))
            throw error("empty file: the first line must be \"Windows Registry Editor Version "
                        "5.00\" or \"REGEDIT4\"");
        readHeader(line);
        while (nextLine(line))
            readLine(line);
        info_.lines = lineNumber_;
        return info_;
    }

private:
    FileInfo info_;
    std::string_view text_;
    size_t pos_ = 0;
    size_t lineNumber_ = 0;
    const std::string& fileName_;
    Registry& registry_;
    Key* current_ = nullptr;
    bool deletedKeyLine_ = false;

    ParseError error(const std::string& reason) const
    {
        return ParseError(fileName_, lineNumber_ == 0 ? 1 : lineNumber_, reason);
    }

    // Lines end with CR LF, LF or a lone CR.
    bool nextLine(std::string_view& line)
    {
        if (pos_ >= text_.size())
            return false;
        size_t end = pos_;
        while (end < text_.size() && text_[end] != '\n' && text_[end] != '\r')
            ++end;
        line = text_.substr(pos_, end - pos_);
        if (end < text_.size() && text_[end] == '\r' && end + 1 < text_.size() && text_[end + 1] == '\n')
            pos_ = end + 2;
        else
            pos_ = end + 1;
        ++lineNumber_;
        return true;
    }

    static std::string_view trim(std::string_view s)
    {
        while (!s.empty() && isBlank(s.front()))
            s.remove_prefix(1);
        while (!s.empty() && isBlank(s.back()))
            s.remove_suffix(1);
        return s;
    }

    // Only blanks, or a comment, may follow the data on a line.
    void expectLineEnd(std::string_view rest, const char* after)
    {
        rest = trim(rest);
        if (!rest.empty() && rest.front() != ';')
            throw error(std::string("unexpected text after ") + after + ": \"" + std::string(rest) + "\"");
    }

    void readHeader(std::string_view line)
    {
        const std::string_view header = trim(line);
        if (header == "Windows Registry Editor Version 5.00") {
            info_.format = Format::Version5;
        } else if (header == "REGEDIT4") {
            info_.format = Format::Regedit4;
        } else if (header == "REGEDIT") {
            throw error("Windows 3.1 registration files (\"REGEDIT\") are not supported");
        } else {
            throw error("not a registry file: the first line must be \"Windows Registry Editor "
                        "Version 5.00\" or \"REGEDIT4\"");
        }
    }

    void readLine(std::string_view line)
    {
        std::string_view s = line;
        while (!s.empty() && isBlank(s.front()))
            s.remove_prefix(1);
        if (s.empty() || s.front() == ';')
            return;
        if (s.front() == '[')
            return readKeyLine(s);
        if (s.front() == '@' || s.front() == '"')
            return readValueLine(s);
        throw error("line not understood: \"" + std::string(trim(s)) + "\"");
    }

    void readKeyLine(std::string_view s)
    {
        const size_t close = s.rfind(']');
        if (close == std::string_view::npos)
            throw error("key line without a closing ']'");
        expectLineEnd(s.substr(close + 1), "the key name");
        std::string_view path = s.substr(1, close - 1);
        const bool deletion = !path.empty() && path.front() == '-';
        if (deletion)
            path.remove_prefix(1);
        std::vector<std::string_view> parts;
        if (path.empty())
            throw error("key line without a key name");
        if (!splitKeyPath(path, parts))
            throw error("empty key name in \"" + std::string(path) + "\"");
        if (rootKeyName(parts[0]).empty())
            throw error("unknown root key \"" + std::string(parts[0]) + "\"");
        if (parts.size() > MaxKeyDepth)
            throw error("key lies deeper than " + std::to_string(MaxKeyDepth) + " levels");
        for (std::string_view part : parts)
            if (part.size() > MaxKeyNameLength)
                throw error("key name longer than " + std::to_string(MaxKeyNameLength) +
                            " characters: \"" + std::string(part.substr(0, 40)) + "...\"");
        if (deletion) {
            if (parts.size() == 1)
                throw error("a root key cannot be deleted");
            registry_.remove(path);
            current_ = nullptr;
            deletedKeyLine_ = true;
            return;
        }
        current_ = &registry_.create(path);
    }

    // A quoted text from just after its opening quote: the text, and where
    // the rest of the line begins (after the closing quote).
    std::string readQuoted(std::string_view s, size_t& next, const char* what)
    {
        std::string out;
        size_t i = 0;
        while (i < s.size()) {
            const char c = s[i];
            if (c == '"') {
                next = i + 1;
                return out;
            }
            if (c == '\\') {
                if (i + 1 >= s.size())
                    break;
                const char e = s[i + 1];
                if (e == '\\' || e == '"')
                    out.push_back(e);
                else if (e == 'n')
                    out.push_back('\n');
                else if (e == 'r')
                    out.push_back('\r');
                else
                    throw error(std::string("unknown escape sequence \"\\") + e + "\" in " + what +
                                " (only \\\\ and \\\" are escapes)");
                i += 2;
                continue;
            }
            out.push_back(c);
            ++i;
        }
        throw error(std::string(what) + " without a closing quote");
    }

    void readValueLine(std::string_view s)
    {
        if (!current_)
            throw error(deletedKeyLine_ ? "value line after a key deletion line, outside any key"
                                        : "value line before the first key line");
        std::string name;  // "@": the default value
        std::string_view rest = s.substr(1);
        if (s.front() == '"') {
            size_t end = 0;
            name = readQuoted(rest, end, "value name");
            rest.remove_prefix(end);
        }
        while (!rest.empty() && isBlank(rest.front()))
            rest.remove_prefix(1);
        if (rest.empty() || rest.front() != '=')
            throw error("expected '=' after the value name");
        rest.remove_prefix(1);
        while (!rest.empty() && isBlank(rest.front()))
            rest.remove_prefix(1);

        if (!rest.empty() && rest.front() == '-') {
            expectLineEnd(rest.substr(1), "'-'");
            current_->removeValue(name);
            return;
        }
        if (!rest.empty() && rest.front() == '"') {
            size_t end = 0;
            const std::string text = readQuoted(rest.substr(1), end, "string data");
            expectLineEnd(rest.substr(1 + end), "the string data");
            current_->set(stringValue(std::move(name), text));
            return;
        }
        if (startsWithNoCase(rest, "dword:")) {
            current_->set(dwordValue(std::move(name), readDword(rest.substr(6))));
            return;
        }
        uint32_t type = TypeBinary;
        if (startsWithNoCase(rest, "hex:")) {
            rest.remove_prefix(4);
        } else if (startsWithNoCase(rest, "hex(")) {
            size_t i = 4;
            uint64_t number = 0;
            while (i < rest.size() && isHexDigit(rest[i]) && i < 4 + 8)
                number = number * 16 + hexDigit(rest[i++]);
            if (i == 4 || rest.substr(i, 2) != "):")
                throw error("bad value type in \"" + std::string(trim(rest.substr(0, 16))) +
                            "\": expected hex(N): with N a hexadecimal type number");
            type = static_cast<uint32_t>(number);
            rest.remove_prefix(i + 2);
        } else {
            throw error("unknown data: \"" + std::string(trim(rest)) +
                        "\" (expected \"text\", dword:, hex: or hex(N):)");
        }
        std::vector<uint8_t> data = readHex(rest);
        if (isTextType(type) && info_.format == Format::Version5)
            data = narrowUtf16(data);
        current_->set(binaryValue(std::move(name), std::move(data), type));
    }

    uint32_t readDword(std::string_view s)
    {
        while (!s.empty() && isBlank(s.front()))
            s.remove_prefix(1);
        size_t n = 0;
        uint32_t number = 0;
        while (n < s.size() && isHexDigit(s[n])) {
            if (n == 8)
                throw error("dword data with more than 8 hexadecimal digits");
            number = number * 16 + hexDigit(s[n++]);
        }
        if (n == 0)
            throw error("dword data without hexadecimal digits");
        expectLineEnd(s.substr(n), "the dword data");
        return number;
    }

    // Comma-separated bytes; a backslash at the end of a line continues the
    // data on the next line that is not blank or a comment.
    std::vector<uint8_t> readHex(std::string_view s)
    {
        std::vector<uint8_t> data;
        while (true) {
            size_t i = 0;
            bool more = false;
            while (true) {
                while (i < s.size() && isBlank(s[i]))
                    ++i;
                if (i >= s.size() || s[i] == ';')
                    break;
                if (s[i] == '\\') {
                    expectLineEnd(s.substr(i + 1), "the continuation backslash");
                    more = true;
                    break;
                }
                size_t digits = 0;
                unsigned byte = 0;
                while (i + digits < s.size() && isHexDigit(s[i + digits]) && digits < 3)
                    byte = byte * 16 + hexDigit(s[i + digits++]);
                if (digits == 0 || digits > 2) {
                    size_t end = i;
                    while (end < s.size() && s[end] != ',' && !isBlank(s[end]))
                        ++end;
                    throw error("bad hex byte \"" + std::string(s.substr(i, std::min<size_t>(end - i, 20))) +
                                "\" (expected one or two hexadecimal digits)");
                }
                data.push_back(static_cast<uint8_t>(byte));
                i += digits;
                while (i < s.size() && isBlank(s[i]))
                    ++i;
                if (i < s.size() && s[i] == ',')
                    ++i;
                else if (i < s.size() && s[i] != ';' && s[i] != '\\')
                    throw error("expected ',' between hex bytes, found \"" + std::string(1, s[i]) + "\"");
            }
            if (!more)
                return data;
            std::string_view line;
            do {
                if (!nextLine(line))
                    throw error("hex data continued with '\\' past the end of the file");
                line = trim(line);
            } while (line.empty() || line.front() == ';');
            if (!isHexDigit(line.front()))
                throw error("hex data continued with '\\', but the next line holds no hex bytes");
            s = line;
        }
    }
};

}  // namespace

FileInfo parse(std::string_view bytes, const std::string& fileName, Registry& into)
{
    Encoding encoding = Encoding::Ansi;
    const std::string text = decodeText(bytes, fileName, encoding);
    Parser parser(text, fileName, into);
    FileInfo info = parser.run();
    info.encoding = encoding;
    return info;
}

FileInfo load(const std::string& path, Registry& into)
{
    std::ifstream in(path, std::ios::binary);
    if (!in)
        throw ParseError(path, 0, "cannot open the file");
    std::ostringstream content;
    content << in.rdbuf();
    const std::string bytes = content.str();
    if (in.bad())
        throw ParseError(path, 0, "cannot read the file");
    return parse(bytes, path, into);
}

// ----------------------------------------------------------------- writing

namespace {

constexpr size_t HexLineLimit = 77;  // regedit keeps hex lines within 80 columns

std::string escaped(std::string_view text)
{
    std::string out;
    out.reserve(text.size() + 2);
    for (char c : text) {
        if (c == '\\' || c == '"')
            out.push_back('\\');
        if (c == '\n') {
            out += "\\n";
            continue;
        }
        if (c == '\r') {
            out += "\\r";
            continue;
        }
        out.push_back(c);
    }
    return out;
}

// A REG_SZ that regedit writes between quotes: one text and its final zero.
// Anything else (no final zero, a zero inside, a line break) is written as
// hex(1): so that it comes back byte for byte.
bool quotable(const Value& v)
{
    if (v.type != TypeString || v.data.empty() || v.data.back() != 0)
        return false;
    return std::none_of(v.data.begin(), v.data.end() - 1,
                        [](uint8_t b) { return b == 0 || b == '\n' || b == '\r'; });
}

void appendHex(std::string& out, size_t lineLength, const std::vector<uint8_t>& bytes)
{
    static const char digits[] = "0123456789abcdef";
    for (size_t i = 0; i < bytes.size(); ++i) {
        out.push_back(digits[bytes[i] >> 4]);
        out.push_back(digits[bytes[i] & 0xF]);
        if (i + 1 == bytes.size())
            break;
        out.push_back(',');
        lineLength += 3;
        if (lineLength >= HexLineLimit) {
            out += "\\\r\n  ";
            lineLength = 2;
        }
    }
}

void appendValue(std::string& out, const Value& v, Format format)
{
    const size_t start = out.size();
    if (v.name.empty())
        out += "@=";
    else
        out += "\"" + escaped(v.name) + "\"=";
    if (quotable(v)) {
        out += "\"" + escaped(std::string_view(reinterpret_cast<const char*>(v.data.data()),
                                               v.data.size() - 1)) + "\"";
        return;
    }
    if (v.type == TypeDword && v.data.size() == 4) {
        char buffer[16];
        const uint32_t n = v.data[0] | (v.data[1] << 8) | (v.data[2] << 16) |
                           (static_cast<uint32_t>(v.data[3]) << 24);
        std::snprintf(buffer, sizeof buffer, "dword:%08x", n);
        out += buffer;
        return;
    }
    if (v.type == TypeBinary) {
        out += "hex:";
    } else {
        char buffer[24];
        std::snprintf(buffer, sizeof buffer, "hex(%x):", v.type);
        out += buffer;
    }
    if (isTextType(v.type) && format == Format::Version5) {
        std::vector<uint8_t> wide;
        wide.reserve(v.data.size() * 2);
        for (uint8_t b : v.data) {
            wide.push_back(b);
            wide.push_back(0);
        }
        appendHex(out, out.size() - start, wide);
    } else {
        appendHex(out, out.size() - start, v.data);
    }
}

void appendKey(std::string& out, const Key& key, std::string& path, Format format)
{
    out += "[" + path + "]\r\n";
    for (const Value* v : key.values()) {
        appendValue(out, *v, format);
        out += "\r\n";
    }
    out += "\r\n";
    for (const Key* child : key.subkeys()) {
        const size_t length = path.size();
        path += "\\" + child->name();
        appendKey(out, *child, path, format);
        path.resize(length);
    }
}

}  // namespace

std::string formatValue(const Value& value, Format format)
{
    std::string out;
    appendValue(out, value, format);
    return out;
}

std::string write(const Registry& registry, const WriteOptions& options)
{
    std::string text = options.format == Format::Version5 ? "Windows Registry Editor Version 5.00\r\n\r\n"
                                                          : "REGEDIT4\r\n\r\n";
    for (const Key* root : registry.top.subkeys()) {
        std::string path = root->name();
        appendKey(text, *root, path, options.format);
    }
    switch (options.encoding) {
    case Encoding::Ansi:
        return text;
    case Encoding::Utf16Le: {
        std::string bytes = "\xFF\xFE";
        bytes.reserve(2 + text.size() * 2);
        for (char c : text) {
            bytes.push_back(c);
            bytes.push_back('\0');
        }
        return bytes;
    }
    case Encoding::Utf8: {
        std::string bytes = "\xEF\xBB\xBF";
        bytes.reserve(3 + text.size() + text.size() / 8);
        for (char c : text) {
            const auto b = static_cast<uint8_t>(c);
            if (b < 0x80) {
                bytes.push_back(c);
            } else {
                bytes.push_back(static_cast<char>(0xC0 | (b >> 6)));
                bytes.push_back(static_cast<char>(0x80 | (b & 0x3F)));
            }
        }
        return bytes;
    }
    }
    return text;
}

}  // namespace regfile
