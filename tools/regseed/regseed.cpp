// regseed: makes the registry keys of a hostile machine that a .reg file
// cannot describe, for the hostile tests: registry links and chains of keys
// deeper than a path can name.
//
//   regseed COMMAND... (run in order; the first one that fails stops the run)
//
//   link KEY TARGET
//       makes HKLM\KEY a registry link (REG_OPTION_CREATE_LINK) whose
//       SymbolicLinkValue names HKLM\TARGET ("\Registry\Machine\TARGET")
//   deep KEY LEVELS NAME
//       makes a chain of LEVELS keys named NAME below HKLM\KEY (created if
//       missing), each opened relative to the one above it
//   acp
//       prints "ACP N", the ANSI code page this program runs with, so that a
//       run can tell which one Wine gave it
//
// Keys are made in the view of this program's own architecture. Exit code:
// 0 when every command ran, 1 bad command line, 2 a registry call failed
// (its error is printed on stderr).
#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#include <windows.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

namespace {

class Key {
public:
    Key() = default;
    Key(const Key&) = delete;
    Key& operator=(const Key&) = delete;
    ~Key() { reset(); }
    HKEY* out()
    {
        reset();
        return &handle_;
    }
    HKEY get() const { return handle_; }
    // Closes this key and keeps the other's instead.
    void takeFrom(Key& other)
    {
        reset();
        handle_ = other.handle_;
        other.handle_ = nullptr;
    }
    void reset()
    {
        if (handle_)
            RegCloseKey(handle_);
        handle_ = nullptr;
    }

private:
    HKEY handle_ = nullptr;
};

bool failed(const char* what, const char* about, LONG error)
{
    std::fprintf(stderr, "regseed: %s failed for %s (error %ld)\n", what, about, error);
    return false;
}

std::wstring wide(const char* text)
{
    std::wstring out;
    for (const char* p = text; *p; ++p)
        out += static_cast<wchar_t>(static_cast<unsigned char>(*p));
    return out;
}

bool makeLink(const char* key, const char* target)
{
    Key link;
    LONG error = RegCreateKeyExW(HKEY_LOCAL_MACHINE, wide(key).c_str(), 0, nullptr,
                                 REG_OPTION_CREATE_LINK, KEY_ALL_ACCESS | KEY_CREATE_LINK, nullptr,
                                 link.out(), nullptr);
    if (error != ERROR_SUCCESS)
        return failed("RegCreateKeyExW(REG_OPTION_CREATE_LINK)", key, error);
    // The link's target is a kernel path, without a terminating null.
    const std::wstring path = L"\\Registry\\Machine\\" + wide(target);
    error = RegSetValueExW(link.get(), L"SymbolicLinkValue", 0, REG_LINK,
                           reinterpret_cast<const BYTE*>(path.data()),
                           static_cast<DWORD>(path.size() * sizeof(wchar_t)));
    if (error != ERROR_SUCCESS)
        return failed("RegSetValueExW(SymbolicLinkValue)", key, error);
    return true;
}

bool makeChain(const char* key, long levels, const char* name)
{
    Key current;
    LONG error = RegCreateKeyExA(HKEY_LOCAL_MACHINE, key, 0, nullptr, 0, KEY_ALL_ACCESS, nullptr,
                                 current.out(), nullptr);
    if (error != ERROR_SUCCESS)
        return failed("RegCreateKeyExA", key, error);
    for (long level = 1; level <= levels; ++level) {
        Key below;
        error = RegCreateKeyExA(current.get(), name, 0, nullptr, 0, KEY_ALL_ACCESS, nullptr,
                                below.out(), nullptr);
        if (error != ERROR_SUCCESS) {
            const std::string where = std::string(key) + " at level " + std::to_string(level);
            return failed("RegCreateKeyExA", where.c_str(), error);
        }
        current.takeFrom(below);
    }
    return true;
}

int usage()
{
    std::fputs("usage: regseed [link KEY TARGET] [deep KEY LEVELS NAME] [acp]...\n", stderr);
    return 1;
}

}  // namespace

int main(int argc, char** argv)
{
    for (int i = 1; i < argc;) {
        const std::string command = argv[i];
        if (command == "acp") {
            std::printf("ACP %u\n", GetACP());
            i += 1;
        } else if (command == "link" && i + 2 < argc) {
            if (!makeLink(argv[i + 1], argv[i + 2]))
                return 2;
            i += 3;
        } else if (command == "deep" && i + 3 < argc) {
            char* end = nullptr;
            const long levels = std::strtol(argv[i + 2], &end, 10);
            if (*end != '\0' || levels < 1)
                return usage();
            if (!makeChain(argv[i + 1], levels, argv[i + 3]))
                return 2;
            i += 4;
        } else {
            return usage();
        }
    }
    return 0;
}
