// The errors the module raises inside itself. None leaves an export.
#pragma once

#include "platform/win32.h"

#include <stdexcept>
#include <string>

// A system call that the module cannot do without failed.
class EOSError : public std::runtime_error {
public:
    EOSError(const std::string& what, DWORD code)
        : std::runtime_error(what + " (system error " + std::to_string(code) + ")"), code_(code)
    {
    }
    DWORD code() const { return code_; }

private:
    DWORD code_;
};

// A registry value could not be read as the text the caller asked for.
class ERegistryException : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};
