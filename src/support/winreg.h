// TWinRegistry: one existing registry key, opened when the object is built,
// and the five operations the cleaning routines need on it and its
// immediate subkeys (a subkey plays the part of a section, a value that of
// an entry). Freeing the object flushes and closes the key.
#pragma once

#include "platform/win32.h"
#include "support/tstringlist.h"

#include <memory>
#include <string>
#include <utility>

// Written by every construction: true when its key could not be opened.
// Test it right after constructing, before constructing the next object.
extern bool WinRegOpenFailed;

void winRegLoad();

// A name as a walk over a key's subkeys handed it out: one key below the key
// that listed it, opened and deleted only relative to that key. The
// single-byte calls hand out a Unicode name converted with best fit, so the
// text may hold a backslash (U+FF3C, U+2216) that would make it a path, or
// may not open the key it came from at all.
class KeyName {
public:
    explicit KeyName(std::string text) : text_(std::move(text)) {}
    const std::string& text() const { return text_; }

private:
    std::string text_;
};

// Whether the text is one key name: not empty, and no backslash but the
// second byte of a double-byte character of the ANSI code page.
bool isOneKeyName(const std::string& name);

// How deep a deletion walks below the key it deletes. Windows makes no key
// deeper than 512 levels, so a deeper one is a machine built to be hostile:
// what lies beyond the bound is left, and said so in the trace.
constexpr size_t MaxDeletionDepth = 512;

class TWinRegistry {
public:
    // Opens root\path for reading and writing (KEY_ALL_ACCESS); never creates it.
    static std::unique_ptr<TWinRegistry> OpenWithKey(HKEY root, const std::string& path);
    // Opens root\path for reading (KEY_READ); later subkey opens ask for KEY_READ too.
    static std::unique_ptr<TWinRegistry> OpenWithKeyReadOnly(HKEY root, const std::string& path);
    // Opens one subkey of an open object for reading and writing, relative to
    // that object's key; its FileName is the parent's, a backslash and the name.
    static std::unique_ptr<TWinRegistry> OpenWithKey(const TWinRegistry& parent, const KeyName& name);

    ~TWinRegistry();
    TWinRegistry(const TWinRegistry&) = delete;
    TWinRegistry& operator=(const TWinRegistry&) = delete;

    bool isOpen() const { return openKey_ != nullptr; }
    const std::string& FileName() const { return fileName_; }

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
    // The same for a name a walk handed out; a text that is not one key name
    // gives the default.
    std::string ReadString(const KeyName& subkey, const std::string& valueName,
                           const std::string& defaultText);
    // Deletes the subkey at a path the code wrote with everything below it,
    // deepest first. An empty path deletes nothing: it would name the
    // object's own key.
    void eraseSection(const std::string& subkey);
    // The same for a name a walk handed out; a text that is not one key name
    // is left, and the trace says so.
    void eraseSection(const KeyName& subkey);
    // Deletes one value of the subkey (not a key).
    void DeleteKey(const std::string& subkey, const std::string& valueName);

private:
    class SubkeyScope;  // lets an opened subkey stand in as the open key

    TWinRegistry(HKEY root, const std::string& path);
    void open(HKEY base, const std::string& relativePath, REGSAM access);
    LONG openPath(const std::string& path, REGSAM access, HKEY* key) const;
    std::string readOpenedString(HKEY subkey, const std::string& valueName,
                                 const std::string& defaultText);
    void eraseTraced(const std::string& subkey);
    void deleteTree(HKEY base, const std::string& relativePath);

    HKEY root_;
    HKEY openKey_ = nullptr;  // owned: flushed and closed by the destructor
    REGSAM access_ = KEY_ALL_ACCESS;
    std::string fileName_;
};

// ReadString for the cleaning walks, where one value of another program
// must not end the run: a value that is not text, or whose data cannot be
// fetched, reads as no text for that item, and the trace says why.
std::string readTextOrNothing(TWinRegistry& registry, const KeyName& subkey,
                              const std::string& valueName);
