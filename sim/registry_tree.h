// The registry as a tree in memory: keys with their values and subkeys. The
// simulated registry and setup API calls run on it (machine.h), and the
// preview tool reads registry files into it and writes them out of it, so a
// customer's snapshot becomes a machine, and the machine after a run a file,
// without a second model between them.
#pragma once

#include "win32_sim.h"

#include <functional>
#include <map>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

namespace sim {

// Key and value names are compared without regard to case (ASCII letters
// only, as the registry does for these names) and kept as written. This is
// the one fold of the simulator and the tools; the product has its own.
std::string upper(std::string_view text);
bool equalNoCase(std::string_view a, std::string_view b);
bool lessNoCase(std::string_view a, std::string_view b);  // as upper(a) < upper(b)
struct CaseInsensitiveLess {
    using is_transparent = void;
    bool operator()(std::string_view a, std::string_view b) const { return lessNoCase(a, b); }
};

struct RegValue {
    std::string name;  // empty: the key's default value
    DWORD type = REG_NONE;
    std::vector<BYTE> data;

    bool operator==(const RegValue& other) const
    {
        return type == other.type && data == other.data && name == other.name;
    }
};

// The texts of a REG_MULTI_SZ value, up to the empty text that ends the list.
std::vector<std::string> multiStrings(const RegValue& value);
// The text of a string value, up to its first zero (or all of it).
std::string firstString(const RegValue& value);

struct RegKey {
    RegKey() = default;
    RegKey(const RegKey&) = delete;  // its subkeys point back at it
    RegKey& operator=(const RegKey&) = delete;

    std::string name;
    RegKey* parent = nullptr;  // null for a root key
    // Sorted without regard to case, the order in which NT enumerates subkeys.
    // Whatever removes an entry must call sim::subkeyRemoved(): the registry
    // calls remember their enumeration position (sim_internal.h).
    std::map<std::string, std::shared_ptr<RegKey>, CaseInsensitiveLess> subkeys;
    std::vector<RegValue> values;  // creation order, as NT enumerates values
    bool readable = true;          // false: every open is refused
    bool writable = true;          // false: opens asking for more than KEY_READ are refused
    bool deleted = false;          // set when the key is deleted; open handles then fail
    // The name holds characters that the machine's code page has no byte
    // for, kept as UTF-8: the single-byte calls hand it out with best fit
    // (ansiName) and can never open the key by that form (subkeyIndex).
    bool unicodeName = false;
    // A symbolic link (made with REG_OPTION_CREATE_LINK): the path of the
    // key it stands for, "HKLM\\...". It has no subkeys of its own.
    std::string linkTarget;

    // The subkey of that name; child() also finds a Unicode name by its
    // UTF-8 form, as a machine path may spell it.
    RegKey* find(std::string_view childName) const;
    RegKey* child(const std::string& childName) const;
    const RegValue* value(std::string_view valueName) const;

    RegKey& ensure(std::string_view childName);  // the existing subkey or a new one
    bool remove(std::string_view childName);     // with everything below it
    // Takes a subkey out, with everything below it; null when there is none.
    std::shared_ptr<RegKey> take(std::string_view childName);
    // Makes `child` a subkey, in place of one of the same name.
    RegKey& adopt(std::shared_ptr<RegKey> child);
    // Gives a subkey another name; false when there is no such subkey or
    // the new name is another subkey's.
    bool rename(std::string_view childName, std::string newName);
    // Subkeys in enumeration order.
    std::vector<RegKey*> children() const;
    size_t descendantCount() const;  // every key below, at any depth

    void set(RegValue value);  // adds, or replaces the data of the value of that name
    bool removeValue(std::string_view valueName);
};

// The key under which a key is filed among its parent's subkeys: its name,
// or for a Unicode name one that no single-byte path can spell.
std::string subkeyIndex(const RegKey& key);

// A copy of a key and everything below it, its flags included.
std::shared_ptr<RegKey> clone(const RegKey& key, RegKey* parent = nullptr);

// Every key at or below `key`, depth first, with its path below `path`.
void forEachKey(const RegKey& key, const std::string& path,
                const std::function<void(const RegKey&, const std::string&)>& visit);

// What differs between two trees, told as it is found: in each key both
// trees have, first its values (those of `before` in their order, then
// those only `after` has), then its subkeys (those of `before`, each
// compared or gone, then those only `after` has). A key that only one tree
// has is told once, not the keys below it. Each path is `path` and the
// names below it; a callback left empty is not called.
struct TreeChanges {
    std::function<void(const std::string& path, const RegKey& before)> keyRemoved;
    std::function<void(const std::string& path, const RegKey& after)> keyAdded;
    std::function<void(const std::string& keyPath, const RegValue& before)> valueRemoved;
    std::function<void(const std::string& keyPath, const RegValue& after)> valueAdded;
    std::function<void(const std::string& keyPath, const RegValue& before, const RegValue& after)>
        valueChanged;
};
void compareTrees(const RegKey& before, const RegKey& after, const std::string& path,
                  const TreeChanges& changes);

// The predefined root keys by their full names; "HKLM" and the other short
// forms are accepted too. Empty when the name is no root key.
std::string rootKeyName(std::string_view name);

// Splits "A\B\C" into its key names; false when a name is empty.
bool splitKeyPath(std::string_view path, std::vector<std::string_view>& parts);

// A whole registry: root keys by their full names, each without a parent.
// A machine keeps its registry so, and a registry file is read into one.
// Moved, never copied by accident: clone() copies.
class Registry {
public:
    Registry() = default;
    Registry(Registry&&) = default;
    Registry& operator=(Registry&&) = default;
    Registry(const Registry&) = delete;
    Registry& operator=(const Registry&) = delete;

    std::map<std::string, std::shared_ptr<RegKey>, CaseInsensitiveLess> roots;

    RegKey* root(std::string_view name) const;  // by full or short name
    RegKey& ensureRoot(std::string_view name);  // throws on a name that is no root key
    // Paths are "HKEY_LOCAL_MACHINE\A\B" (or "HKLM\A\B"). A path that
    // names no root key, or holds an empty key name, finds nothing.
    RegKey* find(std::string_view path) const;
    RegKey& create(std::string_view path);  // with every missing parent; throws on a bad path
    bool remove(std::string_view path);     // not a root key
    Registry clone() const;
};

}  // namespace sim
