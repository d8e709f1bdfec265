#include "support/winreg.h"

#include "support/errors.h"
#include "support/id_string.h"
#include "support/handle_owners.h"
#include "support/tracers.h"

#include <algorithm>
#include <vector>

bool WinRegOpenFailed = false;

namespace {

// Facts of the running system that the name walks and opens depend on, read
// on first use and kept for the life of the module.
bool factsRead = false;
bool ntFamily = false;
bool nameLengthsDoubled = false;
UINT ansiCodePage = 0;

void readFacts()
{
    if (factsRead)
        return;
    factsRead = true;
    OSVERSIONINFOA version{};
    version.dwOSVersionInfoSize = sizeof(version);
    ntFamily = GetVersionExA(&version) && version.dwPlatformId == VER_PLATFORM_WIN32_NT;
    // NT counts name lengths in characters, and with a double-byte code page
    // an ANSI name may need two bytes for one of them. The 9x family counts
    // bytes, but a 9x version reported by a layer over NT (Wine's, a
    // compatibility mode's) counts characters still: the room is doubled
    // wherever the code page is double-byte, which costs a few bytes at most.
    nameLengthsDoubled = GetSystemMetrics(SM_DBCSENABLED) != 0;
    ansiCodePage = GetACP();
}

DWORD nameBufferLength(DWORD longestName)
{
    readFacts();
    return (nameLengthsDoubled ? 2 * longestName : longestName) + 1;
}

// Registry links exist on the NT family only, where every open asks to see
// a link as the link itself: a name that is a link is never opened through.
// On the 9x family the options are reserved and stay zero.
DWORD openOptions()
{
    readFacts();
    return ntFamily ? REG_OPTION_OPEN_LINK : 0;
}

// A key opened with REG_OPTION_OPEN_LINK is a link when it holds the value
// Windows keeps a link's target in.
bool isLink(HKEY key)
{
    if (!ntFamily)
        return false;
    DWORD type = REG_NONE;
    DWORD size = 0;
    return RegQueryValueExA(key, "SymbolicLinkValue", nullptr, &type, nullptr, &size) ==
               ERROR_SUCCESS &&
           type == REG_LINK;
}

// The text in a name buffer, up to its terminating zero.
std::string bufferText(const std::vector<char>& buffer)
{
    return std::string(buffer.begin(), std::find(buffer.begin(), buffer.end(), '\0'));
}

// Asks enumerate(index, buffer, length) for every index below count and
// appends the names it hands back. An index that fails (the key changed
// since it was counted) adds nothing rather than a stale buffer.
template <class Enumerate>
void appendNames(DWORD count, DWORD longestName, TStringList& list, Enumerate enumerate)
{
    std::vector<char> name(nameBufferLength(longestName));
    // Room for the names up front, but not on a count alone for a key far
    // larger than any seen: beyond that the list grows as they come.
    list.reserve(list.count() + static_cast<int>(std::min<DWORD>(count, 1u << 17)));
    for (DWORD index = 0; index < count; ++index) {
        DWORD length = static_cast<DWORD>(name.size());
        if (enumerate(index, name.data(), &length) == ERROR_SUCCESS)
            list.append(bufferText(name));
    }
}

bool isAbsolute(const std::string& path) { return !path.empty() && path[0] == '\\'; }

// Owns one key handle of a deletion walk.
struct KeyTraits {
    using Value = HKEY;
    static Value invalid() { return nullptr; }
    static void close(Value key) { RegCloseKey(key); }
};
using KeyHandle = UniqueHandle<KeyTraits>;

// Deletes a link as itself. Nothing below it is the vendor's to walk: its
// target is a key somewhere else.
void deleteLink(HKEY link, const std::string& name)
{
    TraceFmt("  WR: Link, not followed:%s", name);
    ntdll::NtDeleteKey(link);
}

}  // namespace

bool isOneKeyName(const std::string& name)
{
    if (name.empty())
        return false;
    readFacts();
    for (size_t i = 0; i < name.size(); ++i) {
        const auto byte = static_cast<unsigned char>(name[i]);
        // No lead byte of any code page is below 0x80.
        if (byte >= 0x80 && IsDBCSLeadByteEx(ansiCodePage, byte) && i + 1 < name.size())
            ++i;  // its trail byte may be 0x5C: part of the character, not a separator
        else if (byte == '\\')
            return false;
    }
    return true;
}

void winRegLoad()
{
    WinRegOpenFailed = false;
    factsRead = false;
    ntFamily = false;
    nameLengthsDoubled = false;
    ansiCodePage = 0;
}

// While it lives, an opened subkey stands in as the object's open key; on
// every way out the object's own key is put back before the subkey's handle
// is closed.
class TWinRegistry::SubkeyScope {
public:
    SubkeyScope(TWinRegistry& registry, const std::string& subkey)
        : registry_(registry), saved_(registry.openKey_)
    {
        if (registry.openPath(subkey, registry.access_, &subkey_) != ERROR_SUCCESS)
            subkey_ = nullptr;
        else
            registry_.openKey_ = subkey_;
    }
    ~SubkeyScope()
    {
        if (!subkey_)
            return;
        registry_.openKey_ = saved_;
        RegCloseKey(subkey_);
    }
    SubkeyScope(const SubkeyScope&) = delete;
    SubkeyScope& operator=(const SubkeyScope&) = delete;

    bool opened() const { return subkey_ != nullptr; }

private:
    TWinRegistry& registry_;
    HKEY saved_;
    HKEY subkey_ = nullptr;
};

TWinRegistry::TWinRegistry(HKEY root, const std::string& path) : root_(root), fileName_(path)
{
    WinRegOpenFailed = false;
}

std::unique_ptr<TWinRegistry> TWinRegistry::OpenWithKey(HKEY root, const std::string& path)
{
    TraceFmt("WINREG: OpenWithKey - FileName:%s", path);
    std::unique_ptr<TWinRegistry> registry(new TWinRegistry(root, path));
    registry->open(root, path, KEY_ALL_ACCESS);
    return registry;
}

std::unique_ptr<TWinRegistry> TWinRegistry::OpenWithKeyReadOnly(HKEY root, const std::string& path)
{
    TraceFmt("WINREG: OpenWithKeyReadOnly - FileName:%s", path);
    std::unique_ptr<TWinRegistry> registry(new TWinRegistry(root, path));
    registry->open(root, path, KEY_READ);
    return registry;
}

std::unique_ptr<TWinRegistry> TWinRegistry::OpenWithKey(const TWinRegistry& parent,
                                                        const KeyName& name)
{
    const std::string path = parent.fileName_ + "\\" + name.text();
    TraceFmt("WINREG: OpenWithKey - FileName:%s", path);
    std::unique_ptr<TWinRegistry> registry(new TWinRegistry(parent.root_, path));
    if (!isOneKeyName(name.text())) {
        TraceFmt("  WR: Not one key name, left:%s", name.text());
        TraceMsg("  WR: OpenKey FAILED!");
        WinRegOpenFailed = true;
    } else if (!parent.openKey_) {
        TraceMsg("  WR: OpenKey FAILED!");
        WinRegOpenFailed = true;
    } else {
        registry->open(parent.openKey_, name.text(), KEY_ALL_ACCESS);
    }
    return registry;
}

// A path from the root may begin with a backslash, which stands for the root
// itself; a name below an open key never does (isOneKeyName).
void TWinRegistry::open(HKEY base, const std::string& relativePath, REGSAM access)
{
    HKEY key = nullptr;
    const char* path = relativePath.c_str() + (isAbsolute(relativePath) ? 1 : 0);
    if (RegOpenKeyExA(base, path, openOptions(), access, &key) != ERROR_SUCCESS) {
        TraceMsg("  WR: OpenKey FAILED!");
        WinRegOpenFailed = true;
        return;
    }
    openKey_ = key;
    access_ = access;  // later subkey opens ask for what this one was granted
    TraceMsg("  WR: OpenKey SUCCEEDED!");
    WinRegOpenFailed = false;
}

TWinRegistry::~TWinRegistry()
{
    if (!openKey_)
        return;
    RegFlushKey(openKey_);
    RegCloseKey(openKey_);
}

// A path with a leading backslash is taken from the root; any other from the
// open key, or from the root while no key is open. Only paths the code
// writes come here: a name a walk handed out never does.
LONG TWinRegistry::openPath(const std::string& path, REGSAM access, HKEY* key) const
{
    *key = nullptr;
    LONG result;
    if (isAbsolute(path))
        result = RegOpenKeyExA(root_, path.c_str() + 1, openOptions(), access, key);
    else
        result = RegOpenKeyExA(openKey_ ? openKey_ : root_, path.c_str(), openOptions(), access, key);
    if (result != ERROR_SUCCESS)
        *key = nullptr;
    return result;
}

void TWinRegistry::ReadSections(TStringList& list)
{
    list.clear();
    if (!openKey_)
        return;
    DWORD count = 0;
    DWORD longestName = 0;
    if (RegQueryInfoKeyA(openKey_, nullptr, nullptr, nullptr, &count, &longestName, nullptr,
                         nullptr, nullptr, nullptr, nullptr, nullptr) != ERROR_SUCCESS)
        return;
    appendNames(count, longestName, list, [this](DWORD index, LPSTR name, LPDWORD length) {
        return RegEnumKeyExA(openKey_, index, name, length, nullptr, nullptr, nullptr, nullptr);
    });
}

void TWinRegistry::ReadSection(const std::string& subkey, TStringList& list)
{
    if (!openKey_) {
        list.clear();
        return;
    }
    SubkeyScope scope(*this, subkey);
    if (!scope.opened())
        return;  // the callers clear the list beforehand
    list.clear();
    DWORD count = 0;
    DWORD longestName = 0;
    if (RegQueryInfoKeyA(openKey_, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, &count,
                         &longestName, nullptr, nullptr, nullptr) != ERROR_SUCCESS)
        return;
    appendNames(count, longestName, list, [this](DWORD index, LPSTR name, LPDWORD length) {
        return RegEnumValueA(openKey_, index, name, length, nullptr, nullptr, nullptr, nullptr);
    });
}

std::string TWinRegistry::ReadString(const std::string& subkey, const std::string& valueName,
                                     const std::string& defaultText)
{
    if (!openKey_)
        return defaultText;
    HKEY opened = nullptr;
    if (openPath(subkey, access_, &opened) != ERROR_SUCCESS)
        return defaultText;
    return readOpenedString(opened, valueName, defaultText);
}

std::string TWinRegistry::ReadString(const KeyName& subkey, const std::string& valueName,
                                     const std::string& defaultText)
{
    if (!openKey_ || !isOneKeyName(subkey.text()))
        return defaultText;
    HKEY opened = nullptr;
    if (RegOpenKeyExA(openKey_, subkey.text().c_str(), openOptions(), access_, &opened) !=
        ERROR_SUCCESS)
        return defaultText;
    return readOpenedString(opened, valueName, defaultText);
}

// The value of an opened subkey, which stands in as the open key meanwhile;
// the subkey is closed on every way out, an error included.
std::string TWinRegistry::readOpenedString(HKEY subkey, const std::string& valueName,
                                           const std::string& defaultText)
{
    KeyHandle owner(subkey);
    const HKEY saved = openKey_;
    struct Restore {
        HKEY& openKey;
        HKEY saved;
        ~Restore() { openKey = saved; }
    } restore{openKey_, saved};
    openKey_ = subkey;

    DWORD type = REG_NONE;
    DWORD size = 0;
    if (RegQueryValueExA(openKey_, valueName.c_str(), nullptr, &type, nullptr, &size) !=
        ERROR_SUCCESS)
        return defaultText;
    if (size == 0)
        return std::string();  // whatever the type: there is nothing to refuse

    std::vector<BYTE> data(size);
    DWORD fetched = size;
    if (RegQueryValueExA(openKey_, valueName.c_str(), nullptr, &type, data.data(), &fetched) !=
        ERROR_SUCCESS)
        throw ERegistryException("Failed to get data for '" + valueName + "'");
    if (type != REG_SZ && type != REG_EXPAND_SZ)
        throw ERegistryException("Invalid data type for '" + valueName + "'");

    const char* text = reinterpret_cast<const char*>(data.data());
    return std::string(text, std::find(text, text + fetched, '\0'));
}

std::string readTextOrNothing(TWinRegistry& registry, const KeyName& subkey,
                              const std::string& valueName)
{
    try {
        return registry.ReadString(subkey, valueName, "");
    } catch (const ERegistryException& e) {
        TraceFmt("  WR: Passed over:%s", idString(registry.FileName() + "|" + subkey.text() + "|" +
                                                  e.what()));
        return std::string();
    }
}

void TWinRegistry::eraseTraced(const std::string& subkey)
{
    TraceMsg("WINREG: eraseSection - DEBUG OFF");
    TraceFmt("  WR: Deleting Key:%s", idString(fileName_ + "|" + subkey));
}

void TWinRegistry::eraseSection(const std::string& subkey)
{
    if (!openKey_)
        return;
    eraseTraced(subkey);
    // An empty name would resolve to the object's own key and empty it.
    if (subkey.empty())
        return;
    if (isAbsolute(subkey))
        deleteTree(root_, subkey.substr(1));
    else
        deleteTree(openKey_, subkey);
}

void TWinRegistry::eraseSection(const KeyName& subkey)
{
    if (!openKey_)
        return;
    eraseTraced(subkey.text());
    if (!isOneKeyName(subkey.text())) {
        TraceFmt("  WR: Not one key name, left:%s", subkey.text());
        return;
    }
    deleteTree(openKey_, subkey.text());
}

namespace {

// A key that did not open with the walk's rights is still deleted when it
// can be: on the 9x family (which has no links) by its name; on NT only
// once it is known not to be a link, since RegDeleteKeyA opens the name
// again, through a link, and would delete the link's target.
void deleteUnopened(HKEY parent, const std::string& path)
{
    if (!ntFamily) {
        RegDeleteKeyA(parent, path.c_str());
        return;
    }
    HKEY key = nullptr;
    const LONG opened =
        RegOpenKeyExA(parent, path.c_str(), REG_OPTION_OPEN_LINK, DELETE | KEY_QUERY_VALUE, &key);
    if (opened == ERROR_FILE_NOT_FOUND)
        return;  // nothing there to delete
    if (opened != ERROR_SUCCESS) {
        TraceFmt("  WR: Key did not open, left:%s", path);
        return;
    }
    KeyHandle owner(key);
    if (isLink(key)) {
        deleteLink(key, path);
        return;
    }
    owner.reset();
    RegDeleteKeyA(parent, path.c_str());
}

}  // namespace

// Children go first, from the highest index down, so that deleting one never
// moves the indexes still to be visited; the store deletes only leaf keys.
// The walk keeps its own stack of open keys rather than recursing, so no
// depth of keys can overflow the host's stack; it goes MaxDeletionDepth
// levels deep at most. Each child is opened by its name relative to its
// parent's handle, a link is deleted as itself and never entered, and a
// name that is not one key name is left.
void TWinRegistry::deleteTree(HKEY base, const std::string& relativePath)
{
    struct Level {
        KeyHandle key;
        std::string name;  // relative to the level above, or to base
        DWORD next;        // the children still to visit are those below this index
        DWORD bufferLength;
    };
    std::vector<Level> levels;
    bool beyondBound = false;

    // Opens a key to walk: false when there is nothing to enter (it did not
    // open, or it was a link and is gone).
    const auto enter = [&](HKEY parent, const std::string& name) {
        HKEY key = nullptr;
        if (RegOpenKeyExA(parent, name.c_str(), openOptions(), access_, &key) != ERROR_SUCCESS) {
            deleteUnopened(parent, name);
            return;
        }
        KeyHandle owner(key);
        if (isLink(key)) {
            deleteLink(key, name);
            return;
        }
        DWORD count = 0;
        DWORD longestName = 0;
        if (RegQueryInfoKeyA(key, nullptr, nullptr, nullptr, &count, &longestName, nullptr,
                             nullptr, nullptr, nullptr, nullptr, nullptr) != ERROR_SUCCESS)
            count = 0;
        levels.push_back(Level{std::move(owner), name, count, nameBufferLength(longestName)});
    };

    enter(base, relativePath);
    std::vector<char> buffer;
    while (!levels.empty()) {
        Level& level = levels.back();
        if (level.next == 0) {
            const std::string name = std::move(level.name);
            levels.pop_back();  // closes its handle before the key goes
            RegDeleteKeyA(levels.empty() ? base : levels.back().key.get(), name.c_str());
            continue;
        }
        const DWORD index = --level.next;
        buffer.assign(level.bufferLength, '\0');
        DWORD length = level.bufferLength;
        if (RegEnumKeyExA(level.key.get(), index, buffer.data(), &length, nullptr, nullptr,
                          nullptr, nullptr) != ERROR_SUCCESS)
            continue;
        // A name that begins with a zero (the native API can make one) reads
        // as empty here, and an empty name opens the same key again; one
        // with a separator names another key. Neither can be named as
        // itself through these calls: such a key stays, with its parents.
        const std::string child = bufferText(buffer);
        if (!isOneKeyName(child)) {
            if (!child.empty())
                TraceFmt("  WR: Not one key name, left:%s", child);
            continue;
        }
        if (levels.size() >= MaxDeletionDepth) {
            beyondBound = true;
            continue;
        }
        enter(level.key.get(), child);
    }
    if (beyondBound)
        TraceFmt("  WR: Deeper than 512 levels, left:%s", idString(fileName_ + "|" + relativePath));
}

void TWinRegistry::DeleteKey(const std::string& subkey, const std::string& valueName)
{
    if (!openKey_)
        return;
    const std::string traceText = idString(fileName_ + "|" + subkey + "|" + valueName);
    SubkeyScope scope(*this, subkey);
    if (!scope.opened())
        return;
    TraceMsg("WINREG: DeleteKey - DEBUG OFF");
    TraceFmt("  WR: Deleting:%s", traceText);
    RegDeleteValueA(openKey_, valueName.c_str());
}
