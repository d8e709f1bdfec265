#include "reg_text.h"

namespace regfile {

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

namespace {

// UTF-16LE text without its byte-order mark starts with a character below
// U+0100 followed by a zero byte, twice: no ANSI registry file does.
bool looksLikeBomlessUtf16(std::string_view bytes)
{
    return bytes.size() >= 4 && bytes[0] != 0 && bytes[1] == 0 && bytes[2] != 0 && bytes[3] == 0;
}

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

}  // namespace

Encoding decodeText(TextBuffer& buffer, const std::string& fileName, const CodePage& codePage,
                    LostCharacters& lost)
{
    return Decoder(buffer, fileName, codePage, lost).run();
}

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

}  // namespace regfile
