// Every platform call that an export reaches is made to fail in turn, with
// the errors Windows gives for it: the first time it is called, the last
// time, and every time. Whatever fails, the export answers with a result it
// may give, nothing leaves it, every handle it opened is closed again, and
// nothing outside the vendor's own keys and values changes. Then every
// allocation an export makes is made to fail in turn, the same way.
#include "native/fixture.h"
#include "native/machine_builders.h"

#include <algorithm>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <map>
#include <mutex>
#include <set>
#include <string>
#include <thread>
#include <tuple>
#include <vector>

namespace {

using builders::join;
using sim::DialogAnswer;
using sim::HandleKind;

enum class Family { W9x, Nt };

constexpr const char* TargetFolder = "C:\\JQ";
const HWND HostWindow = reinterpret_cast<HWND>(static_cast<uintptr_t>(0x10010));

// ------------------------------------------------------------- the machine

// What the vendor owns on a machine built here: whole subtrees and single
// values. Decided by how the machine was built, never by the product.
struct VendorTraces {
    std::vector<std::string> keys;    // PATH, folded to upper case
    std::vector<std::string> values;  // PATH|NAME

    void ownKey(const std::string& path) { keys.push_back(sim::upper(path)); }
    void ownValue(const std::string& entry) { values.push_back(sim::upper(entry)); }

    bool ownsKey(const std::string& path) const
    {
        return std::any_of(keys.begin(), keys.end(),
                           [&path](const std::string& k) { return builders::isAtOrBelow(path, k); });
    }
    bool ownsValue(const std::string& entry) const
    {
        return ownsKey(builders::keyOfValue(entry)) ||
               std::find(values.begin(), values.end(), sim::upper(entry)) != values.end();
    }
};

struct MachineShape {
    Family family;
    bool administrator;
    bool rootDevices;  // two root devices of the vendor present
};

// A machine with some of every kind of trace the vendor's devices leave, in
// each of the three matching modes, next to another vendor's devices and
// entries in the same keys.
VendorTraces buildMachine(sim::Machine& m, const MachineShape& shape)
{
    using namespace builders;
    m.reset();
    m.setWindows(shape.family == Family::W9x ? sim::WindowsVersion::Win98
                                             : sim::WindowsVersion::WinXP);
    m.setAdministrator(shape.administrator);
    m.devices.infFiles = vendorInfs({"C:\\JQ\\JQDRV2K3.INF", "C:\\JQ\\JQDRV2K1.INF"});
    VendorTraces vendor;
    const auto own = [&vendor](const std::string& key) { vendor.ownKey(key); };

    // Device nodes, where the setup API finds them on either family.
    m.addDevice({"ROOT\\SYSTEM\\0000", {"root\\other"}, SystemClassGuid,
                 std::string(SystemClassGuid) + "\\0000", true});
    // Every other System node is the vendor's root device, there now or created by the export.
    for (int n = 1; n <= 9; ++n)
        own(join(EnumNt, "ROOT\\SYSTEM\\000" + std::to_string(n)));
    if (shape.rootDevices) {
        m.addDevice({"ROOT\\SYSTEM\\0001", {"root\\jq_pilotdeck"}, SystemClassGuid, "", true});
        m.addDevice({"ROOT\\SYSTEM\\0002", {"root\\jq_pilotdeck"}, SystemClassGuid, "", true});
    }
    own(join(ClassNt, VendorDriverClassGuid));  // where the vendor's driver installs land

    struct Device {
        const char* instanceId;
        bool present;
        const char* driver;
        bool vendors;
    };
    const std::string hid = std::string(HidClassGuid) + "\\";
    const std::string vendorClass = std::string(VendorDriverClassGuid) + "\\";
    const Device devices[] = {
        {"USB\\VID_2F7A&PID_00A1\\5&1A2B&0&1", true, "0001", true},
        {"USB\\VID_2F7A&PID_00A1\\5&1A2B&0&2", false, "0002", true},
        {"USB\\VID_2F7A&PID_1A24\\5&3C4D&0&1", true, nullptr, true},  // runs the vendor's driver
        {"HID\\VID_2F7A&PID_1A24\\7&1&0&0000", true, "0004", true},
        {"HID\\VID_2F7A&PID_00A1&MI_00\\7&2&0&0000", true, "0005", true},
        {"Jovex\\VID_2F7A&PID_C26B\\1", false, "0006", true},
        {"USB\\VID_045E&PID_0008\\6&1&0&1", true, "0009", false},
        {"HID\\VID_045E&PID_0008\\7&3&0&0000", true, "0010", false},
    };
    for (const Device& d : devices) {
        const std::string instance = d.instanceId;
        const std::string deviceId = instance.substr(0, instance.rfind('\\'));
        const std::string driver = d.driver ? hid + d.driver : vendorClass + "0000";
        m.addDevice({instance, {deviceId}, HidClassGuid, driver, d.present});
        if (d.vendors) {
            own(join(EnumNt, deviceId));
            own(join(ClassNt, driver));
        }
    }

    if (shape.family == Family::W9x) {
        const auto instance9x = [&m](const char* enumerator, const char* device,
                                     const char* instance, const char* driver) {
            const std::string key = join(join(join(Enum9x, enumerator), device), instance);
            m.createKey(key);
            if (driver)
                m.setString(key, "Driver", driver);
            return join(join(Enum9x, enumerator), device);
        };
        own(instance9x("USB", "VID_2F7A&PID_00A1", "0000", "HIDCLASS\\0001"));
        instance9x("USB", "VID_2F7A&PID_00A1", "0001", "Ports\\0002");
        own(instance9x("HID", "VID_2F7A&PID_1A24&MI_00", "0000", "MEDIA\\0003"));
        instance9x("HID", "VID_2F7A&PID_1A24&MI_00", "0001", nullptr);
        own(instance9x("Jovex", "VID_2F7A&PID_C26B", "0000", "MEDIA\\0004"));
        instance9x("USB", "VID_045E&PID_0008", "0000", "HIDCLASS\\0000");
        instance9x("HID", "VID_045E&PID_0008", "0000", "MEDIA\\0001");
        for (const char* driverKey : {"HIDCLASS\\0001", "Ports\\0002", "MEDIA\\0003\\Config",
                                      "MEDIA\\0004", "HIDCLASS\\0000", "MEDIA\\0001"})
            m.createKey(join(Class9x, driverKey));
        for (const char* driverKey : {"HIDCLASS\\0001", "Ports\\0002", "MEDIA\\0003", "MEDIA\\0004"})
            own(join(Class9x, driverKey));
        for (const char* joystick : {"msjstick.drv<0003>\\CurrentSettings", "msjstick.drv<0004>",
                                     "msjstick.drv<0001>"})
            m.createKey(join(Joystick9x, joystick));
        own(join(Joystick9x, "msjstick.drv<0003>"));
        own(join(Joystick9x, "msjstick.drv<0004>"));

        const std::string asd[2] = {join(AsdProb, AsdSubkeys[0]), join(AsdProb, AsdSubkeys[1])};
        m.setString(asd[0], "VID_2F7A&PID_00A1", "1");
        m.setString(asd[0], "VID_045E&PID_0008", "1");
        m.setString(asd[1], "JQ VID_2F7A&PID_C26B", "1");
        m.setString(asd[1], "Other", "1");
        vendor.ownValue(asd[0] + "|VID_2F7A&PID_00A1");
        vendor.ownValue(asd[1] + "|JQ VID_2F7A&PID_C26B");

        struct Interface {
            int classKey;
            const char* name;
            const char* deviceInstance;
            bool vendors;
        };
        const Interface interfaces[] = {
            {0, "##?#HID#VID_2F7A&PID_1A24&MI_00#7&1#{4d1e55b2}",
             "HID\\VID_2F7A&PID_1A24&MI_00\\0000", true},
            {0, "##?#HID#VID_045E&PID_0008#7&2#{4d1e55b2}", "HID\\VID_045E&PID_0008\\0000", false},
            {1, "##?#USB#VID_2F7A&PID_00A1#5&1#{a5dcbf10}", "USB\\VID_2F7A&PID_00A1\\0000", true},
            {1, "##?#USB#VID_045E&PID_0008#5&2#{a5dcbf10}", "USB\\VID_045E&PID_0008\\0000", false},
        };
        for (const Interface& i : interfaces) {
            const std::string key = join(InterfaceClassKeys[i.classKey], i.name);
            m.setString(key, "DeviceInstance", i.deviceInstance);
            m.createKey(join(key, "#"));
            if (i.vendors)
                own(key);
        }
    }

    const std::string& settings = shape.family == Family::W9x ? Settings9x : SettingsNt;
    for (const char* name : {"VID_2F7A&PID_00A1\\Calibration", "VID_2F7A&PID_1A24", "VID_045E&PID_0008"})
        m.createKey(join(settings, name));
    own(join(settings, "VID_2F7A&PID_00A1"));
    own(join(settings, "VID_2F7A&PID_1A24"));
    for (const char* name : {"VID_2F7A&PID_C26B", "VID_2F7A&PID_1A24\\Axes", "VID_045E&PID_0008"})
        m.createKey(join(Oem, name));
    own(join(Oem, "VID_2F7A&PID_C26B"));
    own(join(Oem, "VID_2F7A&PID_1A24"));
    return vendor;
}

// ------------------------------------------------------------- scenarios

struct Scenario {
    std::string exportName;
    ExportFn fn;
    const char* text;
    MachineShape shape;
    std::vector<DialogAnswer> answers;
    bool initFirst;     // InitModule first, outside the faults, as the host's script does
    LONG withoutFaults; // what the export answers on this machine when nothing fails

    std::string describe() const
    {
        return exportName + " on " + (shape.family == Family::W9x ? "Windows 98" : "Windows XP") +
               (shape.administrator ? "" : ", not an administrator") +
               (shape.rootDevices ? "" : ", no root device");
    }
};

std::vector<Scenario> scenarios()
{
    using A = DialogAnswer;
    std::vector<Scenario> all;
    for (Family family : {Family::W9x, Family::Nt}) {
        const bool nt = family == Family::Nt;
        const MachineShape admin{family, true, true};
        const MachineShape user{family, false, true};
        const auto add = [&all](const char* name, ExportFn fn, const char* text, MachineShape shape,
                                std::vector<A> answers, bool initFirst, LONG result) {
            all.push_back({name, fn, text, shape, std::move(answers), initFirst, result});
        };
        add("UninstInitialize", UninstInitialize, nullptr, admin, {A::Yes}, false, 0);
        add("UninstUnInitialize", UninstUnInitialize, nullptr, admin, {A::Ok}, false, 0);
        // Without newdev.dll (9x) no driver installs, and a new node is taken back.
        add("CreateRootDevice", CreateRootDevice, TargetFolder, admin, {}, true, nt ? 1 : 0);
        add("CreateRootDevice", CreateRootDevice, TargetFolder, {family, true, false}, {}, true,
            nt ? 1 : 0);
        add("UpdateDevices", UpdateDevices, TargetFolder, admin, {}, true, 0);
        add("RemoveRootDevice", RemoveRootDevice, nullptr, admin, {}, false, 1);
        add("RemoveUsbDevices", RemoveUsbDevices, nullptr, admin, {}, false, 0);
        add("RemovePedalDevices", RemovePedalDevices, nullptr, admin, {}, false, 0);
        add("RemoveAuxDevices", RemoveAuxDevices, nullptr, admin, {}, false, 0);
        add("IsWin2k", IsWin2k, nullptr, admin, {}, true, nt ? 1 : 0);
        add("IsWinMe", IsWinMe, nullptr, admin, {}, true, 0);
        add("IsWinXp", IsWinXp, nullptr, admin, {}, true, nt ? 1 : 0);
        add("IsAdmin", IsAdmin, nullptr, admin, {}, false, 1);
        add("NeedReboot", NeedReboot, nullptr, admin, {}, true, 0);
        add("InitModule", InitModule, nullptr, admin, {}, false, 1);
        add("SetTargetDir", SetTargetDir, TargetFolder, admin, {}, true, 0);
        add("RootDeviceCount", RootDeviceCount, nullptr, admin, {}, false, 2);
        if (nt) {  // on the 9x family every user counts as an administrator
            add("UninstInitialize", UninstInitialize, nullptr, user, {A::Yes, A::Yes}, false, 0);
            add("UninstUnInitialize", UninstUnInitialize, nullptr, user, {A::Ok}, false, 0);
            add("RemovePedalDevices", RemovePedalDevices, nullptr, user, {}, false, 2);
            add("IsAdmin", IsAdmin, nullptr, user, {}, false, 0);
        }
    }
    return all;
}

// ------------------------------------------------------------- faults

struct Injected {
    std::string call;
    DWORD error;
    int occurrence;  // 0: every call
};

// The errors Windows gives for each call the module makes. A call missing
// here fails the sweep, so a new call cannot go untried.
const std::map<std::string, std::vector<DWORD>>& windowsErrors()
{
    static const std::map<std::string, std::vector<DWORD>> errors = {
        {"RegOpenKeyExA", {ERROR_FILE_NOT_FOUND, ERROR_ACCESS_DENIED}},
        {"RegCloseKey", {ERROR_INVALID_HANDLE}},
        {"RegFlushKey", {ERROR_REGISTRY_IO_FAILED}},
        {"RegQueryInfoKeyA", {ERROR_ACCESS_DENIED, ERROR_KEY_DELETED}},
        {"RegEnumKeyExA", {ERROR_NO_MORE_ITEMS, ERROR_MORE_DATA}},
        {"RegEnumValueA", {ERROR_NO_MORE_ITEMS, ERROR_MORE_DATA}},
        {"RegQueryValueExA", {ERROR_FILE_NOT_FOUND, ERROR_MORE_DATA}},
        {"RegDeleteKeyA", {ERROR_ACCESS_DENIED}},
        {"RegDeleteValueA", {ERROR_ACCESS_DENIED}},
        {"GetVersionExA", {ERROR_INSUFFICIENT_BUFFER}},
        {"GetSystemDirectoryA", {ERROR_NOT_ENOUGH_MEMORY}},
        {"LoadLibraryA", {ERROR_MOD_NOT_FOUND}},
        {"GetProcAddress", {ERROR_PROC_NOT_FOUND}},
        {"CloseHandle", {ERROR_INVALID_HANDLE}},
        {"OpenThreadToken", {ERROR_NO_TOKEN, ERROR_ACCESS_DENIED}},
        {"OpenProcessToken", {ERROR_ACCESS_DENIED}},
        {"GetTokenInformation", {ERROR_INSUFFICIENT_BUFFER, ERROR_ACCESS_DENIED}},
        {"AllocateAndInitializeSid", {ERROR_NOT_ENOUGH_MEMORY}},
        {"SetupDiGetClassDevsA", {ERROR_INVALID_DATA, ERROR_NOT_ENOUGH_MEMORY}},
        {"SetupDiEnumDeviceInfo", {ERROR_NO_MORE_ITEMS, ERROR_INVALID_HANDLE}},
        {"SetupDiGetDeviceRegistryPropertyA", {ERROR_INVALID_DATA, ERROR_INSUFFICIENT_BUFFER}},
        {"SetupDiSetDeviceRegistryPropertyA", {ERROR_ACCESS_DENIED}},
        {"SetupDiCreateDeviceInfoList", {ERROR_NOT_ENOUGH_MEMORY}},
        {"SetupDiCreateDeviceInfoA", {ERROR_DEVINST_ALREADY_EXISTS}},
        {"SetupDiCallClassInstaller", {ERROR_NO_SUCH_DEVINST, ERROR_ACCESS_DENIED}},
        {"SetupDiRemoveDevice", {ERROR_ACCESS_DENIED, ERROR_NO_SUCH_DEVINST}},
        {"SetupDiDeleteDeviceInfo", {ERROR_NO_SUCH_DEVINST}},
        {"SetupDiDestroyDeviceInfoList", {ERROR_INVALID_HANDLE}},
        {"UpdateDriverForPlugAndPlayDevicesA",
         {ERROR_FILE_NOT_FOUND, ERROR_NO_SUCH_DEVINST, ERROR_IN_WOW64}},
        {"DialogBoxIndirectParamA", {ERROR_NOT_ENOUGH_MEMORY}},
        {"EndDialog", {ERROR_INVALID_WINDOW_HANDLE}},
        {"LoadIconA", {ERROR_RESOURCE_NAME_NOT_FOUND}},
        {"MessageBeep", {ERROR_GEN_FAILURE}},
    };
    return errors;
}

const std::vector<DWORD>* errorsFor(const std::string& call)
{
    const auto it = windowsErrors().find(call);
    return it == windowsErrors().end() ? nullptr : &it->second;
}

// In the ledger, but Windows gives these no way to fail as the product calls
// them (its own SIDs, its own dialog's window words, a library it loaded).
bool cannotFail(const std::string& call)
{
    static const std::set<std::string> calls = {
        "GetLastError", "SetLastError", "GetACP", "GetCurrentThread", "GetCurrentProcess",
        "OutputDebugStringA", "IsDBCSLeadByteEx", "GetSystemMetrics", "SendDlgItemMessageA",
        "FreeSid", "EqualSid", "GetWindowLongPtrA", "SetWindowLongPtrA", "FreeLibrary"};
    return calls.count(call) != 0;
}

// A close that fails leaves its handle open; nothing can be done about that.
bool closes(const std::string& call, HandleKind& kind)
{
    if (call == "RegCloseKey")
        kind = HandleKind::Key;
    else if (call == "CloseHandle")
        kind = HandleKind::Token;
    else if (call == "SetupDiDestroyDeviceInfoList")
        kind = HandleKind::DevInfo;
    else
        return false;
    return true;
}

// A failure in reading the token makes the user count as no administrator.
bool judgesAdministrator(const std::string& call)
{
    return call == "OpenThreadToken" || call == "OpenProcessToken" ||
           call == "GetTokenInformation" || call == "AllocateAndInitializeSid";
}

std::string occurrenceText(int occurrence)
{
    return occurrence == 0 ? "every call" : "call " + std::to_string(occurrence);
}

// ------------------------------------------------------------- one run

// A place in the product that makes a call: the call, and the steps under
// way, told by the two trace lines written before it without the names and
// numbers they carry. The same call made in the same steps again (for the
// next name of a list) is the same place.
using CallSite = std::pair<std::string, std::string>;

// "  WR: Deleting Key:Enum\\HID|VID_..." -> "  WR: Deleting Key:"
std::string stepOf(const std::string& line)
{
    const size_t tag = line.find(": ");
    const size_t data = tag == std::string::npos ? std::string::npos : line.find(':', tag + 2);
    return data == std::string::npos ? line : line.substr(0, data + 1);
}

struct Outcome {
    LONG result = 0;
    std::string escaped;  // what left the export; empty when nothing did
    std::map<std::string, int> calls;
    std::map<CallSite, std::vector<int>> sites;  // each site's occurrences of its call
    builders::RegistryDiff changes;
    VendorTraces vendor;
    std::map<HandleKind, size_t> openHandles;
    std::string handleReport;
    std::vector<std::string> trace;
    long allocations = 0;         // what the export allocated
    bool allocationFailed = false;  // the armed allocation fault came about
};

const HandleKind AllKinds[] = {HandleKind::Key,    HandleKind::DevInfo, HandleKind::Token,
                               HandleKind::Sid,    HandleKind::Module,  HandleKind::Dialog};

// Each machine is built once and then started from its image.
struct BuiltMachine {
    builders::MachineImage image;
    VendorTraces vendor;
};

const BuiltMachine& machineFor(sim::Machine& m, const MachineShape& shape)
{
    static std::map<std::tuple<Family, bool, bool>, BuiltMachine> built;
    const auto key = std::make_tuple(shape.family, shape.administrator, shape.rootDevices);
    auto it = built.find(key);
    if (it == built.end()) {
        VendorTraces vendor = buildMachine(m, shape);
        it = built.emplace(key, BuiltMachine{builders::MachineImage::take(m), vendor}).first;
    }
    return it->second;
}

// One run of the export, traced as the diagnostic build is: a trace line
// that cannot be formatted on some failure path shows up too.
Outcome runScenario(sim::Machine& m, const Scenario& s, const std::vector<Injected>& faults,
                    long failingAllocation = 0)
{
    Outcome run;
    const BuiltMachine& machine = machineFor(m, s.shape);
    machine.image.restore(m);
    run.vendor = machine.vendor;
    moduleLoad();
    TraceEnabled = true;
    if (s.initFirst)
        InitModule(nullptr, nullptr, nullptr);
    // A few answers to spare, all alike: a failed EndDialog keeps its dialog
    // open for the next answer.
    m.dialogs.answers.assign(s.answers.begin(), s.answers.end());
    for (int i = 0; i < 3 && !s.answers.empty(); ++i)
        m.dialogs.answers.push_back(s.answers.back());
    m.debugger.texts.clear();
    m.calls.clear();
    m.faults.clear();
    for (const Injected& f : faults)
        m.faults.fail(f.call, f.error, f.occurrence);

    const long allocatedBefore = m.faults.allocationCount();
    m.faults.failAllocation(failingAllocation);
    try {
        run.result = s.fn(HostWindow, nullptr, s.text);
    } catch (const std::exception& e) {
        run.escaped = e.what();
    } catch (...) {
        run.escaped = "an exception of unknown type";
    }
    run.allocationFailed = failingAllocation > 0 && !m.faults.allocationFaultPending();
    m.faults.failAllocation(0);
    run.allocations = m.faults.allocationCount() - allocatedBefore;
    m.faults.clear();
    run.calls = m.callCounts();
    run.trace = m.debugger.lines();
    std::map<std::string, int> made;
    for (const sim::CallRecord& c : m.calls) {
        const std::string& call = c.call;
        const size_t linesBefore = c.traceLines;
        const std::string step = (linesBefore > 1 ? stepOf(run.trace[linesBefore - 2]) + " / " : "") +
                                 (linesBefore > 0 ? stepOf(run.trace[linesBefore - 1]) : "");
        run.sites[{call, step}].push_back(++made[call]);
    }
    run.changes = builders::diff(machine.image, m);  // InitModule writes nothing
    for (HandleKind kind : AllKinds)
        run.openHandles[kind] = m.openHandleCount(kind);
    run.handleReport = m.openHandleReport();
    TraceEnabled = false;
    return run;
}

bool resultAllowed(const Scenario& s, const std::vector<Injected>& faults, LONG r)
{
    const std::string& e = s.exportName;
    if (e == "UninstInitialize")
        return r == 0 || r == -1;
    if (e == "UninstUnInitialize" || e == "UpdateDevices" || e == "SetTargetDir")
        return r == 0;
    if (e == "RootDeviceCount")
        return r >= 0 && r <= (s.shape.rootDevices ? 2 : 0);
    if (e == "RemoveRootDevice")
        return r == 0 || (r == 1 && s.shape.rootDevices);
    if (e == "RemoveUsbDevices" || e == "RemovePedalDevices" || e == "RemoveAuxDevices") {
        if (!s.shape.administrator)
            return r == 2;
        const bool tokenFailed = std::any_of(faults.begin(), faults.end(), [](const Injected& f) {
            return judgesAdministrator(f.call);
        });
        return r == 0 || r == 1 || (r == 2 && tokenFailed);
    }
    return r == 0 || r == 1;
}

// What an export answers when an error reaches it: the value its guard gives.
LONG errorResultOf(const std::string& exportName)
{
    if (exportName == "UninstInitialize")
        return -1;  // no uninstall starts on an error
    if (exportName == "RemoveUsbDevices" || exportName == "RemovePedalDevices" ||
        exportName == "RemoveAuxDevices")
        return 1;  // a run cut short has not cleaned
    return 0;  // NeedReboot too: nothing has asked for a restart after InitModule
}

// Everything wrong with one run, or the empty text.
std::string problemsOf(const Scenario& s, const std::vector<Injected>& faults, const Outcome& run,
                       const char* expectedError = nullptr)
{
    std::string out;
    if (!run.escaped.empty())
        out += "\n  an error left the export: " + run.escaped;
    const bool guardReached =
        expectedError && std::find(run.trace.begin(), run.trace.end(),
                                   std::string("  I2K: Error caught at the export - ") + expectedError) !=
                             run.trace.end();
    if (guardReached ? run.result != errorResultOf(s.exportName) : !resultAllowed(s, faults, run.result))
        out += "\n  result " + std::to_string(run.result) + " is not one the export may give";

    std::map<HandleKind, size_t> leftOpen;
    for (const Injected& f : faults) {
        HandleKind kind;
        if (!closes(f.call, kind))
            continue;
        const auto it = run.calls.find(f.call);
        const int made = it == run.calls.end() ? 0 : it->second;
        leftOpen[kind] += f.occurrence == 0 ? static_cast<size_t>(made) : (made >= f.occurrence ? 1 : 0);
    }
    for (HandleKind kind : AllKinds) {
        if (run.openHandles.at(kind) != leftOpen[kind])
            out += "\n  " + std::to_string(run.openHandles.at(kind)) + " " + sim::handleKindName(kind) +
                   " handle(s) open afterwards, " + std::to_string(leftOpen[kind]) +
                   " expected:\n" + run.handleReport;
    }

    // The registry layer's refusal of a value is the one error the module
    // raises and catches again; anything else caught on the way out is a fault.
    for (const std::string& line : run.trace) {
        for (const char* catcher : {"Error caught at the export - ", "stopped by error - ",
                                    "Error in cleanDeviceKeys - "}) {
            const size_t at = line.find(catcher);
            if (at == std::string::npos)
                continue;
            const std::string what = line.substr(at + std::strlen(catcher));
            if (what.rfind("Failed to get data for '", 0) != 0 &&
                what.rfind("Invalid data type for '", 0) != 0 && !(expectedError && what == expectedError))
                out += "\n  an unexpected error was caught: " + line;
        }
    }

    std::vector<std::string> foreign;
    for (const auto* keys : {&run.changes.keysRemoved, &run.changes.keysAdded})
        for (const std::string& k : *keys)
            if (!run.vendor.ownsKey(k))
                foreign.push_back("key " + k);
    for (const auto* values :
         {&run.changes.valuesRemoved, &run.changes.valuesAdded, &run.changes.valuesChanged})
        for (const std::string& v : *values)
            if (!run.vendor.ownsValue(v))
                foreign.push_back("value " + v);
    if (!foreign.empty())
        out += "\n  changed what is not the vendor's:" + builders::listing(foreign);
    return out;
}

std::string faultsText(const std::vector<Injected>& faults)
{
    if (faults.empty())
        return "no fault";
    std::string out;
    for (const Injected& f : faults)
        out += (out.empty() ? "" : " and ") + f.call + " failing with " + std::to_string(f.error) +
               " on " + occurrenceText(f.occurrence);
    return out;
}

// Says which case is under way; when one makes no progress for a long
// time (a loop the failure never lets end), names it and stops the test
// binary rather than leaving it hanging.
class Watchdog {
public:
    Watchdog() : thread_([this] { watch(); }) {}
    ~Watchdog()
    {
        {
            std::lock_guard<std::mutex> lock(mutex_);
            stop_ = true;
        }
        wake_.notify_all();
        thread_.join();
    }
    Watchdog(const Watchdog&) = delete;
    Watchdog& operator=(const Watchdog&) = delete;

    void now(std::string what)
    {
        std::lock_guard<std::mutex> lock(mutex_);
        what_ = std::move(what);
        ++beats_;
    }

private:
    void watch()
    {
        std::unique_lock<std::mutex> lock(mutex_);
        unsigned long seen = beats_;
        while (!wake_.wait_for(lock, std::chrono::seconds(30), [this] { return stop_; })) {
            if (beats_ == seen) {
                std::fprintf(stderr, "fault sweep: no progress for 30 s in %s\n", what_.c_str());
                std::_Exit(1);
            }
            seen = beats_;
        }
    }

    std::mutex mutex_;
    std::condition_variable wake_;
    std::string what_;
    unsigned long beats_ = 0;
    bool stop_ = false;
    std::thread thread_;  // last: starts once everything it reads exists
};

using FaultSweepTest = SimTest;

TEST_F(FaultSweepTest, EveryCallSiteOfEveryExportFailsSafely)
{
    Watchdog watchdog;
    std::set<std::string> sites;  // export and call site
    std::set<std::string> quietExports;
    size_t runs = 0;
    int reported = 0;

    const auto check = [&](const Scenario& s, const std::vector<Injected>& faults, const Outcome& run) {
        ++runs;
        const std::string problems = problemsOf(s, faults, run);
        if (problems.empty() || reported >= 20)
            return;
        ++reported;
        std::string tail;
        for (size_t i = run.trace.size() > 25 ? run.trace.size() - 25 : 0; i < run.trace.size(); ++i)
            tail += "\n    " + run.trace[i];
        ADD_FAILURE() << s.describe() << ", " << faultsText(faults) << ":" << problems
                      << "\n  last trace lines:" << tail;
    };

    for (const Scenario& s : scenarios()) {
        watchdog.now(s.describe() + " without faults");
        const Outcome baseline = runScenario(m, s, {});
        check(s, {}, baseline);
        EXPECT_EQ(baseline.result, s.withoutFaults) << s.describe();

        // Where each call is made: its first and last time at each site, and
        // every time at once.
        std::map<std::string, std::set<int>> occurrences;
        std::map<std::string, std::set<int>> firsts;
        for (const auto& [site, made] : baseline.sites) {
            if (cannotFail(site.first))
                continue;
            sites.insert(s.exportName + " " + site.first + " after \"" + site.second + "\"");
            occurrences[site.first].insert(made.front());
            firsts[site.first].insert(made.front());
            occurrences[site.first].insert(made.back());
            // A dialog whose every EndDialog fails can never be closed, on Windows too.
            if (site.first != "EndDialog")
                occurrences[site.first].insert(0);
        }
        if (occurrences.empty())
            quietExports.insert(s.exportName);

        for (const auto& [call, each] : occurrences) {
            const std::vector<DWORD>* errors = errorsFor(call);
            if (!errors) {
                ADD_FAILURE() << s.describe() << " calls " << call
                              << ", for which no Windows error is chosen";
                continue;
            }
            for (int occurrence : each) {
                // Every error where a site is first reached; elsewhere the first will do.
                const size_t tried = firsts[call].count(occurrence) ? errors->size() : 1;
                for (size_t e = 0; e < tried; ++e) {
                    const DWORD error = (*errors)[e];
                    const std::vector<Injected> faults = {{call, error, occurrence}};
                    watchdog.now(s.describe() + ", " + faultsText(faults));
                    const Outcome run = runScenario(m, s, faults);
                    check(s, faults, run);

                    // Sites that only this failure leads to (a node taken back after
                    // its driver would not install, the process token after the
                    // thread's) fail in their turn on top of it.
                    for (const auto& [site, made] : run.sites) {
                        const std::string& later = site.first;
                        const auto before = baseline.calls.find(later);
                        if (later == call || cannotFail(later) || baseline.sites.count(site) ||
                            (before != baseline.calls.end() && before->second >= run.calls.at(later)))
                            continue;
                        const std::vector<DWORD>* laterErrors = errorsFor(later);
                        if (!laterErrors) {
                            ADD_FAILURE() << s.describe() << " calls " << later
                                          << ", for which no Windows error is chosen";
                            continue;
                        }
                        const std::vector<Injected> both = {
                            faults[0], {later, laterErrors->front(), made.front()}};
                        watchdog.now(s.describe() + ", " + faultsText(both));
                        check(s, both, runScenario(m, s, both));
                        sites.insert(s.exportName + " " + later + " after \"" + site.second + "\"");
                    }
                }
            }
        }
    }

    std::string quiet;
    for (const std::string& e : quietExports)
        quiet += " " + e;
    std::printf("[ sweep    ] %zu (export, call site) pairs failed in %zu runs over both "
                "families; no platform call to fail in:%s\n",
                sites.size(), runs, quiet.c_str());
    m.reset();  // closes failing calls deliberately left open
}

}  // namespace

namespace {

// Memory runs out at each allocation an export makes in turn. The export
// answers its error result when the error reaches it, or a result it may
// give when a routine under it caught it; no handle stays open and nothing
// that is not the vendor's changes; and the same export called again in the
// same load, with nothing failing, does the same: what the failed call left
// (a set, a list, a bound library, the OS facts) is no error for the next.
TEST_F(FaultSweepTest, EveryAllocationOfEveryExportFailsSafely)
{
    Watchdog watchdog;
    const std::string caught = "  I2K: Error caught at the export - std::bad_alloc";
    size_t runs = 0;
    for (const Scenario& s : scenarios()) {
        watchdog.now(s.describe() + " without faults");
        const Outcome baseline = runScenario(m, s, {});
        ASSERT_GT(baseline.allocations, 0) << s.describe();
        bool reachedTheGuard = false;
        int reported = 0;
        // Every one of the first allocations, then a hundred spread over the rest.
        const long stride = std::max(1L, baseline.allocations / 100);
        for (long nth = 1; reported < 3; nth += nth < 40 ? 1 : stride) {
            watchdog.now(s.describe() + ", allocation " + std::to_string(nth) + " failing");
            const Outcome run = runScenario(m, s, {}, nth);
            if (!run.allocationFailed)
                break;  // the export made fewer: every one has failed
            ++runs;
            std::string problems = problemsOf(s, {}, run, "std::bad_alloc");
            if (std::find(run.trace.begin(), run.trace.end(), caught) != run.trace.end())
                reachedTheGuard = true;
            // The same export again on what the failed call left, in the same load.
            m.dialogs.answers.assign(s.answers.begin(), s.answers.end());
            m.debugger.texts.clear();
            Outcome again;
            again.result = s.fn(HostWindow, nullptr, s.text);
            again.trace = m.debugger.lines();
            again.changes = builders::diff(machineFor(m, s.shape).image, m);
            again.vendor = run.vendor;
            for (HandleKind kind : AllKinds)
                again.openHandles[kind] = m.openHandleCount(kind);
            again.handleReport = m.openHandleReport();
            std::string next = problemsOf(s, {}, again);
            // The work is then done as by a run without the fault: nothing
            // half-done that no later run finds again. Not yet on the 9x
            // family's cleaning runs: one cut short between an instance key
            // and the class key its Driver value names leaves the class key,
            // which no later run finds.
            const bool cleans9x = s.shape.family == Family::W9x && s.exportName != "CreateRootDevice" &&
                                  s.exportName != "RootDeviceCount";
            if (!cleans9x) {
                const builders::RegistryDiff& want = baseline.changes;
                if (again.changes.keysRemoved != want.keysRemoved ||
                    again.changes.keysAdded != want.keysAdded ||
                    again.changes.valuesRemoved != want.valuesRemoved ||
                    again.changes.valuesAdded != want.valuesAdded ||
                    again.changes.valuesChanged != want.valuesChanged)
                    next += "\n  the registry differs from a run without the fault's: keys removed" +
                            builders::listing(again.changes.keysRemoved) + "\n  keys added" +
                            builders::listing(again.changes.keysAdded);
            }
            if (!next.empty())
                problems += "\n  called again:" + next;
            if (!problems.empty()) {
                ++reported;
                ADD_FAILURE() << s.describe() << ", allocation " << nth << " of "
                              << baseline.allocations << " failing:" << problems;
            }
        }
        EXPECT_TRUE(reachedTheGuard) << s.describe() << ": no failing allocation reached the export";
    }
    std::printf("[ sweep    ] every allocation of every export failed in turn: %zu runs\n", runs);
    TraceEnabled = false;
}

}  // namespace
