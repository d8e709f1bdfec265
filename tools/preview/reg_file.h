// Registry files as regedit reads and writes them, over the simulator's
// registry tree (sim/registry_tree.h), so the preview tool can take a
// customer's export in as the machine's registry and hand the machine's
// registry after a run back out, with nothing copied between.
//
// Texts: the registry the library sees through the single-byte (A) calls
// holds texts in the machine's ANSI code page, and so does this model. An
// ANSI file holds those bytes as they are. Reading a Unicode file (UTF-16LE
// with a byte-order mark, or UTF-8 with one), every character becomes the
// code page's byte for it, or '?' when the code page has none; writing one
// turns each byte back into the code page's character. The code page is
// Windows-1252 unless told otherwise. The data of the text types REG_SZ,
// REG_EXPAND_SZ and REG_MULTI_SZ written as hex(1):, hex(2): or hex(7): is
// UTF-16LE in a "Windows Registry Editor Version 5.00" file, whatever the
// file's own encoding, and single-byte in a "REGEDIT4" file; the model
// keeps it single-byte. All other data is kept byte for byte.
#pragma once

#include "code_page.h"

#include "registry_tree.h"

#include <cstddef>
#include <cstdint>
#include <functional>
#include <iosfwd>
#include <memory>
#include <stdexcept>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

namespace regfile {

bool isTextType(uint32_t type);

using Value = sim::RegValue;
using Key = sim::RegKey;
using Registry = sim::Registry;
using sim::rootKeyName;
using sim::splitKeyPath;

// Helpers for building values.
Value stringValue(std::string name, std::string_view text, uint32_t type = REG_SZ);
Value multiStringValue(std::string name, const std::vector<std::string>& texts);
Value dwordValue(std::string name, uint32_t number);
Value binaryValue(std::string name, std::vector<uint8_t> bytes, uint32_t type = REG_BINARY);

enum class Format { Regedit4, Version5 };
enum class Encoding { Ansi, Utf16Le, Utf8 };

// Windows limits: a key name holds at most 255 characters and a key lies at
// most 512 levels deep. Deeper or longer paths are refused, which also
// keeps every walk over the tree within a bounded depth.
constexpr size_t MaxKeyNameLength = 255;
constexpr size_t MaxKeyDepth = 512;

// A file that is not a well-formed registry file: where and why.
class ParseError : public std::runtime_error {
public:
    ParseError(std::string file, size_t line, std::string reason);
    const std::string& file() const { return file_; }
    size_t line() const { return line_; }
    const std::string& reason() const { return reason_; }

private:
    std::string file_;
    size_t line_;
    std::string reason_;
};

struct ReadOptions {
    explicit ReadOptions(bool strictReading = false, const CodePage* page = nullptr)
        : strict(strictReading), codePage(page)
    {
    }

    // Refuse the file at the first line regedit would pass over, instead of
    // skipping the line with a warning.
    bool strict;
    const CodePage* codePage;  // null: Windows-1252
    // Which keys to keep. A key for which `keepKey` answers false (given
    // its path as the file writes it) is read and checked like any other
    // but left out, with its values, until a value comes for which
    // `keepValue` answers true: from that value on the key is kept. Null:
    // every key is kept.
    std::function<bool(std::string_view path)> keepKey;
    std::function<bool(const Value& value)> keepValue;
};

// Warnings kept for one file; beyond them only a count.
constexpr size_t MaxWarnings = 1000;

struct FileInfo {
    Format format = Format::Version5;
    Encoding encoding = Encoding::Ansi;  // of the file's first part
    size_t lines = 0;
    // "file:line: what was skipped and why", in UTF-8.
    std::vector<std::string> warnings;
    size_t warningsLeftOut = 0;
    // Facts about the file worth knowing that changed nothing read.
    std::vector<std::string> notes;
    // Keys (distinct, whatever their spelling), key lines and value lines
    // read but not kept (see ReadOptions::keepKey).
    size_t keysLeftOut = 0;
    size_t keyLinesLeftOut = 0;
    size_t valuesLeftOut = 0;
    // Names and texts holding characters the code page lacks, which read
    // (and would be written) as '?', and the line of the first.
    size_t lossyTexts = 0;
    size_t firstLossyLine = 0;
};

// Reads a registry file's bytes and applies it to `into`: keys are created,
// values set, "[-KEY]" and "name"=- lines delete. `fileName` names the file
// in messages. Throws ParseError; `into` may then hold part of the file.
FileInfo parse(std::string_view bytes, const std::string& fileName, Registry& into,
               const ReadOptions& options = ReadOptions());

// Reads the file at `path` whole, then parses it. Throws ParseError (line 0)
// when the file cannot be read.
FileInfo load(const std::string& path, Registry& into, const ReadOptions& options = ReadOptions());

struct WriteOptions {
    WriteOptions(Format fileFormat = Format::Version5, Encoding fileEncoding = Encoding::Utf16Le,
                 const CodePage* page = nullptr)
        : format(fileFormat), encoding(fileEncoding), codePage(page)
    {
    }

    Format format;
    Encoding encoding;          // UTF-16LE and UTF-8 with their byte-order mark
    const CodePage* codePage;   // of the model's texts; null: Windows-1252
};

// The registry as regedit exports it: every root key and every key below
// it, subkeys in enumeration order, values in creation order, CR LF line
// ends, long hex data continued over lines of at most 80 characters.
std::string write(const Registry& registry, const WriteOptions& options = WriteOptions());
// The same to a stream, a part at a time.
void write(const Registry& registry, const WriteOptions& options, std::ostream& out);

}  // namespace regfile
