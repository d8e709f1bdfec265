#include "cli.h"
#include "load_machine.h"
#include "preview.h"
#include "report.h"
#include "tool_run.h"

#include "support/tracers.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>

using namespace preview;
using MachineSetup = preview::Setup;  // gtest's Test has a MachineSetup of its own

namespace {

regfile::Registry sample()
{
    regfile::Registry r;
    regfile::parse(sampleSnapshot(), SampleSnapshotName, r);
    return r;
}

regfile::Registry fromText(const std::string& text)
{
    regfile::Registry r;
    regfile::parse(text, "test.reg", r);
    return r;
}

ReportOptions reportOptions(bool showTrace, const std::string& name)
{
    ReportOptions o;
    o.showTrace = showTrace;
    o.snapshotName = name;
    return o;
}

std::vector<Call> script(std::initializer_list<const char*> names)
{
    std::vector<Call> calls;
    for (const char* name : names) {
        std::string text(name);
        const size_t eq = text.find('=');
        calls.push_back(Call{findExport(text.substr(0, eq)), eq == std::string::npos ? "" : text.substr(eq + 1)});
    }
    return calls;
}

std::vector<std::string> folded(std::vector<std::string> ids)
{
    for (std::string& id : ids)
        id = sim::upper(id);
    std::sort(ids.begin(), ids.end());
    return ids;
}

const char* const SampleVendorInstances[] = {
    "HID\\VID_2F7A&PID_00A1\\7&1F2E3D4C&0&0000", "HID\\VID_2F7A&PID_1A24\\7&3B04C6D2&0&0000",
    "HID\\VID_2F7A&PID_B8F9\\7&9A0C2E1&0&0000",  "JOVEX\\VID_2F7A&PID_C26B\\1&79F5D87&0&00",
    "ROOT\\SYSTEM\\0000",                        "USB\\VID_2F7A&PID_00A1\\6&2C9A1B3&0&1",
    "USB\\VID_2F7A&PID_1A24\\6&11E0F5A&0&2",     "USB\\VID_2F7A&PID_B8F9\\6&2C9A1B3&0&3",
    "USB\\VID_2F7A&PID_C26B\\6&2C9A1B3&0&4",
};

const std::string Ccs = "HKLM\\SYSTEM\\CurrentControlSet";

// A Windows 98 machine: devices under HKLM\Enum, driver keys under
// Services\Class, and the keys only the 9x road cleans.
const std::string Machine98 = R"(REGEDIT4

[HKEY_LOCAL_MACHINE\Enum\USB\VID_2F7A&PID_00A1\5&1]
"Driver"="HID\\0003"
[HKEY_LOCAL_MACHINE\Enum\HID\VID_2F7A&PID_00A1\6&1]
"Driver"="MEDIA\\0004"
[HKEY_LOCAL_MACHINE\Enum\HID\VID_045E&PID_0027\6&2]
"Driver"="MEDIA\\0005"
[HKEY_LOCAL_MACHINE\System\CurrentControlSet\Services\Class\HID\0003]
[HKEY_LOCAL_MACHINE\System\CurrentControlSet\Services\Class\MEDIA\0004]
[HKEY_LOCAL_MACHINE\System\CurrentControlSet\Services\Class\MEDIA\0005]
[HKEY_LOCAL_MACHINE\System\CurrentControlSet\Control\MediaResources\joystick\msjstick.drv<0004>]
[HKEY_LOCAL_MACHINE\System\CurrentControlSet\Control\MediaResources\joystick\msjstick.drv<0005>]
[HKEY_LOCAL_MACHINE\System\CurrentControlSet\Control\MediaResources\joystick\<FixedKey>\JoystickSettings\VID_2F7A&PID_00A1]
[HKEY_LOCAL_MACHINE\System\CurrentControlSet\Control\ASD\Prob\{9b4e7760-3196-11cf-97ea-00aa0034319d}]
"USB\\VID_2F7A&PID_00A1\\5&1"=hex:01
"USB\\VID_045E&PID_0027\\5&2"=hex:01
[HKEY_LOCAL_MACHINE\System\CurrentControlSet\Control\DeviceClasses\{4d1e55b2-f16f-11cf-88cb-001111000030}\##?#HID#Jq#6&1]
"DeviceInstance"="HID\\VID_2F7A&PID_00A1\\6&1"
)";

// An XP machine without the root device, for the installation road.
const std::string MachineXpBare = R"(Windows Registry Editor Version 5.00

[HKEY_LOCAL_MACHINE\SYSTEM\CurrentControlSet\Enum\Root\SYSTEM\0000]
"HardwareID"=hex(7):72,00,6f,00,6f,00,74,00,5c,00,73,00,77,00,65,00,6e,00,75,00,6d,00,00,00,00,00
"ClassGUID"="{4d36e97d-e325-11ce-bfc1-08002be10318}"
)";

class Preview : public ::testing::Test {
protected:
    void TearDown() override { EXPECT_FALSE(TraceEnabled); }
};

}  // namespace

TEST_F(Preview, SampleRemovalRoadRemovesTheVendorsDevicesAndNothingElse)
{
    const RunResult r = run(sample(), MachineSetup(), removalRoad());
    ASSERT_EQ(r.calls.size(), 2u);
    EXPECT_EQ(r.calls[0].result, 0);
    EXPECT_EQ(r.calls[0].meaning, "proceed with the uninstall");
    ASSERT_EQ(r.calls[0].dialogs.size(), 1u);  // an administrator is asked only to unplug
    EXPECT_EQ(r.calls[0].dialogs[0].result, 6);
    EXPECT_EQ(r.calls[1].result, 0);
    EXPECT_EQ(r.calls[1].trace.front(), "INST2K: UninstUnInitialize");
    EXPECT_TRUE(r.warnings.empty()) << r.warnings.front();

    const Changes c = diff(r.before, r.after);
    EXPECT_EQ(folded(c.devicesRemoved),
              folded(std::vector<std::string>(std::begin(SampleVendorInstances), std::end(SampleVendorInstances))));
    EXPECT_TRUE(c.devicesCreated.empty());
    EXPECT_TRUE(c.keysCreated.empty());
    EXPECT_TRUE(c.valuesAdded.empty());

    // The other vendor's joystick and the other root device survive whole.
    for (const std::string& path :
         {Ccs + "\\Enum\\USB\\Vid_045e&Pid_0027\\5&3a8b1c2&0&2", Ccs + "\\Enum\\HID\\Vid_045e&Pid_0027",
          Ccs + "\\Enum\\Root\\SYSTEM\\0001", Ccs + "\\Control\\Class\\{745a17a0-74d3-11d0-b6fe-00a0c90f57da}\\0001",
          Ccs + "\\Control\\MediaResources\\Joystick\\DINPUT.DLL\\JoystickSettings\\VID_045E&PID_0027",
          Ccs + "\\Control\\MediaProperties\\PrivateProperties\\Joystick\\OEM\\VID_045E&PID_0027"})
        EXPECT_NE(r.after.find(path), nullptr) << path;
    for (const KeyChange& k : c.keysDeleted)
        EXPECT_EQ(k.path.find("045"), std::string::npos) << k.path;

    // Windows XP keeps the device-interface keys: they are what is left,
    // and the report says the run never named them.
    const std::vector<VendorTrace> left = vendorTraces(r);
    EXPECT_EQ(left.size(), 4u);
    for (const VendorTrace& t : left) {
        EXPECT_NE(t.keyPath.find("\\DeviceClasses\\"), std::string::npos) << t.keyPath;
        EXPECT_FALSE(t.namedInTrace) << t.keyPath;
        EXPECT_FALSE(t.lists.empty());
    }

    const std::string text = textReport(r, reportOptions(true, "s"));
    EXPECT_NE(text.find("Device nodes removed: 9\n"), std::string::npos);
    EXPECT_NE(text.find("  | INST2K: UninstUnInitialize\n"), std::string::npos);
    EXPECT_NE(text.find("Restart: no driver install asked for one (NeedReboot answers 0); a message told the user"),
              std::string::npos);
    EXPECT_NE(text.find(Ccs + "\\Enum\\USB\\VID_2F7A&PID_C26B  (and 4 keys below)"), std::string::npos);
    EXPECT_EQ(textReport(r, reportOptions(false, "s")).find("  | "), std::string::npos);
}

TEST_F(Preview, AnswersDecideWhetherTheUninstallGoesOn)
{
    MachineSetup no;
    no.answers = {sim::DialogAnswer::No};
    const RunResult stopped = run(sample(), no, removalRoad());
    ASSERT_EQ(stopped.calls.size(), 1u);
    EXPECT_EQ(stopped.calls[0].result, -1);
    EXPECT_EQ(stopped.notRun, std::vector<std::string>{"UninstUnInitialize"});
    const Changes none = diff(stopped.before, stopped.after);
    EXPECT_TRUE(none.keysDeleted.empty() && none.devicesRemoved.empty());
    EXPECT_NE(textReport(stopped, {}).find("Not run, because UninstInitialize stopped the uninstall: "
                                           "UninstUnInitialize"),
              std::string::npos);

    no.stopWhenUninstallStops = false;
    const RunResult goneOn = run(sample(), no, removalRoad());
    EXPECT_EQ(goneOn.calls.size(), 2u);
    EXPECT_EQ(diff(goneOn.before, goneOn.after).devicesRemoved.size(), 9u);

    // Not an administrator: two questions; the cleaning is refused, but the
    // root device is still removed.
    MachineSetup user;
    user.administrator = false;
    user.answers = {sim::DialogAnswer::Yes, sim::DialogAnswer::Yes, sim::DialogAnswer::Ok, sim::DialogAnswer::Ok};
    const RunResult r = run(sample(), user, script({"UninstInitialize", "RemoveUsbDevices", "UninstUnInitialize"}));
    ASSERT_EQ(r.calls.size(), 3u);
    EXPECT_EQ(r.calls[0].dialogs.size(), 2u);
    EXPECT_EQ(r.calls[0].result, 0);
    EXPECT_EQ(r.calls[1].result, 2);
    EXPECT_EQ(r.calls[1].meaning, "not an administrator: nothing was done");
    EXPECT_EQ(folded(diff(r.before, r.after).devicesRemoved), folded({"Root\\SYSTEM\\0000"}));
    ASSERT_EQ(r.warnings.size(), 1u);
    EXPECT_EQ(r.warnings[0], "1 of the given dialog answers were not used");
}

TEST_F(Preview, PresenceComesFromControlKeysOrTheOptions)
{
    const regfile::Registry s = sample();
    const std::vector<std::string> present = presentInstances(s, {}, {});
    EXPECT_EQ(present.size(), 11u);
    for (const std::string& id : present)
        EXPECT_EQ(id.find("B8F9"), std::string::npos) << id;

    const std::string root = "Root\\SYSTEM\\0000";
    const auto attached = presentInstances(s, {"ROOT\\system\\0000"}, {"USB\\VID_2F7A&PID_B8F9\\6&2c9a1b3&0&3"});
    EXPECT_EQ(attached.size(), 11u);
    EXPECT_EQ(std::count(attached.begin(), attached.end(), root), 0);
    EXPECT_THROW(presentInstances(s, {"USB\\VID_2F7A&PID_00A1"}, {}), std::invalid_argument);

    // The machine sees it: an absent root device is not counted.
    MachineSetup absent;
    absent.absent = {root};
    EXPECT_EQ(run(s.clone(), absent, script({"RootDeviceCount"})).calls[0].result, 0);
    EXPECT_EQ(run(s.clone(), MachineSetup(), script({"RootDeviceCount"})).calls[0].result, 1);

    // Without any Control key every instance is attached.
    EXPECT_EQ(presentInstances(fromText(MachineXpBare), {}, {}).size(), 1u);
}

TEST_F(Preview, Windows98RoadCleansTheEnumTreeAndThe9xOnlyKeys)
{
    MachineSetup win98;
    win98.windows = sim::WindowsVersion::Win98;
    const RunResult r = run(fromText(Machine98), win98, script({"RemoveUsbDevices"}));
    EXPECT_EQ(r.calls[0].result, 0);
    EXPECT_TRUE(r.warnings.empty());
    const Changes c = diff(r.before, r.after);
    EXPECT_EQ(folded(c.devicesRemoved), folded({"USB\\VID_2F7A&PID_00A1\\5&1", "HID\\VID_2F7A&PID_00A1\\6&1"}));
    const std::string s = "HKLM\\System\\CurrentControlSet";
    for (const char* gone :
         {"\\Services\\Class\\HID\\0003", "\\Services\\Class\\MEDIA\\0004",
          "\\Control\\MediaResources\\joystick\\msjstick.drv<0004>",
          "\\Control\\MediaResources\\joystick\\<FixedKey>\\JoystickSettings\\VID_2F7A&PID_00A1",
          "\\Control\\DeviceClasses\\{4d1e55b2-f16f-11cf-88cb-001111000030}\\##?#HID#Jq#6&1"})
        EXPECT_EQ(r.after.find(s + gone), nullptr) << gone;
    for (const char* kept : {"\\Services\\Class\\MEDIA\\0005", "\\Control\\MediaResources\\joystick\\msjstick.drv<0005>"})
        EXPECT_NE(r.after.find(s + kept), nullptr) << kept;
    ASSERT_EQ(c.valuesDeleted.size(), 1u);
    EXPECT_EQ(c.valuesDeleted[0].name, "USB\\VID_2F7A&PID_00A1\\5&1");
    EXPECT_TRUE(vendorTraces(r).empty());

    // The same machine run as XP: nothing of the 9x road runs, and the
    // report points at the Windows version.
    const RunResult xp = run(fromText(Machine98), MachineSetup(), script({"RemoveUsbDevices"}));
    EXPECT_EQ(diff(xp.before, xp.after).keysDeleted.size(), 0u);
    ASSERT_EQ(xp.warnings.size(), 1u);
    EXPECT_NE(xp.warnings[0].find("9x family"), std::string::npos);
}

TEST_F(Preview, InstallationRoadCreatesTheRootDeviceWhenItsInfIsThere)
{
    MachineSetup withInf;
    withInf.files = {"C:\\JQ\\JQDRV2K3.INF"};
    withInf.driverInstallAsksReboot = true;
    const auto road = script({"InitModule", "CreateRootDevice=C:\\JQ", "NeedReboot", "RootDeviceCount"});
    const RunResult r = run(fromText(MachineXpBare), withInf, road);
    ASSERT_EQ(r.calls.size(), 4u);
    ASSERT_EQ(r.calls[1].driverInstalls.size(), 1u);
    EXPECT_EQ(r.calls[1].driverInstalls[0].text, "root\\jq_pilotdeck");
    EXPECT_EQ(r.calls[1].driverInstalls[0].file, "C:\\JQ\\JQDRV2K3.INF");
    EXPECT_TRUE(r.calls[1].driverInstalls[0].result);
    EXPECT_EQ(r.calls[2].result, 1);
    EXPECT_EQ(r.calls[3].result, 1);
    EXPECT_TRUE(r.rebootRequired);
    EXPECT_EQ(folded(diff(r.before, r.after).devicesCreated), folded({"ROOT\\SYSTEM\\0001"}));
    EXPECT_NE(textReport(r, {}).find("Restart: yes: a driver install asked for one (NeedReboot answers 1)"),
              std::string::npos);

    // Without the INF the install fails and no node is left behind.
    const RunResult failed = run(fromText(MachineXpBare), MachineSetup(), road);
    ASSERT_EQ(failed.calls[1].driverInstalls.size(), 1u);
    EXPECT_FALSE(failed.calls[1].driverInstalls[0].result);
    EXPECT_EQ(failed.calls[1].driverInstalls[0].error, static_cast<DWORD>(ERROR_FILE_NOT_FOUND));
    EXPECT_TRUE(diff(failed.before, failed.after).devicesCreated.empty());
    EXPECT_FALSE(failed.rebootRequired);
}

TEST_F(Preview, MachineReadsBackAsLoaded)
{
    // The sample goes into the simulator and comes out unchanged, and the
    // machine after a run comes back from its .reg file unchanged.
    const regfile::Registry s = sample();
    const RunResult r = run(s.clone(), MachineSetup(), script({"IsWinXp"}));
    EXPECT_EQ(regfile::write(r.before), regfile::write(s));
    const RunResult cleaned = run(s.clone(), MachineSetup(), removalRoad());
    regfile::Registry back;
    regfile::parse(regfile::write(cleaned.after), "after.reg", back);
    EXPECT_EQ(regfile::write(back), regfile::write(cleaned.after));
    EXPECT_EQ(back.find(Ccs + "\\Enum\\USB\\VID_2F7A&PID_C26B"), nullptr);
}

// Each --windows word: the version the library is told, the family, the
// road it takes (it reads the major version only, so NT 4.0 takes the 9x
// road), what the OS exports answer there, and the road's device tree named
// first in the report.
TEST_F(Preview, EveryWindowsVersionNamesItsFamilyAndRoad)
{
    const struct {
        const char* word;
        const char* name;
        const char* family;
        const char* road;
        LONG win2k, winXp;
    } rows[] = {
        {"95", "Windows 95 (4.0)", "9x", "9x", 0, 0},    {"me", "Windows Me (4.90)", "9x", "9x", 0, 0},
        {"nt4", "Windows NT 4.0 (4.0)", "NT", "9x", 0, 0}, {"2k", "Windows 2000 (5.0)", "NT", "NT", 1, 0},
        {"XP", "Windows XP (5.1)", "NT", "NT", 1, 1},    {"7", "Windows 7 (6.1)", "NT", "NT", 0, 0},
        {"8", "Windows 8 (6.2)", "NT", "NT", 0, 0},      {"8.1", "Windows 8.1 (6.3)", "NT", "NT", 0, 0},
        {"10", "Windows 10 (10.0)", "NT", "NT", 0, 0},   {"11", "Windows 11 (10.0)", "NT", "NT", 0, 0},
    };
    for (const auto& row : rows) {
        MachineSetup setup;
        ASSERT_TRUE(parseWindowsVersion(row.word, setup.windows)) << row.word;
        const RunResult r = run(sample(), setup, script({"InitModule", "IsWin2k", "IsWinXp", "RemoveUsbDevices"}));
        EXPECT_EQ(r.calls[1].result, row.win2k) << row.word;
        EXPECT_EQ(r.calls[2].result, row.winXp) << row.word;
        const std::string text = textReport(r, {});
        EXPECT_EQ(text.rfind(std::string("Machine: ") + row.name + ",", 0), 0u) << text.substr(0, 80);
        const bool road9x = std::string(row.road) == "9x";
        const char* roadLine = std::string(row.family) == "9x" ? "\n  road: 9x family: the library's 9x road"
                               : road9x ? "\n  road: NT family, but version 4: the library takes its 9x road"
                                        : "\n  road: NT family: the library's NT road";
        EXPECT_NE(text.find(roadLine), std::string::npos) << row.word;
        EXPECT_NE(text.find(road9x ? "  device instances: 0 under HKLM\\Enum\n"
                                   : "  device instances: 13 under HKLM\\System\\CurrentControlSet\\Enum, 11 attached\n"),
                  std::string::npos)
            << row.word;
        const std::string json = jsonReport(r, {});
        EXPECT_NE(json.find(std::string("\"family\": \"") + row.family + "\", \"road\": \"" + row.road + "\""),
                  std::string::npos)
            << row.word;
    }
}

// Every trace left names why, the first reason that holds: a user's hive,
// beyond the library's reach, no cleaning run, no administrator, the NT
// road's gaps, an id no list holds. Another vendor's keys are no traces.
TEST_F(Preview, EveryTraceLeftSaysWhyItStays)
{
    const std::string oem = "\\System\\CurrentControlSet\\Control\\MediaProperties\\PrivateProperties\\Joystick\\OEM\\";
    regfile::Registry s = sample();
    s.create("HKEY_CURRENT_USER" + oem + "VID_2F7A&PID_00A1");
    s.create("HKEY_USERS\\S-1-5-21-7" + oem + "VID_2F7A&PID_C26B");
    s.create("HKEY_USERS\\S-1-5-21-7" + oem + "VID_045E&PID_0027");
    s.create("HKEY_LOCAL_MACHINE\\SOFTWARE\\JQ\\VID_2F7A&PID_00A1");
    s.create("HKEY_LOCAL_MACHINE" + oem + "VID_2F7A&PID_9999");
    const auto reasons = [](const RunResult& r) {
        std::map<std::string, std::pair<std::string, std::string>> out;  // key: user, reason
        for (const VendorTrace& t : vendorTraces(r))
            out[t.keyPath.substr(t.keyPath.rfind('\\') + 1) + (t.user.empty() ? "" : "@" + t.user)] = {t.user, t.reason};
        return out;
    };

    const RunResult removal = run(s.clone(), MachineSetup(), removalRoad());
    const auto got = reasons(removal);
    const std::string perUser = "a per-user key: the library cleans HKEY_LOCAL_MACHINE only";
    EXPECT_EQ(got.at("VID_2F7A&PID_00A1@HKCU").second, perUser);
    EXPECT_EQ(got.at("VID_2F7A&PID_C26B@HKU\\S-1-5-21-7").second, perUser);
    EXPECT_EQ(got.count("VID_045E&PID_0027@HKU\\S-1-5-21-7"), 0u);
    EXPECT_EQ(got.at("VID_2F7A&PID_00A1").second,
              "outside HKLM\\SYSTEM\\CurrentControlSet and HKLM\\Enum, where the library never looks");
    EXPECT_EQ(got.at("VID_2F7A&PID_9999").second, "a product id of the vendor that no id list holds");
    EXPECT_EQ(got.at("##?#USB#Vid_2f7a&Pid_00a1#6&2c9a1b3&0&1#{a5dcbf10-6530-11d2-901f-00c04fb951ed}").second,
              "the NT road does not clean DeviceClasses and ASD (the 9x road does)");
    const std::string text = textReport(removal, {});
    EXPECT_NE(text.find("(1 beyond the library's reach under HKLM, 2 in users' hives)"), std::string::npos);
    EXPECT_NE(text.find("  per-user keys of HKU\\S-1-5-21-7:\n"), std::string::npos);
    EXPECT_NE(jsonReport(removal, {}).find("\"vendorTraceCounts\": {\"all\": 8, \"beyondReach\": 1, \"perUser\": 2}"),
              std::string::npos);

    // Not an administrator: what the cleaning would have taken stays, and says why.
    MachineSetup user;
    user.administrator = false;
    EXPECT_EQ(reasons(run(s.clone(), user, removalRoad())).at("VID_2F7A&PID_00A1@HKCU").second, perUser);
    EXPECT_EQ(reasons(run(s.clone(), user, script({"RemoveUsbDevices"}))).at("VID_2F7A&PID_9999").second,
              "the user is not an administrator: the cleaning answered 2 and cleaned nothing");
    // The installation road cleans nothing.
    EXPECT_EQ(reasons(run(s.clone(), MachineSetup(), script({"InitModule", "IsWinXp"}))).at("VID_2F7A&PID_9999").second,
              "no cleaning ran: none of the exports called cleans the registry");
}

TEST_F(Preview, ToolRefusesBadInputBeforeRunningAnything)
{
    const TempFile bad("REGEDIT4\r\n[HKEY_LOCAL_MACHINE\\A]\r\n\"v\"=dword:xyz\r\n");
    ToolRun t = tool({bad.path, "--strict", "RemoveUsbDevices"});
    EXPECT_EQ(t.status, ExitBadInput);
    EXPECT_EQ(t.out, "");
    EXPECT_EQ(t.err, bad.path + ":3: dword data without hexadecimal digits\n");

    const struct {
        std::vector<std::string> args;
        const char* message;
    } cases[] = {
        {{"RemoveUsbDevicez"}, "unknown export \"RemoveUsbDevicez\"; the exports are: UninstInitialize,"},
        {{"--frobnicate"}, "unknown option \"--frobnicate\""},
        {{"--windows"}, "option --windows needs a value"},
        {{"--windows=3.1"}, "unknown Windows version \"3.1\""},
        {{"--answer", "yes,maybe"}, "unknown dialog answer \"maybe\""},
        {{"--quiet=1"}, "option --quiet takes no value"},
        {{"a.reg", "b.reg"}, "two snapshots given"},
        {{"--absent", "USB\\NO\\SUCH"}, "no device instance \"USB\\NO\\SUCH\""},
        {{"/no/such/file.reg"}, "/no/such/file.reg: cannot open the file"},
        {{"--code-page", "932"}, "code page \"932\" is not supported; the supported ones are: 874, 1250,"},
        {{"--code-page=x"}, "code page \"x\" is not supported"},
    };
    for (const auto& c : cases) {
        t = tool(c.args);
        EXPECT_EQ(t.status, ExitBadInput) << c.message;
        EXPECT_EQ(t.out, "") << c.message;
        EXPECT_NE(t.err.find(c.message), std::string::npos) << t.err;
    }

    // A text the code page cannot hold would be written as '?' into a file
    // regedit imports: --write-reg refuses and writes nothing.
    std::string japanese = "\xFF\xFE";
    for (char16_t c : std::u16string(u"Windows Registry Editor Version 5.00\r\n[HKEY_LOCAL_MACHINE\\A]\r\n"
                                     u"\"v\"=\"\u65E5\"\r\n")) {
        japanese += static_cast<char>(c & 0xFF);
        japanese += static_cast<char>(c >> 8);
    }
    const TempFile lossy(japanese);
    const std::string written = lossy.path + ".out";
    t = tool({lossy.path, "--write-reg", written, "IsWinXp"});
    EXPECT_EQ(t.status, ExitBadInput);
    EXPECT_NE(t.err.find("--write-reg: 1 names and texts of " + lossy.path +
                         " hold characters code page 1252 lacks (the first at line 3)"),
              std::string::npos)
        << t.err;
    EXPECT_FALSE(std::filesystem::exists(written));
    t = tool({lossy.path, "-q", "IsWinXp"});
    EXPECT_EQ(t.status, ExitOk);
    EXPECT_NE(t.out.find(":3: the text \"\xE6\x97\xA5\" holds characters code page 1252 lacks: they read as '?'"),
              std::string::npos)
        << t.out;

    t = tool({"--help"});
    EXPECT_EQ(t.status, ExitOk);
    EXPECT_EQ(t.out.rfind("Usage: jqpreview", 0), 0u);
}

TEST_F(Preview, ToolWritesTheReportsAndTheMachineAfterTheRun)
{
    const TempFile machine(MachineXpBare);
    const TempFile json("");
    const TempFile after("");
    ToolRun t = tool({"-q", "--json", json.path, "--write-reg", after.path, "--file", "C:\\JQ\\JQDRV2K3.INF",
                      "--", "CreateRootDevice=C:\\JQ", machine.path});
    // After "--" a name ending in .reg is no snapshot but an unknown export.
    EXPECT_EQ(t.status, ExitBadInput);

    t = tool({"-q", "--json", json.path, "--write-reg", after.path, "--file", "C:\\JQ\\JQDRV2K3.INF",
              machine.path, "CreateRootDevice=C:\\JQ"});
    EXPECT_EQ(t.status, ExitOk) << t.err;
    EXPECT_NE(t.out.find("CreateRootDevice(\"C:\\JQ\") -> 1"), std::string::npos) << t.out;
    EXPECT_NE(sim::upper(t.out).find("DEVICE NODES CREATED: 1\n    ROOT\\SYSTEM\\0001\n"), std::string::npos)
        << t.out;

    std::ifstream jsonIn(json.path);
    const std::string report((std::istreambuf_iterator<char>(jsonIn)), std::istreambuf_iterator<char>());
    EXPECT_NE(sim::upper(report).find("\"DEVICENODESCREATED\": [\"ROOT\\\\SYSTEM\\\\0001\"]"),
              std::string::npos)
        << report;
    EXPECT_NE(report.find("\"export\": \"CreateRootDevice\", \"ordinal\": 3, \"text\": \"C:\\\\JQ\""),
              std::string::npos);
    // What lay beyond the library's reach is counted in the JSON as in the text.
    const TempFile beyond("REGEDIT4\r\n[HKEY_LOCAL_MACHINE\\SOFTWARE\\A]\r\n\"v\"=\"1\"\r\n\"w\"=\"2\"\r\n"
                          "[HKEY_LOCAL_MACHINE\\SOFTWARE\\B]\r\n[HKEY_LOCAL_MACHINE\\software\\a]\r\n");
    t = tool({beyond.path, "--json", "-", "IsWinXp"});
    EXPECT_NE(t.out.find("\"beyondReach\": {\"keys\": 2, \"keyLines\": 3, \"valueLines\": 2}"), std::string::npos)
        << t.out.substr(0, 400);

    regfile::Registry written;
    const regfile::FileInfo info = regfile::load(after.path, written);
    EXPECT_EQ(info.format, regfile::Format::Version5);
    EXPECT_EQ(info.encoding, regfile::Encoding::Utf16Le);
    const regfile::Key* created = written.find(Ccs + "\\Enum\\ROOT\\SYSTEM\\0001");
    ASSERT_NE(created, nullptr);
    EXPECT_EQ(*created->value("HardwareID"), regfile::multiStringValue("HardwareID", {"root\\jq_pilotdeck"}));

    t = tool({"--json", "-", "IsWinXp"});
    EXPECT_EQ(t.status, ExitOk);
    EXPECT_EQ(t.out.rfind("{\n  \"machine\": {\"windows\": \"Windows XP (5.1)\"", 0), 0u) << t.out;

    t = tool({"--write-reg", "/no/such/dir/after.reg", "IsWinXp"});
    EXPECT_EQ(t.status, ExitWriteFailed);
    EXPECT_NE(t.err.find("cannot write the registry to /no/such/dir/after.reg"), std::string::npos);
}
