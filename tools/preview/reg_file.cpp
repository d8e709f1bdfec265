// The registry file's values and errors; reading is in reg_decode.cpp (bytes
// to text) and reg_parse.cpp (lines), writing in reg_write.cpp.
#include "reg_file.h"

namespace regfile {

// ------------------------------------------------------------------ names

bool isTextType(uint32_t type)
{
    return type == REG_SZ || type == REG_EXPAND_SZ || type == REG_MULTI_SZ;
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
    Value v{std::move(name), REG_MULTI_SZ, {}};
    for (const std::string& t : texts) {
        v.data.insert(v.data.end(), t.begin(), t.end());
        v.data.push_back(0);
    }
    v.data.push_back(0);
    return v;
}

Value dwordValue(std::string name, uint32_t number)
{
    return Value{std::move(name), REG_DWORD,
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

}  // namespace regfile
