// The errors the module raises inside itself. None leaves an export.
#pragma once

#include "platform/win32.h"

#include <exception>
#include <string>
#include <utility>

// The base of the module's errors: a message, nothing else. Not
// std::runtime_error: that class keeps its message in a string type of its
// own, whose code (locale and formatting parts with it) would otherwise be
// linked into the DLL beside the one std::string every other unit uses.
class EModuleError : public std::exception {
public:
    explicit EModuleError(std::string message) : message_(std::move(message)) {}
    const char* what() const noexcept override { return message_.c_str(); }

private:
    std::string message_;
};

// A system call that the module cannot do without failed.
class EOSError : public EModuleError {
public:
    EOSError(const std::string& what, DWORD code)
        : EModuleError(what + " (system error " + std::to_string(code) + ")"), code_(code)
    {
    }
    DWORD code() const { return code_; }

private:
    DWORD code_;
};

// A registry value could not be read as the text the caller asked for.
class ERegistryException : public EModuleError {
public:
    using EModuleError::EModuleError;
};
