// The simulated Windows machine: one object that holds everything the
// simulated Win32 calls read and change. A test or tool sets it up, calls the
// product, and then inspects it.
//
// Devices are kept where Windows NT keeps them: an instance key
// HKLM\System\CurrentControlSet\Enum\<enumerator>\<device id>\<instance>
// with ClassGUID, HardwareID and Driver values; the machine adds only its own
// record of which instances are present.
#pragma once

#include "dialog_answer.h"
#include "registry_tree.h"
#include "win32_sim.h"

#include <deque>
#include <map>
#include <memory>
#include <optional>
#include <set>
#include <string>
#include <utility>
#include <vector>

namespace sim {

// INF files by full path, each with the setup class its [Version] section names.
using InfFiles = std::map<std::string, std::string, CaseInsensitiveLess>;

// ------------------------------------------------------------------ registry

// The name of a key as RegEnumKeyExA hands it out: the stored name, or a
// Unicode name converted to the machine's code page with best fit.
std::string ansiName(const RegKey& key);
// Whether a byte begins a double-byte character in the code page.
bool isLeadByte(UINT codePage, unsigned char byte);
// The names of a path, split at the backslashes that stand alone (not the
// second byte of a double-byte character). False for a leading backslash.
bool splitRegistryPath(const char* path, UINT codePage, std::vector<std::string>& names);
// The same for a machine path ("HKLM\\A\\B"), which may begin with a
// backslash and, built by a test, hold a zero byte inside a name.
std::vector<std::string> splitMachinePath(const std::string& path, UINT codePage);

// ------------------------------------------------------------------- handles

enum class HandleKind { Key, DevInfo, Token, Sid, Module, Dialog };
const char* handleKindName(HandleKind kind);

struct Handle {
    HandleKind kind;
    std::string what;  // for leak reports: a key path, a library name...
    std::shared_ptr<void> payload;
};

// ---------------------------------------------------------- OS and security

// NT 4.0 is of the NT platform but has the major version 4 of the 9x family.
// Windows 11 tells a program the same version as Windows 10 (10.0).
enum class WindowsVersion { Win95, Win98, WinMe, NT4, Win2000, WinXP, Server2003, Vista, Win7, Win8, Win81, Win10, Win11 };
// The record GetVersionExA fills on that version.
OSVERSIONINFOA versionRecord(WindowsVersion version);

struct TokenGroup {
    std::string sid;  // "S-1-5-32-544"
    DWORD attributes = SE_GROUP_ENABLED | SE_GROUP_ENABLED_BY_DEFAULT | SE_GROUP_MANDATORY;
};
struct Token {
    std::vector<TokenGroup> groups;
};

constexpr const char* AdministratorsSid = "S-1-5-32-544";
constexpr const char* UsersSid = "S-1-5-32-545";
constexpr const char* EveryoneSid = "S-1-1-0";

// --------------------------------------------------------------- user 32

// How a report names an answer ("Yes", "close box"); dialog_answer.h has
// the words a command line gives.
const char* dialogAnswerName(DialogAnswer answer);

struct DialogControl {
    WORD id = 0;
    std::string className;  // "BUTTON", "STATIC", ...
    std::string text;
    DWORD style = 0;
};

struct DialogRecord {
    std::string caption;
    std::string text;  // the text of the static control that holds the message
    bool informationIcon = false;
    bool hasParent = false;
    std::vector<DialogControl> controls;
    INT_PTR result = 0;
    std::vector<std::string> buttons() const;  // button texts, in template order
    std::string defaultButton() const;
};

// ------------------------------------------------------------------ devices

// Where Windows keeps device instances and the driver keys they point at.
inline constexpr const char* EnumPath = "HKLM\\System\\CurrentControlSet\\Enum";
inline constexpr const char* ClassPath = "HKLM\\System\\CurrentControlSet\\Control\\Class";

struct DeviceSpec {
    std::string instanceId;                // "USB\VID_2F7A&PID_00A1\5&1A2B&0&1"
    std::vector<std::string> hardwareIds;  // written as REG_MULTI_SZ "HardwareID"
    std::string classGuid;                 // "{4D36E97D-E325-11CE-BFC1-08002BE10318}"
    std::string driver;                    // "{class guid}\0003", or empty for none
    bool present = true;
};

// ---------------------------------------------------------------- arguments

// One call with the arguments that Windows acts on but whose effect this
// machine does not model (a parent window, a buffer size told, a flag), so
// that a test can hold the product to them. Which fields a call fills is
// written at each call; the others stay zero.
struct CallRecord {
    explicit CallRecord(std::string name, HWND parent = nullptr, DWORD flagsPassed = 0,
                        DWORD sizeTold = 0)
        : call(std::move(name)), window(parent), flags(flagsPassed), size(sizeTold)
    {
    }
    std::string call;
    HWND window = nullptr;  // parent window
    DWORD flags = 0;        // flags, property, access mask
    DWORD size = 0;         // buffer size told to the call
    std::string text;       // enumerator, hardware id, key path, data written
    std::string file;       // UpdateDriverForPlugAndPlayDevicesA: the INF path
    BOOL option = FALSE;    // OpenThreadToken: open as self
    // Debugger texts written before the call: the trace line just before it
    // tells which step of the product made it.
    size_t traceLines = 0;
    // What the call returned (a handle or pointer as its address), what it
    // wrote back where a test or tool reads it (a driver install: the restart
    // it asked for), and the thread's last error as it left the call.
    long long result = 0;
    BOOL reboot = FALSE;
    DWORD error = 0;
    bool returned = false;
};

// ------------------------------------------------------------------- faults

// Calls made to fail with an error, always or on their Nth call, and
// allocations made to fail.
class Faults {
public:
    void fail(const std::string& call, DWORD error, int occurrence = 0);
    void clear();
    // Counts the call against every fault on it; the error of the first
    // that is due, or 0 to let the call run.
    DWORD due(const std::string& call);
    // The Nth allocation (operator new) from now throws std::bad_alloc; 0
    // disarms. Machine::reset() disarms it too.
    void failAllocation(long nth);
    // Allocations made since the process started (the difference across a
    // call is what the call made), and whether an armed fault is still to come.
    long allocationCount() const;
    bool allocationFaultPending() const;

private:
    struct Fault {
        std::string call;
        DWORD error = 0;
        int occurrence = 0;  // 0: every call; N: only the Nth call counted from now
        int seen = 0;
    };
    std::vector<Fault> faults_;
};

// ------------------------------------------------------------------ parts

// What GetVersionExA, GetSystemMetrics, GetACP and the library loads read.
struct OsFacts {
    OSVERSIONINFOA version{};
    bool dbcsEnabled = false;
    // The ANSI code page (GetACP), by which the single-byte registry calls
    // convert names.
    UINT codePage = 1252;
    bool runningInWow64 = false;  // a 32-bit caller on 64-bit Windows
    // Libraries that LoadLibraryA finds, by file name in the system
    // directory. On the 9x family there is no newdev.dll.
    std::string systemDirectory = "C:\\WINDOWS\\system32";
    std::set<std::string, CaseInsensitiveLess> systemLibraries;
};

// The process token, and the calling thread's own token when it has one
// (impersonation). Without one OpenThreadToken gives ERROR_NO_TOKEN, unless
// threadTokenError names another error.
struct Security {
    Token processToken;
    std::optional<Token> threadToken;
    DWORD threadTokenError = 0;
    DWORD processTokenError = 0;
};

// Which device instances are present (their keys are in the registry, as
// described at the top), and what the driver installs read: each INF by its
// full path ("C:\JQ\JQDRV2K3.INF") with the setup class its [Version]
// section names, under which its driver's keys go.
struct Devices {
    std::set<std::string, CaseInsensitiveLess> present;
    InfFiles infFiles;
    bool driverInstallAsksReboot = false;
};

// Message dialogs: answered in order from the script, each recorded.
struct Dialogs {
    std::deque<DialogAnswer> answers;
    std::vector<DialogRecord> shown;
};

// The debugger channel: every OutputDebugStringA text, in order.
struct DebuggerChannel {
    std::vector<std::string> texts;
    std::vector<std::string> lines() const;  // the texts without their line feeds
};

// ------------------------------------------------------------------ machine

class Machine {
public:
    Machine();

    // Back to a new machine: Windows XP, an administrator, an empty
    // registry but for the roots, no devices, no files, nothing recorded.
    void reset();

    // The parts: each holds the state of one group of calls.
    OsFacts os;
    Security security;
    Devices devices;
    Dialogs dialogs;
    DebuggerChannel debugger;
    Faults faults;

    void setWindows(WindowsVersion version);
    // Setting a double-byte code page (932, 936, 949, 950) turns
    // SM_DBCSENABLED on as well.
    void setCodePage(UINT cp);
    void setAdministrator(bool admin);  // adds or drops the Administrators group of the process

    // Registry. Paths name a root ("HKLM", "HKEY_LOCAL_MACHINE", "HKCU",
    // "HKCR", "HKU") and the keys below it, separated by backslashes.
    RegKey* root(HKEY predefined);
    // The four roots the machine has (HKCR, HKCU, HKLM, HKU), as one registry:
    // a snapshot's roots are put in here, and taken out after a run.
    Registry& registry() { return registry_; }
    RegKey* findKey(const std::string& path);
    RegKey* createKey(const std::string& path);  // with every missing parent
    void setValue(const std::string& keyPath, const std::string& name, DWORD type,
                  std::vector<BYTE> data);
    void setString(const std::string& keyPath, const std::string& name, const std::string& text,
                   DWORD type = REG_SZ);
    void setMultiString(const std::string& keyPath, const std::string& name,
                        const std::vector<std::string>& texts);
    void setDword(const std::string& keyPath, const std::string& name, DWORD number);
    bool keyExists(const std::string& path);
    bool valueExists(const std::string& keyPath, const std::string& name);
    std::optional<std::string> stringValue(const std::string& keyPath, const std::string& name);
    void setReadOnly(const std::string& path, bool readOnly = true);
    // A key named in Unicode (UTF-8 here) below an existing or new parent:
    // a name with characters beyond the code page, such as U+FF3C.
    RegKey* createUnicodeKey(const std::string& parentPath, const std::string& utf8Name);
    // A symbolic link at path that stands for the key at targetPath, with
    // its SymbolicLinkValue (REG_LINK) as Windows keeps it.
    RegKey* createLink(const std::string& path, const std::string& targetPath);
    // The key at a path as a shared owner (the roots: an alias, owning nothing).
    std::shared_ptr<RegKey> sharedKey(const std::string& path);
    // Every key path below a root, depth first, "HKLM\A", "HKLM\A\B", ...
    std::vector<std::string> allKeys(const std::string& rootPath = "HKLM");

    // Devices, written into the registry and the present set.
    void addDevice(const DeviceSpec& device);
    bool deviceExists(const std::string& instanceId);
    std::vector<std::string> devicesWithHardwareId(const std::string& hardwareId);

    // Records the call in the ledger (below); the error to inject, or 0 to
    // let the call run.
    DWORD injectedFault(CallRecord call);
    DWORD injectedFault(const char* call) { return injectedFault(CallRecord{call}); }

    // Handles the product holds. A test asserts openHandleCount() == 0 after
    // every export; library handles are counted apart.
    // A new handle value, or the given one (a SID is known by its address).
    HANDLE addHandle(HandleKind kind, std::string what, std::shared_ptr<void> payload,
                     void* at = nullptr);
    Handle* findHandle(HANDLE handle, HandleKind kind);
    bool closeHandle(HANDLE handle, HandleKind kind);
    size_t openHandleCount() const;            // every kind but Module
    size_t openHandleCount(HandleKind kind) const;
    std::string openHandleReport() const;      // one line per open handle

    DWORD lastError = 0;

    // The ledger: every simulated call, in order, with the arguments that
    // Windows acts on but this machine does not model where a test needs
    // them (the fields each call fills are written at the call).
    std::vector<CallRecord> calls;
    void record(CallRecord call);  // a call that no fault can fail
    // The result of the call named, whose entry is at index entry or later.
    void answered(const std::string& call, size_t entry, long long result);
    std::vector<CallRecord> callsOf(const std::string& call) const;
    int callCount(const std::string& call) const;
    std::map<std::string, int> callCounts() const;  // by name

    // On the NT family the device tree under HKLM\System\CurrentControlSet\Enum
    // belongs to the system: an administrator may read it but an open asking
    // for more (KEY_ALL_ACCESS) is refused. setWindows sets this for the NT
    // family and clears it for the 9x family.
    bool enumTreeWriteProtected = false;

private:
    Registry registry_;
    std::map<uintptr_t, Handle> handles_;
    uintptr_t nextHandle_ = 0x1000;
};

// The one machine the simulated calls work on.
Machine& machine();

// Joins a key path the way the registry reads it ("A" + "B" = "A\B").
std::string joinPath(const std::string& a, const std::string& b);

}  // namespace sim
