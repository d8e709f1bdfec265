#include "registry_tree.h"

#include "sim_internal.h"

#include <stdexcept>

namespace sim {

namespace {

char upperChar(char c) { return (c >= 'a' && c <= 'z') ? static_cast<char>(c - 'a' + 'A') : c; }

}  // namespace

std::string upper(std::string_view text)
{
    std::string folded(text);
    for (char& c : folded)
        c = upperChar(c);
    return folded;
}

bool equalNoCase(std::string_view a, std::string_view b)
{
    if (a.size() != b.size())
        return false;
    for (size_t i = 0; i < a.size(); ++i)
        if (upperChar(a[i]) != upperChar(b[i]))
            return false;
    return true;
}

// Byte by byte without the two copies: every key lookup comes here.
bool lessNoCase(std::string_view a, std::string_view b)
{
    const size_t common = a.size() < b.size() ? a.size() : b.size();
    for (size_t i = 0; i < common; ++i) {
        const auto x = static_cast<unsigned char>(upperChar(a[i]));
        const auto y = static_cast<unsigned char>(upperChar(b[i]));
        if (x != y)
            return x < y;
    }
    return a.size() < b.size();
}

std::vector<std::string> multiStrings(const RegValue& value)
{
    std::vector<std::string> texts;
    const std::string all(value.data.begin(), value.data.end());
    size_t start = 0;
    while (start < all.size()) {
        size_t end = all.find('\0', start);
        if (end == std::string::npos)
            end = all.size();
        if (end == start)
            break;
        texts.push_back(all.substr(start, end - start));
        start = end + 1;
    }
    return texts;
}

std::string firstString(const RegValue& value)
{
    const std::string text(value.data.begin(), value.data.end());
    return text.substr(0, text.find('\0'));
}

// ------------------------------------------------------------------- keys

RegKey* RegKey::find(std::string_view childName) const
{
    auto it = subkeys.find(childName);
    return it == subkeys.end() ? nullptr : it->second.get();
}

// A machine path may name a Unicode key by its UTF-8 name; the registry
// calls never look there (registry.cpp).
RegKey* RegKey::child(const std::string& childName) const
{
    if (RegKey* found = find(childName))
        return found;
    return find(std::string(1, '\0') + childName);
}

const RegValue* RegKey::value(std::string_view valueName) const
{
    for (const RegValue& v : values)
        if (equalNoCase(v.name, valueName))
            return &v;
    return nullptr;
}

RegKey& RegKey::ensure(std::string_view childName)
{
    if (RegKey* found = find(childName))
        return *found;
    auto created = std::make_shared<RegKey>();
    created->name = std::string(childName);
    created->parent = this;
    RegKey& made = *created;
    subkeys.emplace(made.name, std::move(created));
    return made;
}

std::shared_ptr<RegKey> RegKey::take(std::string_view childName)
{
    auto it = subkeys.find(childName);
    if (it == subkeys.end())
        return nullptr;
    std::shared_ptr<RegKey> taken = std::move(it->second);
    subkeys.erase(it);
    taken->parent = nullptr;
    subkeyRemoved();
    return taken;
}

bool RegKey::remove(std::string_view childName) { return take(childName) != nullptr; }

RegKey& RegKey::adopt(std::shared_ptr<RegKey> child)
{
    const std::string index = subkeyIndex(*child);
    take(index);
    child->parent = this;
    RegKey& adopted = *child;
    subkeys.emplace(index, std::move(child));
    return adopted;
}

bool RegKey::rename(std::string_view childName, std::string newName)
{
    RegKey* named = find(childName);
    RegKey* other = find(newName);
    if (!named || (other && other != named))
        return false;
    std::shared_ptr<RegKey> moved = take(childName);
    moved->name = std::move(newName);
    adopt(std::move(moved));
    return true;
}

std::vector<RegKey*> RegKey::children() const
{
    std::vector<RegKey*> list;
    list.reserve(subkeys.size());
    for (const auto& entry : subkeys)
        list.push_back(entry.second.get());
    return list;
}

size_t RegKey::descendantCount() const
{
    size_t count = 0;
    for (const auto& entry : subkeys)
        count += 1 + entry.second->descendantCount();
    return count;
}

void RegKey::set(RegValue value)
{
    for (RegValue& v : values)
        if (equalNoCase(v.name, value.name)) {
            // The registry keeps the name as first written and the value's place.
            v.type = value.type;
            v.data = std::move(value.data);
            return;
        }
    values.push_back(std::move(value));
}

bool RegKey::removeValue(std::string_view valueName)
{
    for (auto it = values.begin(); it != values.end(); ++it)
        if (equalNoCase(it->name, valueName)) {
            values.erase(it);
            return true;
        }
    return false;
}

// A leading zero byte: no text a program passes can begin with one.
std::string subkeyIndex(const RegKey& key)
{
    return key.unicodeName ? std::string(1, '\0') + key.name : key.name;
}

std::shared_ptr<RegKey> clone(const RegKey& key, RegKey* parent)
{
    auto copy = std::make_shared<RegKey>();
    copy->name = key.name;
    copy->parent = parent;
    copy->values = key.values;
    copy->readable = key.readable;
    copy->writable = key.writable;
    copy->deleted = key.deleted;
    copy->unicodeName = key.unicodeName;
    copy->linkTarget = key.linkTarget;
    for (const auto& [index, child] : key.subkeys)
        copy->subkeys.emplace_hint(copy->subkeys.end(), index, clone(*child, copy.get()));
    return copy;
}

void forEachKey(const RegKey& key, const std::string& path,
                const std::function<void(const RegKey&, const std::string&)>& visit)
{
    visit(key, path);
    for (const auto& entry : key.subkeys)
        forEachKey(*entry.second, path + "\\" + entry.second->name, visit);
}

void compareTrees(const RegKey& before, const RegKey& after, const std::string& path,
                  const TreeChanges& changes)
{
    for (const RegValue& v : before.values) {
        const RegValue* now = after.value(v.name);
        if (!now) {
            if (changes.valueRemoved)
                changes.valueRemoved(path, v);
        } else if (now->type != v.type || now->data != v.data) {
            if (changes.valueChanged)
                changes.valueChanged(path, v, *now);
        }
    }
    if (changes.valueAdded)
        for (const RegValue& v : after.values)
            if (!before.value(v.name))
                changes.valueAdded(path, v);

    const auto below = [&](const RegKey& child) {
        return path.empty() ? child.name : path + "\\" + child.name;
    };
    for (const auto& [index, child] : before.subkeys) {
        if (const RegKey* still = after.find(index))
            compareTrees(*child, *still, below(*child), changes);
        else if (changes.keyRemoved)
            changes.keyRemoved(below(*child), *child);
    }
    if (changes.keyAdded)
        for (const auto& [index, child] : after.subkeys)
            if (!before.find(index))
                changes.keyAdded(below(*child), *child);
}

// --------------------------------------------------------------- registry

std::string rootKeyName(std::string_view name)
{
    static const std::pair<const char*, const char*> roots[] = {
        {"HKEY_LOCAL_MACHINE", "HKLM"}, {"HKEY_CURRENT_USER", "HKCU"},
        {"HKEY_CLASSES_ROOT", "HKCR"},  {"HKEY_USERS", "HKU"},
        {"HKEY_CURRENT_CONFIG", "HKCC"}, {"HKEY_DYN_DATA", "HKDD"},
    };
    for (const auto& [full, brief] : roots)
        if (equalNoCase(name, full) || equalNoCase(name, brief))
            return full;
    return std::string();
}

bool splitKeyPath(std::string_view path, std::vector<std::string_view>& parts)
{
    parts.clear();
    size_t start = 0;
    while (true) {
        const size_t end = path.find('\\', start);
        const std::string_view part =
            path.substr(start, end == std::string_view::npos ? std::string_view::npos : end - start);
        if (part.empty())
            return false;
        parts.push_back(part);
        if (end == std::string_view::npos)
            return true;
        start = end + 1;
    }
}

RegKey* Registry::root(std::string_view name) const
{
    auto it = roots.find(rootKeyName(name));
    return it == roots.end() ? nullptr : it->second.get();
}

RegKey& Registry::ensureRoot(std::string_view name)
{
    const std::string full = rootKeyName(name);
    if (full.empty())
        throw std::invalid_argument("unknown root key \"" + std::string(name) + "\"");
    std::shared_ptr<RegKey>& slot = roots[full];
    if (!slot) {
        slot = std::make_shared<RegKey>();
        slot->name = full;
    }
    return *slot;
}

RegKey* Registry::find(std::string_view path) const
{
    std::vector<std::string_view> parts;
    if (!splitKeyPath(path, parts))
        return nullptr;
    RegKey* key = root(parts[0]);
    for (size_t i = 1; key && i < parts.size(); ++i)
        key = key->find(parts[i]);
    return key;
}

RegKey& Registry::create(std::string_view path)
{
    std::vector<std::string_view> parts;
    if (!splitKeyPath(path, parts))
        throw std::invalid_argument("empty key name in \"" + std::string(path) + "\"");
    RegKey* key = &ensureRoot(parts[0]);
    for (size_t i = 1; i < parts.size(); ++i)
        key = &key->ensure(parts[i]);
    return *key;
}

bool Registry::remove(std::string_view path)
{
    const size_t cut = path.rfind('\\');
    if (cut == std::string_view::npos)
        return false;
    RegKey* parent = find(path.substr(0, cut));
    return parent && parent->remove(path.substr(cut + 1));
}

Registry Registry::clone() const
{
    Registry copy;
    for (const auto& [name, key] : roots)
        copy.roots.emplace_hint(copy.roots.end(), name, sim::clone(*key));
    return copy;
}

}  // namespace sim
