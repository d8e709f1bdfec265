// Behaviour across the exports, each kind as one table: what an export hands
// on to the calls it reaches, what one export leaves to the next, where
// names and values are cut, and what each error a branch looks at does.
// Every case runs on a machine with the vendor's devices on it.
#include "native/cleaning_support.h"
#include "native/machine_builders.h"

#include "devices/install_state.h"

#include <algorithm>
#include <cstdint>
#include <set>

namespace {

using builders::join;
using sim::WindowsVersion;

const HWND HostWindow = reinterpret_cast<HWND>(static_cast<uintptr_t>(0x4711));
const HWND EarlierWindow = reinterpret_cast<HWND>(static_cast<uintptr_t>(0x815));
constexpr const char* Folder = "C:\\JQ";
const std::string RootInstance = "ROOT\\SYSTEM\\0000";
// The three vendor ids, one per list (bits 1, 2, 4 of a "gone" mask), and another vendor's.
const char* const VendorIds[3] = {UsbJoystickId, PedalId, AuxId};

enum class Road { Win98, NT4, XpAdmin, XpUser };

const char* roadName(Road r)
{
    static const char* const names[] = {"Windows 98", "NT 4.0", "XP, administrator",
                                        "XP, not an administrator"};
    return names[static_cast<int>(r)];
}

// Both device trees carry the same devices, so each road finds its own:
// the 9x road its keys under HKLM\Enum, the NT road its device nodes.
void buildMachine(sim::Machine& m, Road road, bool rootDevice)
{
    using namespace builders;
    m.reset();
    const WindowsVersion versions[] = {WindowsVersion::Win98, WindowsVersion::NT4,
                                       WindowsVersion::WinXP, WindowsVersion::WinXP};
    m.setWindows(versions[static_cast<int>(road)]);
    m.setAdministrator(road != Road::XpUser && road != Road::Win98);  // 9x asks no token
    m.devices.infFiles = vendorInfs({join(Folder, "JQDRV2K3.INF"), join(Folder, "JQDRV2K1.INF")});
    if (rootDevice)
        m.addDevice({RootInstance, {"root\\jq_pilotdeck"}, SystemClassGuid, "", true});
    const char* const ids[] = {UsbJoystickId, PedalId, AuxId, OtherVendorId};
    for (int i = 0; i < 4; ++i) {
        const std::string id = ids[i], n = "000" + std::to_string(i + 1);
        m.addDevice({"USB\\" + id + "\\1", {"USB\\" + id}, HidClassGuid,
                     std::string(HidClassGuid) + "\\" + n, true});
        m.setString(join(Enum9x, "USB\\" + id + "\\0000"), "Driver", "MEDIA\\" + n);
        m.createKey(join(Class9x, "MEDIA\\" + n));
    }
}

void prepare(sim::Machine& m)
{
    m.devices.driverInstallAsksReboot = true;
    m.dialogs.answers.assign(4, sim::DialogAnswer::Enter);
}

bool isNineXRoad(Road r) { return r == Road::Win98 || r == Road::NT4; }

// Which of the three vendor ids the road removed, and whether the other vendor's device stayed.
unsigned goneMask(sim::Machine& m, Road road, bool& otherStayed)
{
    const auto present = [&](const std::string& id) {
        return isNineXRoad(road) ? m.keyExists(join(builders::Enum9x, "USB\\" + id))
                                 : m.deviceExists("USB\\" + id + "\\1");
    };
    otherStayed = present(OtherVendorId);
    unsigned gone = 0;
    for (int i = 0; i < 3; ++i)
        if (!present(VendorIds[i]))
            gone |= 1u << i;
    return gone;
}

class BehaviourTablesTest : public SimTest {};

// ------------------------------------------------- values handed on

// The host's window reaches only the device sets a cleaning run asks for
// on the NT family; every other call gets none, no dialog has a parent; each
// driver install takes its INF from the folder, forced; and the mode of
// the export decides which of the vendor's ids go.
TEST_F(BehaviourTablesTest, EachExportHandsOnItsWindowFolderAndModeOnEveryRoad)
{
    using R = Road;
    struct Row {
        Road road;
        const char* name;
        ExportFn fn;
        LONG result;
        unsigned gone;                // bits 1, 2, 4: the USB, pedal and aux list ids
        int windowSets;               // SetupDiGetClassDevsA calls with the host's window
        std::vector<DWORD> installer; // SetupDiCallClassInstaller requests, in order
        int installs;                 // UpdateDriverForPlugAndPlayDevicesA calls
        int dialogs;
    };
    const DWORD Reg = DIF_REGISTERDEVICE, Rem = DIF_REMOVE;
    const Row rows[] = {
        {R::Win98, "UninstInitialize", UninstInitialize, 0, 0, 0, {}, 0, 1},
        {R::Win98, "UninstUnInitialize", UninstUnInitialize, 0, 7, 0, {}, 0, 1},
        {R::Win98, "RemoveRootDevice", RemoveRootDevice, 1, 7, 0, {}, 0, 0},
        {R::Win98, "RemoveUsbDevices", RemoveUsbDevices, 0, 3, 0, {}, 0, 0},
        {R::Win98, "RemovePedalDevices", RemovePedalDevices, 0, 2, 0, {}, 0, 0},
        {R::Win98, "RemoveAuxDevices", RemoveAuxDevices, 0, 7, 0, {}, 0, 0},
        {R::Win98, "CreateRootDevice", CreateRootDevice, 0, 0, 0, {Reg, Rem}, 0, 0},
        {R::Win98, "UpdateDevices", UpdateDevices, 0, 0, 0, {}, 0, 0},
        {R::NT4, "UninstInitialize", UninstInitialize, 0, 0, 0, {}, 0, 1},
        {R::NT4, "UninstUnInitialize", UninstUnInitialize, 0, 7, 0, {}, 0, 1},
        {R::NT4, "RemoveRootDevice", RemoveRootDevice, 1, 7, 0, {}, 0, 0},
        {R::NT4, "RemoveUsbDevices", RemoveUsbDevices, 0, 3, 0, {}, 0, 0},
        {R::NT4, "RemovePedalDevices", RemovePedalDevices, 0, 2, 0, {}, 0, 0},
        {R::NT4, "RemoveAuxDevices", RemoveAuxDevices, 0, 7, 0, {}, 0, 0},
        {R::NT4, "CreateRootDevice", CreateRootDevice, 0, 0, 0, {Reg, Rem}, 0, 0},
        {R::NT4, "UpdateDevices", UpdateDevices, 0, 0, 0, {}, 0, 0},
        {R::XpAdmin, "UninstInitialize", UninstInitialize, 0, 0, 0, {}, 0, 1},
        {R::XpAdmin, "UninstUnInitialize", UninstUnInitialize, 0, 7, 3, {}, 0, 1},
        {R::XpAdmin, "RemoveRootDevice", RemoveRootDevice, 1, 7, 3, {}, 0, 0},
        {R::XpAdmin, "RemoveUsbDevices", RemoveUsbDevices, 0, 3, 2, {}, 0, 0},
        {R::XpAdmin, "RemovePedalDevices", RemovePedalDevices, 0, 2, 1, {}, 0, 0},
        {R::XpAdmin, "RemoveAuxDevices", RemoveAuxDevices, 0, 7, 3, {}, 0, 0},
        {R::XpAdmin, "CreateRootDevice", CreateRootDevice, 1, 0, 0, {Reg}, 1, 0},
        {R::XpAdmin, "UpdateDevices", UpdateDevices, 0, 0, 0, {}, 2, 0},
        {R::XpUser, "UninstInitialize", UninstInitialize, 0, 0, 0, {}, 0, 2},
        {R::XpUser, "UninstUnInitialize", UninstUnInitialize, 0, 0, 0, {}, 0, 1},
        {R::XpUser, "RemoveRootDevice", RemoveRootDevice, 1, 0, 0, {}, 0, 0},
        {R::XpUser, "RemoveUsbDevices", RemoveUsbDevices, 2, 0, 0, {}, 0, 0},
        {R::XpUser, "RemovePedalDevices", RemovePedalDevices, 2, 0, 0, {}, 0, 0},
        {R::XpUser, "RemoveAuxDevices", RemoveAuxDevices, 2, 0, 0, {}, 0, 0},
        {R::XpUser, "CreateRootDevice", CreateRootDevice, 1, 0, 0, {Reg}, 1, 0},
        {R::XpUser, "UpdateDevices", UpdateDevices, 0, 0, 0, {}, 2, 0},
    };
    for (const Row& r : rows) {
        SCOPED_TRACE(std::string(r.name) + " on " + roadName(r.road));
        const bool creates = r.fn == CreateRootDevice;
        buildMachine(m, r.road, !creates);
        prepare(m);
        reload();
        EXPECT_EQ(r.fn(HostWindow, nullptr, Folder), r.result);

        int windowSets = 0, installs = 0;
        std::vector<DWORD> installer;
        for (const sim::CallRecord& c : m.calls) {
            if (c.window != nullptr) {
                EXPECT_EQ(c.window, HostWindow);
                ++windowSets;
                EXPECT_EQ(c.call, "SetupDiGetClassDevsA");
                EXPECT_EQ(c.flags, static_cast<DWORD>(DIGCF_ALLCLASSES)) << c.text;
            }
            if (c.call == "SetupDiCallClassInstaller")
                installer.push_back(c.flags);
            if (c.call == "UpdateDriverForPlugAndPlayDevicesA") {
                ++installs;
                const bool root = c.text == "root\\jq_pilotdeck";
                EXPECT_EQ(root, creates) << c.text;
                EXPECT_EQ(c.file, join(Folder, root ? "JQDRV2K3.INF" : "JQDRV2K1.INF"));
                EXPECT_EQ(c.flags, static_cast<DWORD>(INSTALLFLAG_FORCE));
            }
        }
        EXPECT_EQ(windowSets, r.windowSets);
        EXPECT_EQ(installer, r.installer);
        EXPECT_EQ(installs, r.installs);
        EXPECT_EQ(m.dialogs.shown.size(), static_cast<size_t>(r.dialogs));
        for (const sim::DialogRecord& d : m.dialogs.shown)
            EXPECT_FALSE(d.hasParent) << d.text.substr(0, 30);
        bool otherStayed = false;
        EXPECT_EQ(goneMask(m, r.road, otherStayed), r.gone);
        EXPECT_TRUE(otherStayed);
        EXPECT_EQ(NeedReboot(nullptr, nullptr, nullptr), r.installs ? 1 : 0)
            << "a driver install that asked for a restart is remembered";
        EXPECT_EQ(m.openHandleCount(), 0u) << m.openHandleReport();
    }
}

// ------------------------------------------------- one export after another

struct ExportEntry {
    const char* name;
    ExportFn fn;
    const char* text;
};
const ExportEntry Exports[16] = {
    {"UninstInitialize", UninstInitialize, nullptr}, {"UninstUnInitialize", UninstUnInitialize, nullptr},
    {"CreateRootDevice", CreateRootDevice, Folder},  {"UpdateDevices", UpdateDevices, Folder},
    {"RemoveRootDevice", RemoveRootDevice, nullptr}, {"RemoveUsbDevices", RemoveUsbDevices, nullptr},
    {"RemovePedalDevices", RemovePedalDevices, nullptr}, {"RemoveAuxDevices", RemoveAuxDevices, nullptr},
    {"IsWin2k", IsWin2k, nullptr},                   {"IsWinMe", IsWinMe, nullptr},
    {"IsWinXp", IsWinXp, nullptr},                   {"IsAdmin", IsAdmin, nullptr},
    {"NeedReboot", NeedReboot, nullptr},             {"InitModule", InitModule, nullptr},
    {"SetTargetDir", SetTargetDir, "D:\\Other"},     {"RootDeviceCount", RootDeviceCount, nullptr},
};

struct Outcome {
    LONG result;
    Lines trace, effect, calls;
    bool operator==(const Outcome& o) const
    {
        return result == o.result && trace == o.trace && effect == o.effect && calls == o.calls;
    }
};

Outcome runExport(sim::Machine& m, const ExportEntry& e, const builders::MachineImage& before)
{
    m.debugger.texts.clear();
    m.calls.clear();
    Outcome out{e.fn(HostWindow, nullptr, e.text), m.debugger.lines(), {}, {}};
    const builders::RegistryDiff d = builders::diff(before, m);
    for (const auto* list : {&d.keysRemoved, &d.keysAdded, &d.valuesRemoved, &d.valuesAdded,
                             &d.valuesChanged})
        out.effect.insert(out.effect.end(), list->begin(), list->end());
    out.effect.push_back("devices present: " + std::to_string(m.devices.present.size()));
    // The OS facts are shared by design (see below): when they are read
    // again is no state of one export's that changes the next.
    for (const sim::CallRecord& c : m.calls)
        if (c.call != "GetVersionExA" && c.call != "GetSystemMetrics" && c.call != "GetACP")
            out.calls.push_back(c.call + "|" + c.text + "|" + c.file + "|" + std::to_string(c.flags) +
                                "|" + std::to_string(reinterpret_cast<uintptr_t>(c.window)));
    return out;
}

// Within one load, B after A does what B does after a fresh load on the
// machine A left: nothing is carried but what the exports share by design,
// the folder and the restart flag (copied into the fresh load), and the OS
// facts, which InitModule reads first in both, as the host's script does.
TEST_F(BehaviourTablesTest, NoExportLeavesStateThatChangesTheNext)
{
    for (Road road : {Road::Win98, Road::XpAdmin, Road::XpUser}) {
        buildMachine(m, road, true);
        const builders::MachineImage start = builders::MachineImage::take(m);
        for (const ExportEntry& a : Exports) {
            for (const ExportEntry& b : Exports) {
                SCOPED_TRACE(std::string(a.name) + " then " + b.name + " on " + roadName(road));
                start.restore(m);
                prepare(m);
                reload();
                call(InitModule);
                a.fn(EarlierWindow, nullptr, a.text);
                const builders::MachineImage afterA = builders::MachineImage::take(m);
                const std::string folder = TargetDir;
                const bool reboot = RebootRequired;
                const Outcome within = runExport(m, b, afterA);

                afterA.restore(m);
                prepare(m);
                reload();
                call(InitModule);
                TargetDir = folder;
                RebootRequired = reboot;
                const Outcome fresh = runExport(m, b, afterA);
                EXPECT_EQ(within.result, fresh.result);
                EXPECT_EQ(within.trace, fresh.trace);
                EXPECT_EQ(within.effect, fresh.effect);
                EXPECT_EQ(within.calls, fresh.calls);
                if (HasFailure())
                    return;  // one pair tells the story; the rest would repeat it
            }
        }
    }
}

// ------------------------------------------------- error codes

// A fault: the nth call of `call` from the start, or after the first trace
// line `after` was written.
struct Injected {
    const char* call;
    DWORD error;
    int nth;
    const char* after;
};

// The absolute occurrence of an injected fault, from a run without faults.
int occurrenceOf(const std::vector<sim::CallRecord>& log, const Lines& lines, const Injected& f)
{
    size_t from = 0;
    if (f.after)
        from = static_cast<size_t>(std::find(lines.begin(), lines.end(), f.after) - lines.begin()) + 1;
    int seen = 0, wanted = 0;
    for (const sim::CallRecord& c : log) {
        if (c.call != f.call)
            continue;
        ++seen;
        if (c.traceLines >= from && ++wanted == f.nth)
            return seen;
    }
    ADD_FAILURE() << "no call " << f.nth << " of " << f.call;
    return -1;
}

// Each code a branch of the module looks at, at the call it looks at it,
// beside a code that branch does not look at; and the codes of the calls
// whose failure alone counts, to show that each is taken the same way.
TEST_F(BehaviourTablesTest, EveryErrorCodeABranchTestsAndOneItDoesNot)
{
    using R = Road;
    const char* const Settings = "DELKEYS: deleteJoystickSettingsKeys";
    const char* const Left = "  WR: Key did not open, left:VID_2F7A&PID_00A1";
    const char* const NotLeft = "!  WR: Key did not open, left:VID_2F7A&PID_00A1";
    struct Row {
        const char* what;
        Road road;
        ExportFn fn;
        bool root;
        std::vector<Injected> faults;
        LONG result;
        const char* line;  // a trace line that must be written (or, with '!' first, must not)
        bool settingsStay, rootStays;
    };
    const Row rows[] = {
        {"no thread token: the process token decides", R::XpAdmin, RemoveUsbDevices, true,
         {{"OpenThreadToken", ERROR_NO_TOKEN, 1, nullptr}}, 0, nullptr, false, true},
        {"another thread token error: no administrator", R::XpAdmin, RemoveUsbDevices, true,
         {{"OpenThreadToken", ERROR_ACCESS_DENIED, 1, nullptr}}, 2, nullptr, true, true},
        {"size query without a size", R::XpAdmin, RemoveUsbDevices, true,
         {{"GetTokenInformation", ERROR_INSUFFICIENT_BUFFER, 1, nullptr}}, 2, nullptr, true, true},
        {"size query, another code", R::XpAdmin, RemoveUsbDevices, true,
         {{"GetTokenInformation", ERROR_ACCESS_DENIED, 1, nullptr}}, 2, nullptr, true, true},
        {"group read fails", R::XpAdmin, RemoveUsbDevices, true,
         {{"GetTokenInformation", ERROR_INSUFFICIENT_BUFFER, 2, nullptr}}, 2, nullptr, true, true},
        {"key refused, opened for deletion", R::XpAdmin, RemoveUsbDevices, true,
         {{"RegOpenKeyExA", ERROR_ACCESS_DENIED, 2, Settings}}, 0, NotLeft, false, true},
        {"key refused, then gone", R::XpAdmin, RemoveUsbDevices, true,
         {{"RegOpenKeyExA", ERROR_ACCESS_DENIED, 2, Settings},
          {"RegOpenKeyExA", ERROR_FILE_NOT_FOUND, 3, Settings}}, 0, NotLeft, true, true},
        {"key refused twice", R::XpAdmin, RemoveUsbDevices, true,
         {{"RegOpenKeyExA", ERROR_ACCESS_DENIED, 2, Settings},
          {"RegOpenKeyExA", ERROR_ACCESS_DENIED, 3, Settings}}, 0, Left, true, true},
        {"key refused, then another code", R::XpAdmin, RemoveUsbDevices, true,
         {{"RegOpenKeyExA", ERROR_ACCESS_DENIED, 2, Settings},
          {"RegOpenKeyExA", ERROR_INVALID_HANDLE, 3, Settings}}, 0, Left, true, true},
        {"key refused on 9x: deleted by name", R::Win98, RemoveUsbDevices, true,
         {{"RegOpenKeyExA", ERROR_ACCESS_DENIED, 2, Settings}}, 0, nullptr, false, true},
        {"name longer than told", R::XpAdmin, RemoveUsbDevices, true,
         {{"RegEnumKeyExA", ERROR_MORE_DATA, 2, Settings}}, 0, nullptr, true, true},
        {"no name at the index", R::XpAdmin, RemoveUsbDevices, true,
         {{"RegEnumKeyExA", ERROR_NO_MORE_ITEMS, 2, Settings}}, 0, nullptr, true, true},
        {"no more devices", R::XpAdmin, RootDeviceCount, true,
         {{"SetupDiEnumDeviceInfo", ERROR_NO_MORE_ITEMS, 1, nullptr}}, 0,
         "  I2K: EnumDevInfo Error - tVal:103", true, true},
        {"device walk, another code", R::XpAdmin, RootDeviceCount, true,
         {{"SetupDiEnumDeviceInfo", ERROR_INVALID_HANDLE, 1, nullptr}}, 0,
         "  I2K: EnumDevInfo Error - tVal:6", true, true},
        {"driver install from a 32-bit caller on 64-bit Windows", R::XpAdmin, CreateRootDevice, false,
         {{"UpdateDriverForPlugAndPlayDevicesA", ERROR_IN_WOW64, 1, nullptr}}, 0,
         "  I2K: Error in UpdateDriverForPlugAndPlayDevices - tVal:E0000235", true, false},
        {"driver install without its INF", R::XpAdmin, CreateRootDevice, false,
         {{"UpdateDriverForPlugAndPlayDevicesA", ERROR_FILE_NOT_FOUND, 1, nullptr}}, 0,
         "  I2K: Error in UpdateDriverForPlugAndPlayDevices - tVal:2", true, false},
        {"no system folder for newdev.dll", R::XpAdmin, CreateRootDevice, true,
         {{"GetSystemDirectoryA", ERROR_ACCESS_DENIED, 2, nullptr}}, 0,
         "  I2K: Error in UpdateDriverForPlugAndPlayDevices - tVal:5", true, true},
    };
    for (const Row& r : rows) {
        SCOPED_TRACE(r.what);
        const auto build = [&] {
            buildMachine(m, r.road, r.root);
            prepare(m);
            // Another's settings first, so that a failed enumeration follows a good one.
            for (const char* id : {OtherVendorId, UsbJoystickId})
                m.createKey(join(r.road == Road::Win98 ? builders::Settings9x : builders::SettingsNt, id));
            reload();
        };
        build();
        r.fn(HostWindow, nullptr, Folder);
        const auto log = m.calls;
        const Lines lines = trace();
        build();
        for (const Injected& f : r.faults)
            m.faults.fail(f.call, f.error, occurrenceOf(log, lines, f));

        EXPECT_EQ(r.fn(HostWindow, nullptr, Folder), r.result);
        const std::string settings =
            join(r.road == Road::Win98 ? builders::Settings9x : builders::SettingsNt, UsbJoystickId);
        EXPECT_EQ(m.keyExists(settings), r.settingsStay);
        EXPECT_EQ(m.deviceExists(RootInstance), r.rootStays);
        EXPECT_EQ(NeedReboot(nullptr, nullptr, nullptr), 0);
        if (r.line) {
            const bool shown = r.line[0] != '!';
            const Lines now = trace();
            EXPECT_EQ(std::find(now.begin(), now.end(), r.line + (shown ? 0 : 1)) != now.end(), shown);
        }
        // A name that did not come is not the one before it once more.
        Lines examined;
        for (const std::string& l : trace())
            if (startsWith(l, "  EU: vidPidStr:"))
                examined.push_back(l);
        EXPECT_EQ(std::set<std::string>(examined.begin(), examined.end()).size(), examined.size());
        EXPECT_EQ(m.openHandleCount(), 0u) << m.openHandleReport();
    }
}

}  // namespace
