// The shipped module runs with its trace switch off, and then matches names
// by another road than the traced list-order scan the other tests watch.
// What a cleaning run deletes and answers must not depend on the switch.
#include "native/cleaning_support.h"

namespace {

const std::string Settings9x = builders::Settings9x + "\\";
const std::string SettingsNt = builders::SettingsNt + "\\";
const std::string Oem = builders::Oem + "\\";
const std::string Asd = builders::join(builders::AsdProb, builders::AsdSubkeys[0]);
const std::string Interfaces = builders::InterfaceClassKeys[0] + "\\";

// `id` standing at `at` in a text of `length` characters.
std::string idAt(const std::string& id, size_t at, size_t length)
{
    std::string text(at, '\xE9');
    text += id;
    text.resize(std::max(length, text.size()), 'x');
    return text;
}

// Names at the matching rule's edges: each list's ids in either case, inside
// longer names, 16 characters of one, the longest key names, and (in value
// names and values, which may be longer) an id that begins before the 255th
// character but ends after it, so that only the cut text decides.
std::vector<std::string> keyNames()
{
    return {UsbJoystickId,
            lower(PedalId),
            AuxId,
            OtherVendorId,
            lower(UsbJoystickId) + "&MI_01",
            std::string(UsbJoystickId).substr(0, 16),
            idAt(PedalId, 238, 255),
            idAt(OtherVendorId, 238, 255),
            "VID_2F7A&PID_VID_2F7A&PID_00A1",
            "VID_2F7A&PID_00G1",
            "VID_2F7A&PID_C0DE"};
}

std::vector<std::string> longTexts()
{
    return {idAt(UsbJoystickId, 200, 400), idAt(UsbJoystickId, 240, 400), idAt(AuxId, 238, 300),
            idAt(lower(PedalId), 0, 300)};
}

void buildMachine(sim::Machine& m, bool nineX)
{
    const std::string enumPath = nineX ? "HKLM\\Enum\\USB\\"
                                       : "HKLM\\System\\CurrentControlSet\\Enum\\USB\\";
    const std::vector<std::string> names = keyNames();
    for (size_t i = 0; i < names.size(); ++i) {
        const std::string& name = names[i];
        m.createKey((nineX ? Settings9x : SettingsNt) + name);
        m.createKey(Oem + name);
        if (nineX)
            m.setString(enumPath + name + "\\0000", "Driver", "MEDIA\\000" + std::to_string(i % 10));
        else
            m.addDevice({"USB\\" + name + "\\6&" + std::to_string(i), {"USB\\" + name},
                         "{745A17A0-74D3-11D0-B6FE-00A0C90F57DA}", "", i % 2 == 0});
    }
    if (!nineX)
        return;
    for (size_t i = 0; i < 10; ++i)
        m.createKey("HKLM\\System\\CurrentControlSet\\Services\\Class\\MEDIA\\000" + std::to_string(i));
    size_t n = 0;
    for (const std::string& text : longTexts()) {
        m.setString(Asd, text, "x");
        m.setString(Interfaces + "##?#" + std::to_string(n++), "DeviceInstance", text);
    }
    for (const std::string& name : names)
        m.setString(Asd, name, "x");
}

struct Outcome {
    LONG result;
    Keys keys;
    Lines asdValues;
    size_t devices;
};

}  // namespace

class SwitchOffTest : public SimTest {
protected:
    Outcome runOnce(bool nineX, ExportFn cleaningExport, bool traceOn)
    {
        m.reset();
        m.setWindows(nineX ? sim::WindowsVersion::Win98 : sim::WindowsVersion::WinXP);
        buildMachine(m, nineX);
        moduleLoad();
        TraceEnabled = traceOn;
        Outcome out{call(cleaningExport), m.allKeys(), {}, 0};
        for (const std::string& text : longTexts())
            if (m.valueExists(Asd, text))
                out.asdValues.push_back(text);
        for (const std::string& name : keyNames())
            out.devices += m.devicesWithHardwareId("USB\\" + name).size();
        EXPECT_EQ(traceOn, !m.debugger.texts.empty());
        clearTrace();
        return out;
    }
};

TEST_F(SwitchOffTest, EveryCleaningExportDeletesTheSameWithTheSwitchOffAsWithItOn)
{
    struct Export {
        const char* name;
        ExportFn fn;
    };
    const Export exports[] = {{"RemoveUsbDevices", RemoveUsbDevices},
                              {"RemovePedalDevices", RemovePedalDevices},
                              {"RemoveAuxDevices", RemoveAuxDevices}};
    for (bool nineX : {true, false}) {
        const Keys before = (m.reset(), buildMachine(m, nineX), m.allKeys());
        for (const Export& e : exports) {
            SCOPED_TRACE(std::string(e.name) + (nineX ? " on Windows 98" : " on Windows XP"));
            const Outcome traced = runOnce(nineX, e.fn, true);
            const Outcome shipped = runOnce(nineX, e.fn, false);
            EXPECT_EQ(shipped.result, 0);
            EXPECT_EQ(shipped.result, traced.result);
            EXPECT_EQ(shipped.keys, traced.keys);
            EXPECT_EQ(shipped.asdValues, traced.asdValues);
            EXPECT_EQ(shipped.devices, traced.devices);
            // Neither all nor nothing: the comparison has something to compare.
            EXPECT_LT(shipped.keys.size(), before.size());
            const auto kept = [&](const std::string& key) {
                return std::find(shipped.keys.begin(), shipped.keys.end(), key) != shipped.keys.end();
            };
            const std::string settings = nineX ? Settings9x : SettingsNt;
            EXPECT_TRUE(kept(settings.substr(0, settings.size() - 1) + "\\" + OtherVendorId));
            EXPECT_EQ(kept(Oem + UsbJoystickId), std::string(e.name) == "RemovePedalDevices");
            EXPECT_EQ(kept(Oem + AuxId), std::string(e.name) != "RemoveAuxDevices");
            if (nineX) {
                // Cut to 255 characters, a DeviceInstance value keeps a whole
                // id only when it ends by then (longTexts: 0 ends at 217, 1 at 257).
                EXPECT_EQ(kept(Interfaces + "##?#0"), std::string(e.name) == "RemovePedalDevices");
                EXPECT_TRUE(kept(Interfaces + "##?#1"));
                EXPECT_NE(std::find(shipped.asdValues.begin(), shipped.asdValues.end(),
                                    idAt(UsbJoystickId, 240, 400)),
                          shipped.asdValues.end());
            }
        }
    }
}
