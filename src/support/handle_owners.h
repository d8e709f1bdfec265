// Owners for the handles the module opens: each releases its handle when it
// goes out of scope, so every path out of a routine releases it.
#pragma once

#include "platform/system_libraries.h"
#include "platform/win32.h"

#include <utility>

template <class Traits>
class UniqueHandle {
public:
    using Value = typename Traits::Value;

    UniqueHandle() = default;
    explicit UniqueHandle(Value value) : value_(value) {}
    UniqueHandle(const UniqueHandle&) = delete;
    UniqueHandle& operator=(const UniqueHandle&) = delete;
    UniqueHandle(UniqueHandle&& other) noexcept : value_(other.release()) {}
    UniqueHandle& operator=(UniqueHandle&& other) noexcept
    {
        reset(other.release());
        return *this;
    }
    ~UniqueHandle() { reset(); }

    Value get() const { return value_; }
    bool valid() const { return value_ != Traits::invalid(); }
    explicit operator bool() const { return valid(); }
    Value* receive()  // for calls that hand the handle back through a pointer
    {
        reset();
        return &value_;
    }
    Value release() { return std::exchange(value_, Traits::invalid()); }
    void reset(Value value = Traits::invalid())
    {
        if (valid())
            Traits::close(value_);
        value_ = value;
    }

private:
    Value value_ = Traits::invalid();
};

struct KernelHandleTraits {
    using Value = HANDLE;
    static Value invalid() { return nullptr; }
    static void close(Value h) { CloseHandle(h); }
};

struct SidTraits {
    using Value = PSID;
    static Value invalid() { return nullptr; }
    static void close(Value sid) { FreeSid(sid); }
};

struct DevInfoSetTraits {
    using Value = HDEVINFO;
    static Value invalid() { return INVALID_HANDLE_VALUE; }
    static void close(Value set) { setupapi::SetupDiDestroyDeviceInfoList(set); }
};

using TokenHandle = UniqueHandle<KernelHandleTraits>;
using SidHandle = UniqueHandle<SidTraits>;
using DevInfoSetHandle = UniqueHandle<DevInfoSetTraits>;
