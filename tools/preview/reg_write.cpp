#include "reg_file.h"

#include <ostream>
#include <sstream>

namespace regfile {

namespace {

constexpr size_t HexLineLimit = 77;  // regedit keeps hex lines within 80 columns

std::string escaped(std::string_view text)
{
    std::string out;
    out.reserve(text.size() + 2);
    for (char c : text) {
        if (c == '\\' || c == '"')
            out.push_back('\\');
        if (c == '\n')
            out += "\\n";
        else if (c == '\r')
            out += "\\r";
        else
            out.push_back(c);
    }
    return out;
}

// A REG_SZ that regedit writes between quotes: one text and its final zero.
// Anything else (no final zero, a zero inside, a line break) is written as
// hex(1): so that it comes back byte for byte.
bool quotable(const Value& v)
{
    if (v.type != REG_SZ || v.data.empty() || v.data.back() != 0)
        return false;
    return std::none_of(v.data.begin(), v.data.end() - 1,
                        [](uint8_t b) { return b == 0 || b == '\n' || b == '\r'; });
}

// Single-byte text of the code page as UTF-16LE bytes.
template <typename Bytes, typename Text>
Bytes utf16le(const Text& text, const CodePage& codePage)
{
    Bytes bytes;
    bytes.reserve(text.size() * 2);
    for (const auto c : text) {
        const uint32_t unit = codePage.toUnicode(static_cast<uint8_t>(c));
        bytes.push_back(static_cast<typename Bytes::value_type>(unit & 0xFF));
        bytes.push_back(static_cast<typename Bytes::value_type>(unit >> 8));
    }
    return bytes;
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

void appendValue(std::string& out, const Value& v, Format format, const CodePage& codePage)
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
    if (v.type == REG_DWORD && v.data.size() == 4) {
        char buffer[16];
        const uint32_t n = v.data[0] | (v.data[1] << 8) | (v.data[2] << 16) |
                           (static_cast<uint32_t>(v.data[3]) << 24);
        std::snprintf(buffer, sizeof buffer, "dword:%08x", n);
        out += buffer;
        return;
    }
    if (v.type == REG_BINARY) {
        out += "hex:";
    } else {
        char buffer[24];
        std::snprintf(buffer, sizeof buffer, "hex(%x):", v.type);
        out += buffer;
    }
    if (isTextType(v.type) && format == Format::Version5)
        appendHex(out, out.size() - start, utf16le<std::vector<uint8_t>>(v.data, codePage));
    else
        appendHex(out, out.size() - start, v.data);
}

// Text on its way to a stream in the file's encoding, a part at a time:
// a whole registry's text is never held at once.
class EncodedOutput {
public:
    EncodedOutput(std::ostream& out, Encoding encoding, const CodePage& codePage)
        : out_(out), encoding_(encoding), codePage_(codePage)
    {
        if (encoding == Encoding::Utf16Le)
            out_.write("\xFF\xFE", 2);
        else if (encoding == Encoding::Utf8)
            out_.write("\xEF\xBB\xBF", 3);
    }

    std::string text;  // appended to by the writer, taken by flush()

    void flushWhenLarge()
    {
        if (text.size() >= (1u << 20))
            flush();
    }

    void flush()
    {
        if (encoding_ == Encoding::Ansi) {
            out_.write(text.data(), static_cast<std::streamsize>(text.size()));
        } else {
            const std::string bytes =
                encoding_ == Encoding::Utf16Le ? utf16le<std::string>(text, codePage_) : codePage_.toUtf8(text);
            out_.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
        }
        text.clear();
    }

private:
    std::ostream& out_;
    Encoding encoding_;
    const CodePage& codePage_;
};

void appendKey(EncodedOutput& output, const Key& key, std::string& path, Format format, const CodePage& codePage)
{
    std::string& out = output.text;
    out += "[" + path + "]\r\n";
    for (const Value& v : key.values) {
        appendValue(out, v, format, codePage);
        out += "\r\n";
    }
    out += "\r\n";
    output.flushWhenLarge();
    for (const auto& [index, child] : key.subkeys) {
        const size_t length = path.size();
        path += "\\" + child->name;
        appendKey(output, *child, path, format, codePage);
        path.resize(length);
    }
}

}  // namespace

void write(const Registry& registry, const WriteOptions& options, std::ostream& out)
{
    const CodePage& codePage = options.codePage ? *options.codePage : CodePage::windows1252();
    EncodedOutput output(out, options.encoding, codePage);
    output.text = options.format == Format::Version5 ? "Windows Registry Editor Version 5.00\r\n\r\n"
                                                     : "REGEDIT4\r\n\r\n";
    for (const auto& [name, root] : registry.roots) {
        std::string path = root->name;
        appendKey(output, *root, path, options.format, codePage);
    }
    output.flush();
}

std::string write(const Registry& registry, const WriteOptions& options)
{
    std::ostringstream out;
    write(registry, options, out);
    return out.str();
}

}  // namespace regfile
