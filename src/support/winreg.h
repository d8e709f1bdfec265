// TWinRegistry: one existing registry key, opened when the object is built,
// and the five operations the cleaning routines need on it and its
// immediate subkeys (a subkey plays the part of a section, a value that of
// an entry). Freeing the object flushes and closes the key.
#pragma once

#include "platform/win32.h"
#include "support/tstringlist.h"

#include <memory>
#include <string>

// Written by every construction: true when its key could not be opened.
// Test it right after constructing, before constructing the next object.
extern bool WinRegOpenFailed;

void winRegLoad();

class TWinRegistry {
public:
    // Opens root\path for reading and writing (KEY_ALL_ACCESS); never creates it.
    static std::unique_ptr<TWinRegistry> OpenWithKey(HKEY root, const std::string& path);
    // Opens root\path for reading (KEY_READ); later subkey opens ask for KEY_READ too.
    static std::unique_ptr<TWinRegistry> OpenWithKeyReadOnly(HKEY root, const std::string& path);

    ~TWinRegistry();
    TWinRegistry(const TWinRegistry&) = delete;
    TWinRegistry& operator=(const TWinRegistry&) = delete;

    bool isOpen() const { return openKey_ != nullptr; }
    const std::string& FileName() const { return fileName_; }
    REGSAM accessMask() const { return access_; }

    // The list holds the names of the open key's subkeys, in the store's order.
    void ReadSections(TStringList& list);
    // The list holds the value names of the subkey; left as it was when the
    // subkey does not exist.
    void ReadSection(const std::string& subkey, TStringList& list);
    // The text of a REG_SZ or REG_EXPAND_SZ value (not expanded), or the
    // default when the subkey or the value does not exist. Throws
    // ERegistryException for a value of another type or one that cannot be read.
    std::string ReadString(const std::string& subkey, const std::string& valueName,
                           const std::string& defaultText);
    // Deletes the subkey with everything below it, deepest first. An empty
    // name deletes nothing: it would name the object's own key.
    void eraseSection(const std::string& subkey);
    // Deletes one value of the subkey (not a key).
    void DeleteKey(const std::string& subkey, const std::string& valueName);

private:
    class SubkeyScope;  // lets an opened subkey stand in as the open key

    TWinRegistry(HKEY root, const std::string& path);
    void open(REGSAM access);
    LONG openPath(const std::string& path, REGSAM access, HKEY* key) const;
    void deleteTree(const std::string& subkey);

    HKEY root_;
    HKEY openKey_ = nullptr;  // owned: flushed and closed by the destructor
    REGSAM access_ = KEY_ALL_ACCESS;
    std::string fileName_;
};
