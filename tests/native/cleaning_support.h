// Helpers for the cleaning routines' tests: the working lists and matching
// mode a run would set up, and what a routine deleted and traced.
#pragma once

#include "cleaning/cleaning_state.h"
#include "native/fixture.h"
#include "native/machine_builders.h"

#include <algorithm>
#include <string>
#include <vector>

using Keys = std::vector<std::string>;

constexpr const char* UsbJoystickId = "VID_2F7A&PID_00A1";  // USB list only
constexpr const char* PedalId = "VID_2F7A&PID_1A24";        // USB and pedal lists
constexpr const char* AuxId = "VID_2F7A&PID_C26B";          // aux list only
constexpr const char* OtherVendorId = "VID_045E&PID_0008";

inline bool startsWith(const std::string& text, const char* prefix) { return text.rfind(prefix, 0) == 0; }

// `keys` less each key of `gone` and everything below it.
inline Keys keysWithout(Keys keys, const Keys& gone)
{
    const auto isGone = [&gone](const std::string& key) {
        return std::any_of(gone.begin(), gone.end(),
                           [&key](const std::string& g) { return builders::isAtOrBelow(key, g); });
    };
    keys.erase(std::remove_if(keys.begin(), keys.end(), isGone), keys.end());
    return keys;
}

// The routines' own lines: without the matching and registry layers' lines.
inline Lines routineLines(const Lines& lines)
{
    Lines out;
    for (const std::string& l : lines)
        if (!startsWith(l, "DELKEYS: check") && !startsWith(l, "  EU: nVidPids:") &&
            !startsWith(l, "  EU: Doing Compare:") && l != "  EU: Found It!" &&
            !startsWith(l, "WINREG: ") && !startsWith(l, "  WR: "))
            out.push_back(l);
    return out;
}

// The "file|subkey" text of every key deletion, in the order tried.
inline Lines deletions(const Lines& lines)
{
    Lines out;
    for (const std::string& l : lines)
        if (startsWith(l, "  WR: Deleting Key:"))
            out.push_back(l.substr(19));
    return out;
}

// A cleaning routine called on its own, with what the run would have set up.
class CleaningRoutineTest : public SimTest {
protected:
    enum class Mode { Usb, Pedal };

    void SetUp() override
    {
        SimTest::SetUp();
        prepareRun(Mode::Usb);
    }
    void TearDown() override
    {
        FirstList = SecondList = ThirdList = nullptr;
        SimTest::TearDown();
    }
    void freshMachine(sim::WindowsVersion version, Mode mode = Mode::Usb)
    {
        onWindows(version);
        prepareRun(mode);
    }
    void prepareRun(Mode mode)
    {
        FirstList = &first_;
        SecondList = &second_;
        ThirdList = &third_;
        IdMatchFound = AnalogMode = UseShortUsbList = AuxFallback = false;
        PedalMode = mode == Mode::Pedal;
    }

private:
    TStringList first_, second_, third_;
};
