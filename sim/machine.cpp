#include "machine.h"

#include <algorithm>
#include <cstring>
#include <iterator>
#include <sstream>

namespace sim {

std::string joinPath(const std::string& a, const std::string& b)
{
    if (a.empty())
        return b;
    if (b.empty())
        return a;
    return a + "\\" + b;
}

const char* handleKindName(HandleKind kind)
{
    switch (kind) {
    case HandleKind::Key: return "registry key";
    case HandleKind::DevInfo: return "device information set";
    case HandleKind::Token: return "token";
    case HandleKind::Sid: return "SID";
    case HandleKind::Module: return "library";
    case HandleKind::Dialog: return "dialog";
    }
    return "handle";
}

const char* dialogAnswerName(DialogAnswer answer)
{
    switch (answer) {
    case DialogAnswer::Yes: return "Yes";
    case DialogAnswer::No: return "No";
    case DialogAnswer::Ok: return "OK";
    case DialogAnswer::Enter: return "Enter";
    case DialogAnswer::Escape: return "Escape";
    case DialogAnswer::CloseBox: return "close box";
    }
    return "?";
}

std::vector<std::string> DialogRecord::buttons() const
{
    std::vector<std::string> texts;
    for (const DialogControl& c : controls)
        if (equalNoCase(c.className, "BUTTON"))
            texts.push_back(c.text);
    return texts;
}

std::string DialogRecord::defaultButton() const
{
    for (const DialogControl& c : controls)
        if (equalNoCase(c.className, "BUTTON") && (c.style & 0xF) == BS_DEFPUSHBUTTON)
            return c.text;
    return "";
}

// The predefined keys in the order of their handles: HKEY_CLASSES_ROOT
// (0x80000000) and the three that follow it.
constexpr const char* RootNames[] = {"HKEY_CLASSES_ROOT", "HKEY_CURRENT_USER",
                                     "HKEY_LOCAL_MACHINE", "HKEY_USERS"};

Machine::Machine() { reset(); }

void Machine::reset()
{
    registry_ = Registry();
    for (const char* name : RootNames)
        registry_.ensureRoot(name);
    handles_.clear();
    nextHandle_ = 0x1000;
    faults = Faults();
    faults.failAllocation(0);
    lastError = 0;
    os = OsFacts();
    security = Security();
    devices = Devices();
    dialogs = Dialogs();
    debugger = DebuggerChannel();
    calls.clear();
    setWindows(WindowsVersion::WinXP);
    setAdministrator(true);
}

OSVERSIONINFOA versionRecord(WindowsVersion v)
{
    struct Row {
        WindowsVersion v;
        DWORD major, minor, build, platform;
    };
    static const Row rows[] = {
        {WindowsVersion::Win95, 4, 0, 950, VER_PLATFORM_WIN32_WINDOWS},
        {WindowsVersion::Win98, 4, 10, 2222, VER_PLATFORM_WIN32_WINDOWS},
        {WindowsVersion::WinMe, 4, 90, 3000, VER_PLATFORM_WIN32_WINDOWS},
        {WindowsVersion::NT4, 4, 0, 1381, VER_PLATFORM_WIN32_NT},
        {WindowsVersion::Win2000, 5, 0, 2195, VER_PLATFORM_WIN32_NT},
        {WindowsVersion::WinXP, 5, 1, 2600, VER_PLATFORM_WIN32_NT},
        {WindowsVersion::Server2003, 5, 2, 3790, VER_PLATFORM_WIN32_NT},
        {WindowsVersion::Vista, 6, 0, 6002, VER_PLATFORM_WIN32_NT},
        {WindowsVersion::Win7, 6, 1, 7601, VER_PLATFORM_WIN32_NT},
        {WindowsVersion::Win8, 6, 2, 9200, VER_PLATFORM_WIN32_NT},
        {WindowsVersion::Win81, 6, 3, 9600, VER_PLATFORM_WIN32_NT},
        {WindowsVersion::Win10, 10, 0, 19045, VER_PLATFORM_WIN32_NT},
        {WindowsVersion::Win11, 10, 0, 22631, VER_PLATFORM_WIN32_NT},
    };
    OSVERSIONINFOA record{};
    record.dwOSVersionInfoSize = sizeof(OSVERSIONINFOA);
    for (const Row& r : rows) {
        if (r.v != v)
            continue;
        record.dwMajorVersion = r.major;
        record.dwMinorVersion = r.minor;
        record.dwBuildNumber = r.build;
        record.dwPlatformId = r.platform;
    }
    return record;
}

void Machine::setWindows(WindowsVersion v)
{
    os.version = versionRecord(v);
    // newdev.dll came with Windows 2000; the 9x family and NT 4.0 have only
    // setupapi.dll.
    os.systemLibraries = {"setupapi.dll"};
    if (os.version.dwPlatformId == VER_PLATFORM_WIN32_NT) {
        if (os.version.dwMajorVersion >= 5)
            os.systemLibraries.insert("newdev.dll");
        os.systemLibraries.insert("ntdll.dll");
    }
    enumTreeWriteProtected = os.version.dwPlatformId == VER_PLATFORM_WIN32_NT;
}

std::vector<CallRecord> Machine::callsOf(const std::string& call) const
{
    std::vector<CallRecord> out;
    for (const CallRecord& r : calls)
        if (r.call == call)
            out.push_back(r);
    return out;
}

void Machine::setAdministrator(bool admin)
{
    auto& groups = security.processToken.groups;
    groups.erase(std::remove_if(groups.begin(), groups.end(),
                                [](const TokenGroup& g) { return g.sid == AdministratorsSid; }),
                 groups.end());
    if (groups.empty()) {
        groups.push_back({EveryoneSid});
        groups.push_back({UsersSid});
    }
    if (admin)
        groups.push_back({AdministratorsSid});
}

RegKey* Machine::root(HKEY predefined)
{
    const uintptr_t index =
        reinterpret_cast<uintptr_t>(predefined) - reinterpret_cast<uintptr_t>(HKEY_CLASSES_ROOT);
    return index < std::size(RootNames) ? registry_.root(RootNames[index]) : nullptr;
}

// The key at a machine path below one of its roots; with `create`, made
// with every missing parent. Null for a path that names no root.
static RegKey* walk(const Registry& registry, const std::string& path, bool create)
{
    const std::vector<std::string> parts = splitMachinePath(path, machine().os.codePage);
    RegKey* key = parts.empty() ? nullptr : registry.root(parts[0]);
    for (size_t i = 1; key && i < parts.size(); ++i) {
        RegKey* next = key->child(parts[i]);
        if (!next && create)
            next = &key->ensure(parts[i]);
        key = next;
    }
    return key;
}

RegKey* Machine::findKey(const std::string& path) { return walk(registry_, path, false); }

RegKey* Machine::createKey(const std::string& path) { return walk(registry_, path, true); }

void Machine::setCodePage(UINT cp)
{
    os.codePage = cp;
    os.dbcsEnabled = cp == 932 || cp == 936 || cp == 949 || cp == 950;
}

RegKey* Machine::createUnicodeKey(const std::string& parentPath, const std::string& utf8Name)
{
    RegKey* parent = createKey(parentPath);
    auto created = std::make_shared<RegKey>();
    created->name = utf8Name;
    created->unicodeName = true;
    created->parent = parent;
    parent->subkeys[subkeyIndex(*created)] = created;
    return created.get();
}

RegKey* Machine::createLink(const std::string& path, const std::string& targetPath)
{
    RegKey* link = createKey(path);
    link->linkTarget = targetPath;
    // Windows keeps the target as a native path in UTF-16, without a zero.
    std::string native = targetPath;
    const size_t slash = native.find('\\');
    native = "\\REGISTRY\\MACHINE" + (slash == std::string::npos ? "" : native.substr(slash));
    std::vector<BYTE> data;
    for (char c : native) {
        data.push_back(static_cast<BYTE>(c));
        data.push_back(0);
    }
    link->values.push_back(RegValue{"SymbolicLinkValue", REG_LINK, data});
    return link;
}

std::shared_ptr<RegKey> Machine::sharedKey(const std::string& path)
{
    RegKey* key = findKey(path);
    if (!key)
        return nullptr;
    if (!key->parent)
        return std::shared_ptr<RegKey>(std::shared_ptr<RegKey>(), key);
    auto it = key->parent->subkeys.find(subkeyIndex(*key));
    return it == key->parent->subkeys.end() ? nullptr : it->second;
}

void Machine::setValue(const std::string& keyPath, const std::string& name, DWORD type,
                       std::vector<BYTE> data)
{
    createKey(keyPath)->set(RegValue{name, type, std::move(data)});
}

void Machine::setString(const std::string& keyPath, const std::string& name,
                        const std::string& text, DWORD type)
{
    std::vector<BYTE> data(text.begin(), text.end());
    data.push_back(0);
    setValue(keyPath, name, type, std::move(data));
}

void Machine::setMultiString(const std::string& keyPath, const std::string& name,
                             const std::vector<std::string>& texts)
{
    std::vector<BYTE> data;
    for (const std::string& t : texts) {
        data.insert(data.end(), t.begin(), t.end());
        data.push_back(0);
    }
    data.push_back(0);
    setValue(keyPath, name, REG_MULTI_SZ, std::move(data));
}

void Machine::setDword(const std::string& keyPath, const std::string& name, DWORD number)
{
    std::vector<BYTE> data(4);
    std::memcpy(data.data(), &number, 4);
    setValue(keyPath, name, REG_DWORD, std::move(data));
}

bool Machine::keyExists(const std::string& path) { return findKey(path) != nullptr; }

bool Machine::valueExists(const std::string& keyPath, const std::string& name)
{
    RegKey* key = findKey(keyPath);
    return key && key->value(name);
}

std::optional<std::string> Machine::stringValue(const std::string& keyPath,
                                                const std::string& name)
{
    RegKey* key = findKey(keyPath);
    const RegValue* v = key ? key->value(name) : nullptr;
    if (!v)
        return std::nullopt;
    return firstString(*v);
}

void Machine::setReadOnly(const std::string& path, bool readOnly)
{
    createKey(path)->writable = !readOnly;
}

std::vector<std::string> Machine::allKeys(const std::string& rootPath)
{
    std::vector<std::string> out;
    if (const RegKey* top = findKey(rootPath))
        forEachKey(*top, rootPath, [&](const RegKey& key, const std::string& path) {
            if (&key != top)
                out.push_back(path);
        });
    return out;
}

// ------------------------------------------------------------------ devices

void Machine::addDevice(const DeviceSpec& device)
{
    const std::string key = joinPath(EnumPath, device.instanceId);
    createKey(key);
    if (!device.hardwareIds.empty())
        setMultiString(key, "HardwareID", device.hardwareIds);
    if (!device.classGuid.empty())
        setString(key, "ClassGUID", device.classGuid);
    if (!device.driver.empty()) {
        setString(key, "Driver", device.driver);
        createKey(joinPath(ClassPath, device.driver));
    }
    if (device.present)
        devices.present.insert(device.instanceId);
    else
        devices.present.erase(device.instanceId);
}

bool Machine::deviceExists(const std::string& instanceId)
{
    return keyExists(joinPath(EnumPath, instanceId));
}

std::vector<std::string> Machine::devicesWithHardwareId(const std::string& hardwareId)
{
    std::vector<std::string> found;
    RegKey* enumKey = findKey(EnumPath);
    if (!enumKey)
        return found;
    for (const auto& [e, enumerator] : enumKey->subkeys)
        for (const auto& [d, deviceKey] : enumerator->subkeys)
            for (const auto& [i, instance] : deviceKey->subkeys) {
                const RegValue* ids = instance->value("HardwareID");
                if (!ids)
                    continue;
                for (const std::string& id : multiStrings(*ids)) {
                    if (id == hardwareId) {
                        found.push_back(enumerator->name + "\\" + deviceKey->name + "\\" +
                                        instance->name);
                        break;
                    }
                }
            }
    return found;
}

// ---------------------------------------------------------------- channels

std::vector<std::string> DebuggerChannel::lines() const
{
    std::vector<std::string> lines;
    for (const std::string& text : texts) {
        std::string line = text;
        if (!line.empty() && line.back() == '\n')
            line.pop_back();
        lines.push_back(line);
    }
    return lines;
}

// ------------------------------------------------------------------ faults

void Faults::fail(const std::string& call, DWORD error, int occurrence)
{
    faults_.push_back(Fault{call, error, occurrence, 0});
}

void Faults::clear() { faults_.clear(); }

void Machine::record(CallRecord call)
{
    call.traceLines = debugger.texts.size();
    calls.push_back(std::move(call));
}

void Machine::answered(const std::string& call, size_t entry, long long result)
{
    while (entry < calls.size() && calls[entry].call != call)
        ++entry;
    if (entry == calls.size())
        record(CallRecord{call});
    calls[entry].result = result;
    calls[entry].error = lastError;
    calls[entry].returned = true;
}

int Machine::callCount(const std::string& call) const
{
    return static_cast<int>(std::count_if(calls.begin(), calls.end(),
                                          [&](const CallRecord& r) { return r.call == call; }));
}

std::map<std::string, int> Machine::callCounts() const
{
    std::map<std::string, int> counts;
    for (const CallRecord& r : calls)
        ++counts[r.call];
    return counts;
}

DWORD Machine::injectedFault(CallRecord record)
{
    const std::string call = record.call;
    this->record(std::move(record));
    return faults.due(call);
}

DWORD Faults::due(const std::string& call)
{
    // Every fault on the call counts it, so that two faults on one call
    // each count from the same start; the first that is due decides.
    DWORD error = 0;
    for (Fault& f : faults_) {
        if (f.call != call)
            continue;
        ++f.seen;
        if (!error && (f.occurrence == 0 || f.occurrence == f.seen))
            error = f.error;
    }
    return error;
}

// ------------------------------------------------------------------ handles

HANDLE Machine::addHandle(HandleKind kind, std::string what, std::shared_ptr<void> payload,
                          void* at)
{
    uintptr_t value = reinterpret_cast<uintptr_t>(at);
    if (!value) {
        value = nextHandle_;
        nextHandle_ += 4;
    }
    handles_[value] = Handle{kind, std::move(what), std::move(payload)};
    return reinterpret_cast<HANDLE>(value);
}

Handle* Machine::findHandle(HANDLE handle, HandleKind kind)
{
    auto it = handles_.find(reinterpret_cast<uintptr_t>(handle));
    if (it == handles_.end() || it->second.kind != kind)
        return nullptr;
    return &it->second;
}

bool Machine::closeHandle(HANDLE handle, HandleKind kind)
{
    if (!findHandle(handle, kind))
        return false;
    handles_.erase(reinterpret_cast<uintptr_t>(handle));
    return true;
}

size_t Machine::openHandleCount() const
{
    return handles_.size() - openHandleCount(HandleKind::Module);
}

size_t Machine::openHandleCount(HandleKind kind) const
{
    const auto ofKind = [kind](const auto& entry) { return entry.second.kind == kind; };
    return static_cast<size_t>(std::count_if(handles_.begin(), handles_.end(), ofKind));
}

std::string Machine::openHandleReport() const
{
    std::ostringstream out;
    for (const auto& [value, h] : handles_)
        out << handleKindName(h.kind) << " " << h.what << "\n";
    return out.str();
}

Machine& machine()
{
    static Machine theMachine;
    return theMachine;
}

}  // namespace sim
