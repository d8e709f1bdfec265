// Every native test starts on a new simulated machine (Windows XP, an
// administrator) with the module freshly loaded, and ends with no handle
// left open.
#pragma once

#include "host/exports.h"
#include "host/module_load.h"
#include "machine.h"
#include "support/tracers.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

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

    std::vector<std::string> trace() const { return m.debugger.lines(); }
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
