// The registry calls, over the machine's key tree, with the behaviour and
// error codes of Windows NT.
//
// A key handle is an entry of kind Key in the machine's handle table. It
// holds the key itself (so a key deleted while the handle is open stays in
// memory, marked deleted, and every call on the handle but RegCloseKey then
// fails with ERROR_KEY_DELETED) and the access the open granted. The
// predefined roots (HKEY_LOCAL_MACHINE...) need no opening: they are always
// there with every right.
//
// Access is judged twice, as NT does: an open or a deletion is checked
// against the key itself (RegKey::readable and RegKey::writable stand in for
// its security descriptor), and every later call against the rights the
// handle was opened with.
#include "sim_internal.h"

#include <algorithm>
#include <cstddef>
#include <cstdlib>
#include <cstring>
#include <iterator>
#include <memory>
#include <string>
#include <vector>

using sim::machine;
using sim::RegKey;
using sim::RegValue;

namespace {

struct KeyHandle {
    std::shared_ptr<RegKey> key;
    REGSAM access = 0;
};

// Rights that only ask where to find a key, not what may be done with it.
constexpr REGSAM ViewFlags = KEY_WOW64_64KEY | KEY_WOW64_32KEY;

// Whether the key's own security lets an open ask for these rights.
bool keyAllows(const RegKey& key, REGSAM wanted)
{
    if (!key.readable)
        return false;
    const REGSAM beyondReading = wanted & ~(KEY_READ | ViewFlags);
    return key.writable || beyondReading == 0;
}

std::string keyPath(const RegKey& key)
{
    std::string path = key.name;
    for (const RegKey* k = key.parent; k; k = k->parent)
        path = k->name + "\\" + path;
    return path;
}

// The NT device tree: its security descriptor grants administrators reading
// only, and every key below inherits it.
bool inWriteProtectedTree(const RegKey& key)
{
    if (!machine().enumTreeWriteProtected)
        return false;
    const RegKey* tree = machine().findKey(sim::EnumPath);
    for (const RegKey* k = &key; tree && k; k = k->parent)
        if (k == tree)
            return true;
    return false;
}

// What a handle stands for, for a call that needs the given rights on it.
// The roots live as long as the machine, so a handle on one shares no
// ownership of it.
LONG lookUp(HKEY hKey, REGSAM needed, KeyHandle& found)
{
    sim::Machine& m = machine();
    if (RegKey* root = m.root(hKey)) {
        found = KeyHandle{std::shared_ptr<RegKey>(std::shared_ptr<RegKey>(), root), KEY_ALL_ACCESS};
    } else {
        sim::Handle* h = m.findHandle(hKey, sim::HandleKind::Key);
        if (!h)
            return ERROR_INVALID_HANDLE;
        found = *static_cast<const KeyHandle*>(h->payload.get());
        if (found.key->deleted)
            return ERROR_KEY_DELETED;
    }
    if ((found.access & needed) != needed)
        return ERROR_ACCESS_DENIED;
    return ERROR_SUCCESS;
}

// How most calls on a key begin: the call recorded, then failed by an
// injected fault, or by a handle that names no live key or lacks the rights.
LONG startCall(const char* call, HKEY hKey, REGSAM needed, KeyHandle& found)
{
    if (DWORD e = machine().injectedFault(call))
        return static_cast<LONG>(e);
    return lookUp(hKey, needed, found);
}

// Windows follows a chain of links only so far; a link to itself ends here.
constexpr int MaxLinkHops = 16;

// The key a link stands for, or null when its target does not exist.
std::shared_ptr<RegKey> linkTargetOf(const RegKey& link)
{
    std::shared_ptr<RegKey> key = machine().sharedKey(link.linkTarget);
    return key && !key->deleted ? key : nullptr;
}

// Every name of the path is looked up with its single-byte spelling (a
// Unicode name is filed where none can reach it). A link met on the way is
// followed, and so is one at the end unless the open asks for the link
// itself (REG_OPTION_OPEN_LINK).
LONG findBelow(const std::shared_ptr<RegKey>& start, const char* path,
               std::shared_ptr<RegKey>& found, bool openLink = false)
{
    std::vector<std::string> names;
    if (!sim::splitRegistryPath(path, machine().os.codePage, names))
        return ERROR_BAD_PATHNAME;
    std::shared_ptr<RegKey> key = start;
    for (size_t i = 0; i < names.size(); ++i) {
        auto it = key->subkeys.find(names[i]);
        if (it == key->subkeys.end())
            return ERROR_FILE_NOT_FOUND;
        key = it->second;
        const bool last = i + 1 == names.size();
        for (int hops = 0; !key->linkTarget.empty() && !(last && openLink); ++hops) {
            if (hops == MaxLinkHops)
                return ERROR_CANT_RESOLVE_FILENAME;
            key = linkTargetOf(*key);
            if (!key)
                return ERROR_FILE_NOT_FOUND;
        }
    }
    found = key;
    return ERROR_SUCCESS;
}

// Windows makes no key deeper than 512 levels below its root. A machine may
// still hold deeper ones (a hive edited offline): the tests build them
// directly, not through these calls.
constexpr size_t MaxKeyDepth = 512;

size_t depthOf(const RegKey& key)
{
    size_t depth = 0;
    for (const RegKey* k = key.parent; k; k = k->parent)
        ++depth;
    return depth;
}

HKEY newHandle(const std::shared_ptr<RegKey>& key, REGSAM access)
{
    auto payload = std::make_shared<KeyHandle>(KeyHandle{key, access});
    return static_cast<HKEY>(machine().addHandle(sim::HandleKind::Key, keyPath(*key), payload));
}

std::string valueName(LPCSTR name) { return name ? name : ""; }  // NULL: the default value

// Copies a name and its zero when the buffer holds both; the length then
// excludes the zero.
LONG giveName(const std::string& name, LPSTR buffer, LPDWORD length)
{
    if (name.size() >= *length)
        return ERROR_MORE_DATA;
    std::memcpy(buffer, name.c_str(), name.size() + 1);
    *length = static_cast<DWORD>(name.size());
    return ERROR_SUCCESS;
}

// The value's type, and its data to the buffer when it is big enough; the
// size is reported either way.
LONG giveValue(const RegValue& value, LPDWORD type, LPBYTE buffer, LPDWORD size)
{
    if (type)
        *type = value.type;
    const DWORD needed = static_cast<DWORD>(value.data.size());
    if (buffer) {
        if (*size < needed) {
            *size = needed;
            return ERROR_MORE_DATA;
        }
        if (needed)
            std::memcpy(buffer, value.data.data(), needed);
    }
    if (size)
        *size = needed;
    return ERROR_SUCCESS;
}

// Programs list a key's subkeys by index, 0, 1, 2... (or from the last one
// down, when they delete a tree), and a std::map reaches its Nth entry only
// by stepping from one end: a whole walk would cost the square of the
// number of subkeys. So the position last handed out is remembered, and the
// next index is counted from there when that is nearer than either end.
//
// The position is trusted only while the key has exactly the subkeys it had
// then: a subkey added changes their number, and every removal of a subkey,
// here or in the setup API, moves subkeyRemovals on. The key is known by its
// owner, not its address, so a key made later in the place of a freed one
// is never taken for it; the roots, which no handle owns, are walked from an
// end (they hold few subkeys).
using SubkeyMap = decltype(RegKey::subkeys);

struct EnumPosition {
    std::weak_ptr<RegKey> key;
    size_t subkeyCount = 0;
    unsigned long removals = 0;
    DWORD index = 0;
    SubkeyMap::const_iterator at;
};

EnumPosition lastPosition;
unsigned long subkeyRemovals = 0;

SubkeyMap::const_iterator subkeyAt(const std::shared_ptr<RegKey>& key, DWORD index)
{
    const SubkeyMap& subkeys = key->subkeys;
    const std::ptrdiff_t count = static_cast<std::ptrdiff_t>(subkeys.size());
    const std::ptrdiff_t wanted = static_cast<std::ptrdiff_t>(index);
    const bool remembered = lastPosition.key.lock() == key &&
                            lastPosition.subkeyCount == subkeys.size() &&
                            lastPosition.removals == subkeyRemovals;
    const std::ptrdiff_t fromLast = wanted - static_cast<std::ptrdiff_t>(lastPosition.index);

    SubkeyMap::const_iterator it;
    if (remembered && std::abs(fromLast) <= std::min(wanted, count - wanted))
        it = std::next(lastPosition.at, fromLast);
    else if (wanted <= count - wanted)
        it = std::next(subkeys.begin(), wanted);
    else
        it = std::prev(subkeys.end(), count - wanted);
    lastPosition = EnumPosition{key, subkeys.size(), subkeyRemovals, index, it};
    return it;
}

// The simulated keys have no class and no time of their last change.
void giveNoClassNorTime(LPSTR lpClass, LPDWORD lpcchClass, PFILETIME lpftLastWriteTime)
{
    if (lpClass && lpcchClass && *lpcchClass)
        lpClass[0] = '\0';
    if (lpcchClass)
        *lpcchClass = 0;
    if (lpftLastWriteTime)
        *lpftLastWriteTime = FILETIME{};
}

constexpr DWORD StatusAccessDenied = 0xC0000022;
constexpr DWORD StatusInvalidHandle = 0xC0000008;
constexpr DWORD StatusKeyDeleted = 0xC000017C;
constexpr DWORD StatusCannotDelete = 0xC0000121;

void removeKey(const std::shared_ptr<RegKey>& target)
{
    target->deleted = true;
    target->parent->take(sim::subkeyIndex(*target));
}

}  // namespace

void sim::subkeyRemoved() { ++subkeyRemovals; }

LONG WINAPI RegOpenKeyExA(HKEY hKey, LPCSTR lpSubKey, DWORD ulOptions, REGSAM samDesired,
                          PHKEY phkResult)
{
    const sim::Answer outcome{__func__};
    sim::CallRecord record{"RegOpenKeyExA"};
    record.flags = samDesired;
    record.size = ulOptions;  // reserved: must be zero
    record.text = lpSubKey ? lpSubKey : "";
    if (DWORD e = machine().injectedFault(std::move(record)))
        return outcome(static_cast<LONG>(e));
    if (!phkResult)
        return outcome(ERROR_INVALID_PARAMETER);
    *phkResult = nullptr;

    // The options are reserved on the 9x family; NT knows one that opens a
    // link as itself.
    const bool nt = machine().os.version.dwPlatformId == VER_PLATFORM_WIN32_NT;
    if (ulOptions & ~static_cast<DWORD>(nt ? REG_OPTION_OPEN_LINK : 0))
        return outcome(ERROR_INVALID_PARAMETER);

    KeyHandle base;
    if (LONG error = lookUp(hKey, 0, base))
        return outcome(error);
    std::shared_ptr<RegKey> key;
    if (LONG error = findBelow(base.key, lpSubKey, key, (ulOptions & REG_OPTION_OPEN_LINK) != 0))
        return outcome(error);
    if (!keyAllows(*key, samDesired))
        return outcome(ERROR_ACCESS_DENIED);
    if (inWriteProtectedTree(*key) && (samDesired & ~(KEY_READ | ViewFlags)))
        return outcome(ERROR_ACCESS_DENIED);
    *phkResult = newHandle(key, samDesired);
    return outcome(ERROR_SUCCESS);
}

// Tests seed keys with it; the product only opens keys that exist.
LONG WINAPI RegCreateKeyExA(HKEY hKey, LPCSTR lpSubKey, DWORD, LPSTR, DWORD, REGSAM samDesired,
                            LPSECURITY_ATTRIBUTES, PHKEY phkResult, LPDWORD lpdwDisposition)
{
    const sim::Answer outcome{__func__};
    if (DWORD e = machine().injectedFault("RegCreateKeyExA"))
        return outcome(static_cast<LONG>(e));
    if (!phkResult)
        return outcome(ERROR_INVALID_PARAMETER);
    *phkResult = nullptr;

    KeyHandle base;
    if (LONG error = lookUp(hKey, 0, base))
        return outcome(error);
    std::vector<std::string> names;
    if (!sim::splitRegistryPath(lpSubKey, machine().os.codePage, names))
        return outcome(ERROR_BAD_PATHNAME);

    std::shared_ptr<RegKey> key = base.key;
    bool created = false;
    for (const std::string& name : names) {
        auto it = key->subkeys.find(name);
        if (it != key->subkeys.end()) {
            key = it->second;
            if (!key->linkTarget.empty() && !(key = linkTargetOf(*key)))
                return outcome(ERROR_FILE_NOT_FOUND);
            continue;
        }
        if (!key->writable || !key->readable || inWriteProtectedTree(*key))
            return outcome(ERROR_ACCESS_DENIED);
        if (depthOf(*key) >= MaxKeyDepth)
            return outcome(ERROR_BADKEY);
        auto child = std::make_shared<RegKey>();
        child->name = name;
        child->parent = key.get();
        key->subkeys[name] = child;
        key = child;
        created = true;
    }
    if (!created && (!keyAllows(*key, samDesired) ||
                     (inWriteProtectedTree(*key) && (samDesired & ~(KEY_READ | ViewFlags)))))
        return outcome(ERROR_ACCESS_DENIED);
    if (lpdwDisposition)
        *lpdwDisposition = created ? REG_CREATED_NEW_KEY : REG_OPENED_EXISTING_KEY;
    *phkResult = newHandle(key, samDesired);
    return outcome(ERROR_SUCCESS);
}

LONG WINAPI RegCloseKey(HKEY hKey)
{
    const sim::Answer outcome{__func__};
    if (DWORD e = machine().injectedFault("RegCloseKey"))
        return outcome(static_cast<LONG>(e));
    if (machine().root(hKey))
        return outcome(ERROR_SUCCESS);  // predefined keys are never really closed
    if (!machine().closeHandle(hKey, sim::HandleKind::Key))
        return outcome(ERROR_INVALID_HANDLE);
    return outcome(ERROR_SUCCESS);
}

// The tree is in memory only: there is nothing to write, but the handle must
// still name a live key.
LONG WINAPI RegFlushKey(HKEY hKey)
{
    const sim::Answer outcome{__func__};
    KeyHandle handle;
    return outcome(startCall(__func__, hKey, 0, handle));
}

LONG WINAPI RegQueryInfoKeyA(HKEY hKey, LPSTR lpClass, LPDWORD lpcchClass, LPDWORD lpReserved,
                             LPDWORD lpcSubKeys, LPDWORD lpcbMaxSubKeyLen,
                             LPDWORD lpcbMaxClassLen, LPDWORD lpcValues,
                             LPDWORD lpcbMaxValueNameLen, LPDWORD lpcbMaxValueLen,
                             LPDWORD lpcbSecurityDescriptor, PFILETIME lpftLastWriteTime)
{
    const sim::Answer outcome{__func__};
    KeyHandle handle;
    if (LONG error = startCall(__func__, hKey, KEY_QUERY_VALUE, handle))
        return outcome(error);
    if (lpReserved)
        return outcome(ERROR_INVALID_PARAMETER);
    const RegKey& key = *handle.key;

    // Name lengths in characters, without the terminating zero. NT stores
    // names in Unicode and counts them so: with a double-byte code page one
    // character of an ANSI name may take two bytes (a lead byte and a trail).
    const bool countCharacters =
        machine().os.dbcsEnabled && machine().os.version.dwPlatformId == VER_PLATFORM_WIN32_NT;
    const auto length = [countCharacters](const std::string& name) {
        if (!countCharacters)
            return name.size();
        size_t characters = 0;
        for (size_t i = 0; i < name.size(); ++i, ++characters) {
            const auto byte = static_cast<unsigned char>(name[i]);
            if (byte >= 0x81 && byte <= 0xFE && i + 1 < name.size())
                ++i;  // a lead byte and its trail byte
        }
        return characters;
    };
    size_t longestSubkey = 0;
    for (const auto& entry : key.subkeys)
        longestSubkey = std::max(longestSubkey, length(sim::ansiName(*entry.second)));
    size_t longestValueName = 0;
    size_t largestData = 0;
    for (const RegValue& v : key.values) {
        longestValueName = std::max(longestValueName, length(v.name));
        largestData = std::max(largestData, v.data.size());
    }

    giveNoClassNorTime(lpClass, lpcchClass, lpftLastWriteTime);
    const auto give = [](LPDWORD out, size_t number) {
        if (out)
            *out = static_cast<DWORD>(number);
    };
    give(lpcSubKeys, key.subkeys.size());
    give(lpcbMaxSubKeyLen, longestSubkey);
    give(lpcbMaxClassLen, 0);
    give(lpcValues, key.values.size());
    give(lpcbMaxValueNameLen, longestValueName);
    give(lpcbMaxValueLen, largestData);
    give(lpcbSecurityDescriptor, 0);
    return outcome(ERROR_SUCCESS);
}

// Subkeys come in the order of their names, compared without regard to case.
LONG WINAPI RegEnumKeyExA(HKEY hKey, DWORD dwIndex, LPSTR lpName, LPDWORD lpcchName,
                          LPDWORD lpReserved, LPSTR lpClass, LPDWORD lpcchClass,
                          PFILETIME lpftLastWriteTime)
{
    const sim::Answer outcome{__func__};
    KeyHandle handle;
    if (LONG error = startCall(__func__, hKey, KEY_ENUMERATE_SUB_KEYS, handle))
        return outcome(error);
    if (!lpName || !lpcchName || lpReserved)
        return outcome(ERROR_INVALID_PARAMETER);
    if (dwIndex >= handle.key->subkeys.size())
        return outcome(ERROR_NO_MORE_ITEMS);

    auto it = subkeyAt(handle.key, dwIndex);
    if (LONG error = giveName(sim::ansiName(*it->second), lpName, lpcchName))
        return outcome(error);
    giveNoClassNorTime(lpClass, lpcchClass, lpftLastWriteTime);
    return outcome(ERROR_SUCCESS);
}

// Values come in the order they were created.
LONG WINAPI RegEnumValueA(HKEY hKey, DWORD dwIndex, LPSTR lpValueName, LPDWORD lpcchValueName,
                          LPDWORD lpReserved, LPDWORD lpType, LPBYTE lpData, LPDWORD lpcbData)
{
    const sim::Answer outcome{__func__};
    KeyHandle handle;
    if (LONG error = startCall(__func__, hKey, KEY_QUERY_VALUE, handle))
        return outcome(error);
    if (!lpValueName || !lpcchValueName || lpReserved || (lpData && !lpcbData))
        return outcome(ERROR_INVALID_PARAMETER);
    const RegKey& key = *handle.key;
    if (dwIndex >= key.values.size())
        return outcome(ERROR_NO_MORE_ITEMS);

    const RegValue& value = key.values[dwIndex];
    if (LONG error = giveName(value.name, lpValueName, lpcchValueName))
        return outcome(error);
    return outcome(giveValue(value, lpType, lpData, lpcbData));
}

LONG WINAPI RegQueryValueExA(HKEY hKey, LPCSTR lpValueName, LPDWORD lpReserved, LPDWORD lpType,
                             LPBYTE lpData, LPDWORD lpcbData)
{
    const sim::Answer outcome{__func__};
    KeyHandle handle;
    if (LONG error = startCall(__func__, hKey, KEY_QUERY_VALUE, handle))
        return outcome(error);
    if (lpReserved || (lpData && !lpcbData))
        return outcome(ERROR_INVALID_PARAMETER);
    const RegValue* value = handle.key->value(valueName(lpValueName));
    if (!value)
        return outcome(ERROR_FILE_NOT_FOUND);
    return outcome(giveValue(*value, lpType, lpData, lpcbData));
}

// Tests seed values with it. The data are stored exactly as given: a text
// without its terminating zero stays without one.
LONG WINAPI RegSetValueExA(HKEY hKey, LPCSTR lpValueName, DWORD, DWORD dwType, const BYTE* lpData,
                           DWORD cbData)
{
    const sim::Answer outcome{__func__};
    KeyHandle handle;
    if (LONG error = startCall(__func__, hKey, KEY_SET_VALUE, handle))
        return outcome(error);
    if (!lpData && cbData)
        return outcome(ERROR_INVALID_PARAMETER);

    handle.key->set(RegValue{valueName(lpValueName), dwType,
                             std::vector<BYTE>(lpData, lpData + cbData)});
    return outcome(ERROR_SUCCESS);
}

// An empty (or NULL) subkey names the handle's own key. Whether a key may be
// deleted is up to the key, not the handle it is reached by; a key that
// still has subkeys is refused, as on NT, where nothing deletes a tree at once.
LONG WINAPI RegDeleteKeyA(HKEY hKey, LPCSTR lpSubKey)
{
    const sim::Answer outcome{__func__};
    KeyHandle base;
    if (LONG error = startCall(__func__, hKey, 0, base))
        return outcome(error);

    std::shared_ptr<RegKey> target;
    if (!lpSubKey || !*lpSubKey) {
        if (!(base.access & DELETE))
            return outcome(ERROR_ACCESS_DENIED);
        target = base.key;
    } else {
        if (LONG error = findBelow(base.key, lpSubKey, target))
            return outcome(error);
        if (!keyAllows(*target, DELETE))
            return outcome(ERROR_ACCESS_DENIED);
    }
    if (!target->parent || !target->subkeys.empty())
        return outcome(ERROR_ACCESS_DENIED);  // a root, or a key with subkeys
    removeKey(target);
    return outcome(ERROR_SUCCESS);
}

// The native call that deletes the key a handle stands for: for a handle
// opened with REG_OPTION_OPEN_LINK, the link itself. RegDeleteKeyA, which
// opens the name it is given, would delete the link's target instead.
LONG WINAPI NtDeleteKey(HANDLE keyHandle)
{
    const sim::Answer outcome{__func__};
    if (machine().injectedFault(sim::CallRecord{"NtDeleteKey"}))
        return outcome(static_cast<LONG>(StatusAccessDenied));
    KeyHandle handle;
    if (LONG error = lookUp(static_cast<HKEY>(keyHandle), DELETE, handle))
        return outcome(static_cast<LONG>(error == ERROR_ACCESS_DENIED ? StatusAccessDenied
                                         : error == ERROR_KEY_DELETED ? StatusKeyDeleted
                                                                      : StatusInvalidHandle));
    if (!handle.key->parent)
        return outcome(static_cast<LONG>(StatusAccessDenied));
    if (!handle.key->subkeys.empty())
        return outcome(static_cast<LONG>(StatusCannotDelete));
    removeKey(handle.key);
    return outcome(0);
}

LONG WINAPI RegDeleteValueA(HKEY hKey, LPCSTR lpValueName)
{
    const sim::Answer outcome{__func__};
    KeyHandle handle;
    if (LONG error = startCall(__func__, hKey, KEY_SET_VALUE, handle))
        return outcome(error);
    if (!handle.key->removeValue(valueName(lpValueName)))
        return outcome(ERROR_FILE_NOT_FOUND);
    return outcome(ERROR_SUCCESS);
}
