#include "reg_text.h"

#include <fstream>
#include <functional>
#include <unordered_map>
#include <unordered_set>

namespace regfile {

namespace {

bool isBlank(char c) { return c == ' ' || c == '\t'; }

bool isHexDigit(char c)
{
    return (c >= '0' && c <= '9') || (c >= 'a' && c <= 'f') || (c >= 'A' && c <= 'F');
}

unsigned hexDigit(char c)
{
    if (c >= '0' && c <= '9')
        return static_cast<unsigned>(c - '0');
    return static_cast<unsigned>(c >= 'a' ? c - 'a' + 10 : c - 'A' + 10);
}

bool startsWithNoCase(std::string_view text, std::string_view prefix)
{
    return text.size() >= prefix.size() && sim::equalNoCase(text.substr(0, prefix.size()), prefix);
}

bool isHeader(std::string_view line, Format& format)
{
    if (line != "Windows Registry Editor Version 5.00" && line != "REGEDIT4")
        return false;
    format = line == "REGEDIT4" ? Format::Regedit4 : Format::Version5;
    return true;
}

// The reader: one pass over the lines, each line looked at a bounded number
// of times, so the whole file is read in time linear in its size.
//
// What regedit imports, this reads: a line regedit passes over (a '#'
// comment, a value outside any key, data it cannot convert) is skipped with
// a warning naming its line. Strict reading refuses the file at such a
// line instead.
class Parser {
public:
    Parser(TextBuffer& text, const std::string& fileName, Registry& into, const ReadOptions& options,
           const CodePage& codePage, const LostCharacters& lost)
        : buffer_(text), text_(text), fileName_(fileName), registry_(into), strict_(options.strict), codePage_(codePage),
          lost_(lost), keepKey_(options.keepKey), keepValue_(options.keepValue)
    {
    }

    FileInfo run()
    {
        std::string_view line;
        if (!nextLine(line))
            throw error("empty file: the first line must be \"Windows Registry Editor Version "
                        "5.00\" or \"REGEDIT4\"");
        readHeader(line);
        while (nextLine(line)) {
            const size_t first = lineNumber_;
            try {
                readLine(line);
            } catch (const ParseError& e) {
                if (strict_)
                    throw;
                warn(first, e.reason() + (lineNumber_ > first ? "; lines " + std::to_string(first) + " to " +
                                                                   std::to_string(lineNumber_) +
                                                                   " skipped, as regedit skips them"
                                                             : std::string("; skipped, as regedit skips it")));
            }
        }
        if (info_.lossyTexts > 1)
            info_.notes.push_back(fileName_ + ": " + std::to_string(info_.lossyTexts) +
                                  " names and texts hold characters code page " + std::to_string(codePage_.number()) +
                                  " lacks (the first at line " + std::to_string(info_.firstLossyLine) +
                                  "): they read as '?'; name the machine's code page with --code-page");
        if (crcrlfLine_)
            info_.notes.push_back(fileName_ + ": its lines end with CR CR LF (line " + std::to_string(crcrlfLine_) +
                                  " is the first), as after two text-mode copies; each is read as one line end");
        info_.lines = lineNumber_;
        return info_;
    }

private:
    FileInfo info_;
    TextBuffer& buffer_;
    std::string_view text_;
    size_t pos_ = 0;
    size_t released_ = 0;  // the text before it is given back
    size_t lineNumber_ = 0;
    size_t crcrlfLine_ = 0;
    const std::string& fileName_;
    Registry& registry_;
    bool strict_;
    const CodePage& codePage_;
    const LostCharacters& lost_;
    size_t lostCursor_ = 0;
    Format format_ = Format::Version5;
    Key* current_ = nullptr;
    // The current key's values by folded name, so that a key with very many
    // values is read in linear time; built on the first value of a key line
    // and forgotten when a value is removed.
    std::unordered_map<std::string, size_t> valueIndex_;
    bool valuesIndexed_ = false;
    std::string leftOutPath_;  // the key being read but not kept, when one is
    std::unordered_set<size_t> leftOutKeys_;  // hashes of the folded paths left out
    const std::function<bool(std::string_view)>& keepKey_;
    const std::function<bool(const Value&)>& keepValue_;
    std::string currentPath_;  // folded, for names made equal by the code page
    std::string skippedKeyLine_;  // why a value line has no key to go to, once it has none
    // Names that held characters the code page lacks: as read, folded, to
    // the name as the file has it and its line.
    std::unordered_map<std::string, std::pair<std::string, size_t>> lossyNames_;

    ParseError error(const std::string& reason) const
    {
        return ParseError(fileName_, lineNumber_ == 0 ? 1 : lineNumber_, reason);
    }

    void warn(size_t line, const std::string& text)
    {
        if (info_.warnings.size() >= MaxWarnings) {
            ++info_.warningsLeftOut;
            return;
        }
        info_.warnings.push_back(fileName_ + ":" + std::to_string(line) + ": " + text);
    }

    // A part of the text as the file holds it, in UTF-8, for messages: its
    // first ShownCharacters characters, then "…" where it goes on.
    static constexpr size_t ShownCharacters = 60;
    std::string show(std::string_view part) const
    {
        if (part.size() > ShownCharacters)
            return show(part.substr(0, ShownCharacters)) + "\xE2\x80\xA6";
        const size_t from = static_cast<size_t>(part.data() - text_.data());
        auto lostAt = std::lower_bound(lost_.at.begin(), lost_.at.end(), from);
        std::string out;
        for (size_t i = 0; i < part.size(); ++i) {
            if (lostAt != lost_.at.end() && *lostAt == from + i) {
                appendUtf8(out, lost_.codePoints[static_cast<size_t>(lostAt - lost_.at.begin())]);
                ++lostAt;
                continue;
            }
            appendUtf8(out, codePage_.toUnicode(static_cast<uint8_t>(part[i])));
        }
        return out;
    }

    bool holdsLostCharacters(std::string_view part)
    {
        const size_t from = static_cast<size_t>(part.data() - text_.data());
        while (lostCursor_ < lost_.at.size() && lost_.at[lostCursor_] < from)
            ++lostCursor_;
        return lostCursor_ < lost_.at.size() && lost_.at[lostCursor_] < from + part.size();
    }

    // Two names the file holds as different texts, which the code page
    // turns into the same bytes, become one key or value on the machine:
    // said, never silently.
    // A name or text that lost characters to the code page: the first is a
    // warning of its own, the count a note at the end.
    void noteLossy(const std::string& original, const char* what)
    {
        if (info_.lossyTexts++ == 0) {
            info_.firstLossyLine = lineNumber_;
            warn(lineNumber_, std::string(what) + " \"" + original + "\" holds characters code page " +
                                  std::to_string(codePage_.number()) + " lacks: they read as '?'");
        }
    }

    void checkLossyName(std::string_view raw, const std::string& readAs, const char* what)
    {
        if (!holdsLostCharacters(raw))
            return;
        const std::string original = show(raw);
        noteLossy(original, what);
        auto [it, added] = lossyNames_.emplace(readAs, std::make_pair(original, lineNumber_));
        if (!added && it->second.first != original)
            warn(lineNumber_, std::string(what) + " \"" + original + "\" and the one at line " +
                                  std::to_string(it->second.second) + ", \"" + it->second.first +
                                  "\", are the same in code page " + std::to_string(codePage_.number()) +
                                  " (characters it lacks read as '?'): they are read as one; name the "
                                  "machine's code page with --code-page");
    }

    bool nextLine(std::string_view& line)
    {
        if (pos_ >= text_.size())
            return false;
        // Nothing before the line to come is looked at again.
        if (pos_ - released_ >= ReleaseStep) {
            buffer_.release(released_, pos_);
            released_ = pos_;
        }
        size_t end = pos_;
        while (end < text_.size() && text_[end] != '\n' && text_[end] != '\r')
            ++end;
        line = text_.substr(pos_, end - pos_);
        bool crcrlf = false;
        pos_ = lineEnd(text_, end, crcrlf);
        ++lineNumber_;
        if (crcrlf && !crcrlfLine_)
            crcrlfLine_ = lineNumber_;
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
            throw error(std::string("unexpected text after ") + after + ": \"" + show(rest) + "\"");
    }

    void readHeader(std::string_view line)
    {
        const std::string_view header = trim(line);
        if (isHeader(header, format_)) {
            info_.format = format_;
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
        Format format = format_;
        if (isHeader(trim(s), format)) {
            // Two exports joined into one file: regedit reads on, and the
            // later export's keys and values go over the earlier one's.
            if (strict_)
                throw error("a second header: this file holds two registry exports joined together; split it "
                            "before this line and preview each part, or read it whole without --strict");
            format_ = format;
            warn(lineNumber_, "a second header \"" + std::string(trim(s)) +
                                  "\": this file holds two registry exports joined together; both are read, "
                                  "the later one's values over the earlier one's, as regedit imports them");
            return;
        }
        if (s.front() == '#')
            throw error("a '#' comment line");
        throw error("line not understood: \"" + show(trim(s)) + "\"");
    }

    void refuseKeyLine(const std::string& reason)
    {
        current_ = nullptr;
        leftOutPath_.clear();
        skippedKeyLine_ = "value line outside any key: the key line at line " + std::to_string(lineNumber_) +
                          " was skipped";
        throw error(reason);
    }

    void readKeyLine(std::string_view s)
    {
        const size_t close = s.rfind(']');
        if (close == std::string_view::npos)
            refuseKeyLine("key line without a closing ']'");
        std::string_view path = s.substr(1, close - 1);
        const bool deletion = !path.empty() && path.front() == '-';
        if (deletion)
            path.remove_prefix(1);
        std::vector<std::string_view> parts;
        if (path.empty())
            refuseKeyLine("key line without a key name");
        if (!splitKeyPath(path, parts))
            refuseKeyLine("empty key name in \"" + show(path) + "\"");
        if (rootKeyName(parts[0]).empty())
            refuseKeyLine("unknown root key \"" + show(parts[0]) + "\"");
        if (parts.size() > MaxKeyDepth)
            refuseKeyLine("key lies deeper than " + std::to_string(MaxKeyDepth) + " levels");
        for (std::string_view part : parts)
            if (part.size() > MaxKeyNameLength)
                refuseKeyLine("key name longer than " + std::to_string(MaxKeyNameLength) +
                              " characters: \"" + show(part.substr(0, 40)) + "...\"");
        const std::string_view after = trim(s.substr(close + 1));
        if (!after.empty() && after.front() != ';') {
            // regedit takes the key and passes over the rest of the line.
            if (strict_)
                throw error("unexpected text after the key name: \"" + show(after) + "\"");
            warn(lineNumber_, "text after the key name skipped: \"" + show(after) + "\"");
        }
        if (deletion) {
            if (parts.size() == 1)
                refuseKeyLine("a root key cannot be deleted");
            registry_.remove(path);
            current_ = nullptr;
            leftOutPath_.clear();
            skippedKeyLine_ = "value line after a key deletion line (line " + std::to_string(lineNumber_) +
                              "), outside any key";
            return;
        }
        currentPath_ = sim::upper(path);
        checkLossyName(path, currentPath_, "the key");
        if (keepKey_ && !keepKey_(path)) {
            current_ = nullptr;
            leftOutPath_ = std::string(path);
            ++info_.keyLinesLeftOut;
            // A hash for each key, not its name: a whole-machine export
            // leaves out hundreds of thousands.
            if (leftOutKeys_.insert(std::hash<std::string>()(currentPath_)).second)
                ++info_.keysLeftOut;
            return;
        }
        leftOutPath_.clear();
        current_ = &registry_.create(path);
        valuesIndexed_ = false;
    }

    void setValue(Value value)
    {
        if (!current_) {
            if (!keepValue_ || !keepValue_(value)) {
                ++info_.valuesLeftOut;
                return;
            }
            current_ = &registry_.create(leftOutPath_);
            valuesIndexed_ = false;
            leftOutPath_.clear();
        }
        if (!valuesIndexed_) {
            valueIndex_.clear();
            for (size_t i = 0; i < current_->values.size(); ++i)
                valueIndex_.emplace(sim::upper(current_->values[i].name), i);
            valuesIndexed_ = true;
        }
        auto [slot, added] = valueIndex_.emplace(sim::upper(value.name), current_->values.size());
        if (added) {
            current_->values.push_back(std::move(value));
        } else {
            // The registry keeps the name as first written and the value's place.
            Value& existing = current_->values[slot->second];
            existing.type = value.type;
            existing.data = std::move(value.data);
        }
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
                if (e == '\\' || e == '"') {
                    out.push_back(e);
                } else if (e == 'n') {
                    out.push_back('\n');
                } else if (e == 'r') {
                    out.push_back('\r');
                } else {
                    const std::string sequence = "\"\\" + show(s.substr(i + 1, 1)) + "\"";
                    if (strict_)
                        throw error("unknown escape sequence " + sequence + " in " + what +
                                    " (only \\\\ and \\\" are escapes)");
                    // regedit drops the backslash and keeps the character.
                    warn(lineNumber_, "unknown escape sequence " + sequence + " in " + what +
                                          " read as the character alone, as regedit reads it");
                    out.push_back(e);
                }
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
        if (!current_ && leftOutPath_.empty())
            throw error(skippedKeyLine_.empty() ? "value line before the first key line" : skippedKeyLine_);
        std::string name;  // "@": the default value
        std::string_view rest = s.substr(1);
        if (s.front() == '"') {
            size_t end = 0;
            name = readQuoted(rest, end, "value name");
            checkLossyName(rest.substr(0, end - 1), currentPath_ + '\\' + sim::upper(name), "the value");
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
            if (current_ && current_->removeValue(name))
                valuesIndexed_ = false;
            return;
        }
        if (!rest.empty() && rest.front() == '"') {
            size_t end = 0;
            const std::string text = readQuoted(rest.substr(1), end, "string data");
            expectLineEnd(rest.substr(1 + end), "the string data");
            const std::string_view quoted = rest.substr(1, end - 1);  // without the closing quote
            if (holdsLostCharacters(quoted))
                noteLossy(show(quoted), "the text");
            setValue(stringValue(std::move(name), text));
            return;
        }
        if (startsWithNoCase(rest, "dword:")) {
            setValue(dwordValue(std::move(name), readDword(rest.substr(6))));
            return;
        }
        uint32_t type = REG_BINARY;
        if (startsWithNoCase(rest, "hex:")) {
            rest.remove_prefix(4);
        } else if (startsWithNoCase(rest, "hex(")) {
            size_t i = 4;
            uint64_t number = 0;
            while (i < rest.size() && isHexDigit(rest[i]) && i < 4 + 8)
                number = number * 16 + hexDigit(rest[i++]);
            if (i == 4 || rest.substr(i, 2) != "):")
                throw error("bad value type in \"" + show(trim(rest.substr(0, 16))) +
                            "\": expected hex(N): with N a hexadecimal type number");
            type = static_cast<uint32_t>(number);
            rest.remove_prefix(i + 2);
        } else {
            throw error("unknown data: \"" + show(trim(rest)) +
                        "\" (expected \"text\", dword:, hex: or hex(N):)");
        }
        std::vector<uint8_t> data = readHex(rest);
        if (isTextType(type) && format_ == Format::Version5)
            data = narrowUtf16(data, codePage_);
        setValue(binaryValue(std::move(name), std::move(data), type));
    }

    uint32_t readDword(std::string_view s)
    {
        s = trim(s);
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
                    throw error("bad hex byte \"" + show(s.substr(i, std::min<size_t>(end - i, 20))) +
                                "\" (expected one or two hexadecimal digits)");
                }
                data.push_back(static_cast<uint8_t>(byte));
                i += digits;
                while (i < s.size() && isBlank(s[i]))
                    ++i;
                if (i < s.size() && s[i] == ',')
                    ++i;
                else if (i < s.size() && s[i] != ';' && s[i] != '\\')
                    throw error("expected ',' between hex bytes, found \"" + show(s.substr(i, 1)) + "\"");
            }
            if (!more)
                return data;
            std::string_view line;
            do {
                if (!nextLine(line))
                    throw error("hex data continued with '\\' past the end of the file");
                line = trim(line);
            } while (line.empty() || line.front() == ';');
            // regedit loses both the value and that line.
            if (!isHexDigit(line.front()))
                throw error("hex data continued with '\\', but the next line holds no hex bytes");
            s = line;
        }
    }
};

FileInfo parseBuffer(TextBuffer& buffer, const std::string& fileName, Registry& into, const ReadOptions& options)
{
    LostCharacters lost;
    const CodePage& codePage = options.codePage ? *options.codePage : CodePage::windows1252();
    const Encoding encoding = decodeText(buffer, fileName, codePage, lost);
    Parser parser(buffer, fileName, into, options, codePage, lost);
    FileInfo info = parser.run();
    info.encoding = encoding;
    return info;
}

}  // namespace

FileInfo parse(std::string_view bytes, const std::string& fileName, Registry& into, const ReadOptions& options)
{
    TextBuffer buffer(bytes.size());
    std::copy(bytes.begin(), bytes.end(), buffer.data());
    return parseBuffer(buffer, fileName, into, options);
}

FileInfo load(const std::string& path, Registry& into, const ReadOptions& options)
{
    std::ifstream in(path, std::ios::binary | std::ios::ate);
    if (!in)
        throw ParseError(path, 0, "cannot open the file");
    const std::streamoff size = in.tellg();
    if (size < 0)
        throw ParseError(path, 0, "cannot read the file");
    TextBuffer buffer(static_cast<size_t>(size));
    in.seekg(0);
    in.read(buffer.data(), size);
    if (in.gcount() != size)
        throw ParseError(path, 0, "cannot read the file");
    return parseBuffer(buffer, path, into, options);
}

}  // namespace regfile
