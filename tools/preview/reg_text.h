// Inside the .reg reader: a file's bytes in pages of their own, and their
// decoding, in place, into the single-byte text of the machine's code page
// that the line parser reads (reg_parse.cpp).
#pragma once

#include "reg_file.h"

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <new>
#include <string>
#include <string_view>
#include <vector>

#include <sys/mman.h>
#include <unistd.h>

namespace regfile {

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
size_t lineEnd(std::string_view text, size_t end, bool& crcrlf);
// The number of the line that holds `offset`, counted from 1.
size_t lineOf(std::string_view text, size_t offset);
bool startsWith(std::string_view text, size_t at, std::string_view prefix);

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

// Turns the file's bytes, in place, into single-byte text of the code page,
// noting where characters were lost; the buffer is cut to the text. Returns
// the encoding of the file's first part. Throws ParseError.
Encoding decodeText(TextBuffer& buffer, const std::string& fileName, const CodePage& codePage,
                    LostCharacters& lost);

// Data of a text type written as hex in a version 5 file: UTF-16LE code
// units, each turned into the code page's byte. An odd last byte is kept
// as it is.
std::vector<uint8_t> narrowUtf16(const std::vector<uint8_t>& wide, const CodePage& codePage);

}  // namespace regfile
