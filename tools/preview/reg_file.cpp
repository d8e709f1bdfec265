#include "reg_file.h"

#include <algorithm>
#include <cstdio>
#include <fstream>
#include <ostream>
#include <sstream>
#include <unordered_map>

#include <sys/mman.h>
#include <unistd.h>

namespace regfile {

// ------------------------------------------------------------------ names

bool isTextType(uint32_t type)
{
    return type == TypeString || type == TypeExpandString || type == TypeMultiString;
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

bool isBlank(char c) { return c == ' ' || c == '\t'; }

// Where the narrowed text holds a '?' for a character that the code page
// lacks, and which character it was: so that messages can show the name as
// the file has it, and names that only the code page made equal are found.
struct LostCharacters {
    std::vector<size_t> at;  // offsets into the text, rising
    std::vector<uint32_t> codePoints;
};

// A line ends at CR LF, LF, a lone CR, or CR CR LF: a file that went through
// a text-mode copy twice has that, and regedit reads it as one line end.
// Returns the offset after the line end; `crcrlf` tells which kind it was.
size_t lineEnd(std::string_view text, size_t end, bool& crcrlf)
{
    crcrlf = false;
    if (end >= text.size())
        return end;
    if (text[end] == '\n')
        return end + 1;
    size_t crs = end;
    while (crs < text.size() && text[crs] == '\r')
        ++crs;
    if (crs < text.size() && text[crs] == '\n') {
        crcrlf = crs - end >= 2;
        return crs + 1;
    }
    return end + 1;
}

size_t lineOf(std::string_view text, size_t offset)
{
    size_t line = 1;
    bool crcrlf = false;
    for (size_t i = 0; i < offset && i < text.size();) {
        if (text[i] != '\n' && text[i] != '\r') {
            ++i;
            continue;
        }
        i = lineEnd(text, i, crcrlf);
        if (i <= offset)
            ++line;
    }
    return line;
}

bool startsWith(std::string_view text, size_t at, std::string_view prefix)
{
    return text.size() - std::min(at, text.size()) >= prefix.size() && text.compare(at, prefix.size(), prefix) == 0;
}

// UTF-16LE text without its byte-order mark starts with a character below
// U+0100 followed by a zero byte, twice: no ANSI registry file does.
bool looksLikeBomlessUtf16(std::string_view bytes)
{
    return bytes.size() >= 4 && bytes[0] != 0 && bytes[1] == 0 && bytes[2] != 0 && bytes[3] == 0;
}

// A file's bytes in pages of their own, so that the parts already read can
// be given back while the rest is read: a file of hundreds of MB is then not
// held whole beside the registry made of it.
class TextBuffer {
public:
    explicit TextBuffer(size_t size) : capacity_(size), size_(size)
    {
        if (size == 0)
            return;
        void* pages = mmap(nullptr, size, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
        if (pages == MAP_FAILED)
            throw std::bad_alloc();
        data_ = static_cast<char*>(pages);
    }
    ~TextBuffer()
    {
        if (data_)
            munmap(data_, capacity_);
    }
    TextBuffer(const TextBuffer&) = delete;
    TextBuffer& operator=(const TextBuffer&) = delete;

    char* data() { return data_; }
    size_t size() const { return size_; }
    void resize(size_t size) { size_ = std::min(size, capacity_); }
    char& operator[](size_t i) { return data_[i]; }
    char operator[](size_t i) const { return data_[i]; }
    operator std::string_view() const { return std::string_view(data_ ? data_ : "", size_); }

    // The whole pages between `from` and `to` go back to the system; they
    // read as zeros afterwards.
    void release(size_t from, size_t to)
    {
        static const size_t page = static_cast<size_t>(sysconf(_SC_PAGESIZE));
        from = (from + page - 1) / page * page;
        to = std::min(to, capacity_) / page * page;
        if (to > from)
            madvise(data_ + from, to - from, MADV_DONTNEED);
    }

private:
    char* data_ = nullptr;
    size_t capacity_;
    size_t size_;
};

// How much of a buffer is read between two releases.
constexpr size_t ReleaseStep = 32u << 20;

const char* const Utf16Bom = "\xFF\xFE";
const char* const Utf8Bom = "\xEF\xBB\xBF";

// Turns the file's bytes, in place, into single-byte text of the code page.
// The text is never longer than the bytes it came from, so it is written
// over them: a large file is held once. A file made of several exports
// joined together (each beginning with its byte-order mark, as `type a.reg
// b.reg > c.reg` leaves them) is decoded part by part, each in its own
// encoding; the marks inside are dropped.
class Decoder {
public:
    Decoder(TextBuffer& buffer, const std::string& fileName, const CodePage& codePage, LostCharacters& lost)
        : buf_(buffer), fileName_(fileName), codePage_(codePage), lost_(lost)
    {
    }

    Encoding run()
    {
        if (startsWith(buf_, 0, "\xFE\xFF"))
            throw ParseError(fileName_, 1, "UTF-16 big-endian files are not supported (regedit writes UTF-16LE)");
        const Encoding first = startEncoding(0);
        if (first == Encoding::Ansi && looksLikeBomlessUtf16(buf_))
            throw ParseError(fileName_, 1,
                             "the file is UTF-16LE text without the byte-order mark (FF FE) that regedit writes "
                             "first, and regedit refuses it too; put the mark back, e.g. "
                             "(printf '\\377\\376'; cat '" + fileName_ + "') > fixed.reg");
        Encoding encoding = first;
        while (in_ < buf_.size())
            encoding = decodePart(encoding);
        buf_.resize(out_);
        return first;
    }

private:
    TextBuffer& buf_;
    const std::string& fileName_;
    const CodePage& codePage_;
    LostCharacters& lost_;
    size_t in_ = 0;
    size_t out_ = 0;
    size_t released_ = 0;

    // UTF-16 text narrows to half its bytes: what lies between the text
    // written and the bytes still to read is done with.
    void releaseRead()
    {
        if (in_ - released_ < ReleaseStep || in_ - out_ < ReleaseStep)
            return;
        buf_.release(out_, in_);
        released_ = in_;
    }

    uint8_t byteAt(size_t i) const { return static_cast<uint8_t>(buf_[i]); }

    ParseError error(const std::string& reason) const
    {
        return ParseError(fileName_, lineOf(std::string_view(buf_).substr(0, out_), out_), reason);
    }

    // The encoding of a part that begins at `at`, its mark skipped.
    Encoding startEncoding(size_t at)
    {
        if (startsWith(buf_, at, Utf16Bom)) {
            in_ = at + 2;
            return Encoding::Utf16Le;
        }
        if (startsWith(buf_, at, Utf8Bom)) {
            in_ = at + 3;
            return Encoding::Utf8;
        }
        in_ = at;
        return Encoding::Ansi;
    }

    void put(uint32_t codePoint)
    {
        uint8_t byte = 0;
        if (!codePage_.fromUnicode(codePoint, byte)) {
            lost_.at.push_back(out_);
            lost_.codePoints.push_back(codePoint);
            byte = '?';
        }
        buf_[out_++] = static_cast<char>(byte);
    }

    bool atLineStart() const { return out_ == 0 || buf_[out_ - 1] == '\n' || buf_[out_ - 1] == '\r'; }

    // Decodes up to the start of the next part; returns that part's encoding.
    Encoding decodePart(Encoding encoding)
    {
        switch (encoding) {
        case Encoding::Ansi:
            while (in_ < buf_.size()) {
                if (atLineStart() && out_ > 0 &&
                    (startsWith(buf_, in_, Utf16Bom) || startsWith(buf_, in_, Utf8Bom)))
                    return startEncoding(in_);
                buf_[out_++] = buf_[in_++];
            }
            return encoding;
        case Encoding::Utf16Le:
            while (in_ < buf_.size()) {
                if (in_ + 1 >= buf_.size())
                    throw error("UTF-16 file with an odd number of bytes");
                if (atLineStart() && out_ > 0 && (startsWith(buf_, in_, Utf8Bom) || startsAnsiHeader()))
                    return startEncoding(in_);
                releaseRead();
                uint32_t unit = byteAt(in_) | (byteAt(in_ + 1) << 8);
                in_ += 2;
                if (unit == 0xFEFF && atLineStart())
                    continue;  // the mark of a part joined on
                if (unit >= 0xD800 && unit <= 0xDBFF && in_ + 1 < buf_.size()) {
                    const uint32_t low = byteAt(in_) | (byteAt(in_ + 1) << 8);
                    if (low >= 0xDC00 && low <= 0xDFFF) {
                        in_ += 2;
                        unit = 0x10000 + ((unit - 0xD800) << 10) + (low - 0xDC00);
                    }
                }
                put(unit);
            }
            return encoding;
        case Encoding::Utf8:
            while (in_ < buf_.size()) {
                if (atLineStart() && out_ > 0 && startsWith(buf_, in_, Utf16Bom))
                    return startEncoding(in_);
                releaseRead();
                const uint32_t cp = readUtf8();
                if (cp == 0xFEFF && atLineStart())
                    continue;
                put(cp);
            }
            return encoding;
        }
        return encoding;
    }

    // An ANSI export joined on after a UTF-16 one, without a mark.
    bool startsAnsiHeader() const
    {
        return startsWith(buf_, in_, "REGEDIT4") || startsWith(buf_, in_, "Windows Registry Editor");
    }

    uint32_t readUtf8()
    {
        const uint8_t lead = byteAt(in_);
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
            throw error("invalid UTF-8 byte sequence");
        }
        if (in_ + extra >= buf_.size() && extra > 0)
            throw error("invalid UTF-8 byte sequence");
        for (size_t k = 1; k <= extra; ++k) {
            const uint8_t next = byteAt(in_ + k);
            if ((next & 0xC0) != 0x80)
                throw error("invalid UTF-8 byte sequence");
            cp = (cp << 6) | (next & 0x3F);
        }
        in_ += extra + 1;
        return cp;
    }
};

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

// Data of a text type written as hex in a version 5 file: UTF-16LE code
// units, each turned into the code page's byte. An odd last byte is kept
// as it is.
std::vector<uint8_t> narrowUtf16(const std::vector<uint8_t>& wide, const CodePage& codePage)
{
    std::vector<uint8_t> bytes;
    bytes.reserve(wide.size() / 2 + 1);
    size_t i = 0;
    for (; i + 1 < wide.size(); i += 2) {
        uint8_t b = '?';
        if (!codePage.fromUnicode(wide[i] | (wide[i + 1] << 8), b))
            b = '?';
        bytes.push_back(b);
    }
    if (i < wide.size())
        bytes.push_back(wide[i]);
    return bytes;
}

bool isHeader(std::string_view line, Format& format)
{
    if (line == "Windows Registry Editor Version 5.00") {
        format = Format::Version5;
        return true;
    }
    if (line == "REGEDIT4") {
        format = Format::Regedit4;
        return true;
    }
    return false;
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

    // A part of the text as the file holds it, in UTF-8, for messages.
    std::string show(std::string_view part) const
    {
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
    void checkLossyName(std::string_view raw, const std::string& readAs, const char* what)
    {
        if (!holdsLostCharacters(raw))
            return;
        const std::string original = show(raw);
        auto [it, added] = lossyNames_.emplace(readAs, std::make_pair(original, lineNumber_));
        if (!added && it->second.first != original)
            warn(lineNumber_, std::string(what) + " \"" + original + "\" and the one at line " +
                                  std::to_string(it->second.second) + ", \"" + it->second.first +
                                  "\", are the same in code page " + std::to_string(codePage_.number()) +
                                  " (characters it lacks read as '?'): they are read as one; name the "
                                  "machine's code page with --code-page");
    }

    // Lines end with CR LF, LF, a lone CR or CR CR LF.
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
            checkLossyName(rest.substr(0, end), currentPath_ + '\\' + sim::upper(name), "the value");
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
            setValue(stringValue(std::move(name), text));
            return;
        }
        if (startsWithNoCase(rest, "dword:")) {
            setValue(dwordValue(std::move(name), readDword(rest.substr(6))));
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

const CodePage& codePageOf(const ReadOptions& options)
{
    return options.codePage ? *options.codePage : CodePage::windows1252();
}

}  // namespace

namespace {

FileInfo parseBuffer(TextBuffer& buffer, const std::string& fileName, Registry& into, const ReadOptions& options)
{
    LostCharacters lost;
    const CodePage& codePage = codePageOf(options);
    const Encoding encoding = Decoder(buffer, fileName, codePage, lost).run();
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
            const uint32_t unit = codePage.toUnicode(b);
            wide.push_back(static_cast<uint8_t>(unit));
            wide.push_back(static_cast<uint8_t>(unit >> 8));
        }
        appendHex(out, out.size() - start, wide);
    } else {
        appendHex(out, out.size() - start, v.data);
    }
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
        switch (encoding_) {
        case Encoding::Ansi:
            out_.write(text.data(), static_cast<std::streamsize>(text.size()));
            break;
        case Encoding::Utf16Le: {
            std::string bytes;
            bytes.reserve(text.size() * 2);
            for (char c : text) {
                const uint32_t unit = codePage_.toUnicode(static_cast<uint8_t>(c));
                bytes.push_back(static_cast<char>(unit & 0xFF));
                bytes.push_back(static_cast<char>(unit >> 8));
            }
            out_.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
            break;
        }
        case Encoding::Utf8: {
            const std::string bytes = codePage_.toUtf8(text);
            out_.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
            break;
        }
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

std::string formatValue(const Value& value, Format format)
{
    std::string out;
    appendValue(out, value, format, CodePage::windows1252());
    return out;
}

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
