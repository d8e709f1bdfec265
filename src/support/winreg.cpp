#include "support/winreg.h"

#include "support/errors.h"
#include "support/id_string.h"
#include "support/tracers.h"

#include <algorithm>
#include <vector>

bool WinRegOpenFailed = false;

namespace {

bool nameRuleRead = false;
bool nameLengthsDoubled = false;

// On NT the store counts name lengths in characters, and with double-byte
// code pages an ANSI name may need two bytes for one of them. The facts are
// read on the first name walk and kept for the life of the module.
DWORD nameBufferLength(DWORD longestName)
{
    if (!nameRuleRead) {
        nameRuleRead = true;
        OSVERSIONINFOA version{};
        version.dwOSVersionInfoSize = sizeof(version);
        nameLengthsDoubled = GetVersionExA(&version) &&
                             version.dwPlatformId == VER_PLATFORM_WIN32_NT &&
                             GetSystemMetrics(SM_DBCSENABLED) != 0;
    }
    return (nameLengthsDoubled ? 2 * longestName : longestName) + 1;
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

}  // namespace

void winRegLoad()
{
    WinRegOpenFailed = false;
    nameRuleRead = false;
    nameLengthsDoubled = false;
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
    registry->open(KEY_ALL_ACCESS);
    return registry;
}

std::unique_ptr<TWinRegistry> TWinRegistry::OpenWithKeyReadOnly(HKEY root, const std::string& path)
{
    TraceFmt("WINREG: OpenWithKeyReadOnly - FileName:%s", path);
    std::unique_ptr<TWinRegistry> registry(new TWinRegistry(root, path));
    registry->open(KEY_READ);
    return registry;
}

void TWinRegistry::open(REGSAM access)
{
    HKEY key = nullptr;
    if (openPath(fileName_, access, &key) != ERROR_SUCCESS) {
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
// open key, or from the root while no key is open.
LONG TWinRegistry::openPath(const std::string& path, REGSAM access, HKEY* key) const
{
    *key = nullptr;
    LONG result;
    if (isAbsolute(path))
        result = RegOpenKeyExA(root_, path.c_str() + 1, 0, access, key);
    else
        result = RegOpenKeyExA(openKey_ ? openKey_ : root_, path.c_str(), 0, access, key);
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
    SubkeyScope scope(*this, subkey);
    if (!scope.opened())
        return defaultText;

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

void TWinRegistry::eraseSection(const std::string& subkey)
{
    if (!openKey_)
        return;
    TraceMsg("WINREG: eraseSection - DEBUG OFF");
    TraceFmt("  WR: Deleting Key:%s", idString(fileName_ + "|" + subkey));
    // An empty name would resolve to the object's own key and empty it.
    if (subkey.empty())
        return;
    deleteTree(subkey);
}

// Children go first, from the highest index down, so that deleting one never
// moves the indexes still to be visited; the store deletes only leaf keys.
void TWinRegistry::deleteTree(const std::string& subkey)
{
    {
        SubkeyScope scope(*this, subkey);
        DWORD count = 0;
        DWORD longestName = 0;
        if (scope.opened() &&
            RegQueryInfoKeyA(openKey_, nullptr, nullptr, nullptr, &count, &longestName, nullptr,
                             nullptr, nullptr, nullptr, nullptr, nullptr) == ERROR_SUCCESS) {
            std::vector<char> name(nameBufferLength(longestName));
            for (DWORD index = count; index-- > 0;) {
                DWORD length = static_cast<DWORD>(name.size());
                if (RegEnumKeyExA(openKey_, index, name.data(), &length, nullptr, nullptr, nullptr,
                                  nullptr) != ERROR_SUCCESS)
                    continue;
                // A name that begins with a zero (the native API can make
                // one) reads as empty here, and an empty name opens this
                // same key again: the walk would never end. Such a key
                // cannot be named through these calls; it stays.
                const std::string child = bufferText(name);
                if (!child.empty())
                    deleteTree(child);
            }
        }
    }
    if (isAbsolute(subkey))
        RegDeleteKeyA(root_, subkey.c_str() + 1);
    else
        RegDeleteKeyA(openKey_ ? openKey_ : root_, subkey.c_str());
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
