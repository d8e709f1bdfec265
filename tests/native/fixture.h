// Every native test starts on a new simulated machine (Windows XP, an
// administrator) with the module freshly loaded, and ends with no handle
// left open.
#pragma once

#include "host/exports.h"
#include "host/module_load.h"
#include "machine.h"
#include "support/tracers.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

// Trace lines, in the order written.
using Lines = std::vector<std::string>;

// The setup classes of the devices the tests add.
constexpr const char* SystemClass = "{4D36E97D-E325-11CE-BFC1-08002BE10318}";
constexpr const char* HidClass = "{745A17A0-74D3-11D0-B6FE-00A0C90F57DA}";

// Closes a key handle the test opened, also when an assertion fails.
struct TestKey {
    HKEY key = nullptr;
    ~TestKey()
    {
        if (key)
            RegCloseKey(key);
    }
};

// The text with its capitals A to Z made small: a name in the other case.
inline std::string lower(std::string text)
{
    for (char& c : text)
        if (c >= 'A' && c <= 'Z')
            c = static_cast<char>(c + 32);
    return text;
}

class SimTest : public ::testing::Test {
protected:
    sim::Machine& m = sim::machine();

    void SetUp() override
    {
        m.reset();
        moduleLoad();
        TraceEnabled = true;  // tests compare trace lines; the module never sets it
    }

    void TearDown() override
    {
        EXPECT_EQ(m.openHandleCount(), 0u) << m.openHandleReport();
        EXPECT_EQ(m.openHandleCount(sim::HandleKind::Module), 0u) << m.openHandleReport();
        TraceEnabled = false;
    }

    // A fresh load of the module on the machine as it stands.
    void reload()
    {
        moduleLoad();
        TraceEnabled = true;
    }

    // A new machine running `version`, with the module freshly loaded on it.
    void onWindows(sim::WindowsVersion version)
    {
        m.reset();
        m.setWindows(version);
        reload();
    }

    Lines trace() const { return m.debugger.lines(); }
    bool traced(const std::string& line) const
    {
        const Lines lines = trace();
        return std::find(lines.begin(), lines.end(), line) != lines.end();
    }
    // The driver installs asked for: hardware id in text, INF path in file.
    std::vector<sim::CallRecord> driverInstalls() const
    {
        return m.callsOf("UpdateDriverForPlugAndPlayDevicesA");
    }
    void clearTrace() { m.debugger.texts.clear(); }
};

using ExportFn = LONG(WINAPI*)(HWND, LONG*, LPCSTR);

inline LONG call(ExportFn fn, const char* text = nullptr, HWND window = nullptr)
{
    return fn(window, nullptr, text);
}
