#include "platform/system_libraries.h"

#include <cstring>
#include <string>

namespace {

struct SystemLibrary {
    explicit SystemLibrary(const char* file) : fileName(file) {}

    // A loaded library gives the same answer for a name until it is freed,
    // so each function is looked up once per load, its failure included.
    struct Binding {
        const char* name;
        FARPROC address;
        DWORD error;
    };
    static constexpr size_t MaxBindings = 16;

    const char* fileName;
    HMODULE module = nullptr;
    bool tried = false;  // one attempt per export call: a failed load is not retried
    DWORD loadError = 0;
    Binding bindings[MaxBindings] = {};
    size_t bound = 0;
};

SystemLibrary setupApiLibrary("setupapi.dll");
SystemLibrary newdevLibrary("newdev.dll");
SystemLibrary ntdllLibrary("ntdll.dll");

HMODULE loadLibrary(SystemLibrary& lib)
{
    if (!lib.tried) {
        lib.tried = true;
        char dir[MAX_PATH];
        UINT length = GetSystemDirectoryA(dir, MAX_PATH);
        if (length == 0 || length >= MAX_PATH) {
            lib.loadError = length == 0 ? GetLastError() : ERROR_INSUFFICIENT_BUFFER;
        } else {
            const std::string path = std::string(dir, length) + "\\" + lib.fileName;
            lib.module = LoadLibraryA(path.c_str());
            if (!lib.module)
                lib.loadError = GetLastError();
        }
    }
    if (!lib.module)
        SetLastError(lib.loadError);
    return lib.module;
}

void freeLibrary(SystemLibrary& lib)
{
    if (lib.module)
        FreeLibrary(lib.module);
    lib.module = nullptr;
    lib.tried = false;
    lib.loadError = 0;
    lib.bound = 0;
}

// The function's address, or null with GetLastError giving the binding error.
FARPROC bind(SystemLibrary& lib, const char* name)
{
    HMODULE module = loadLibrary(lib);
    if (!module)
        return nullptr;
    for (size_t i = 0; i < lib.bound; ++i) {
        const SystemLibrary::Binding& b = lib.bindings[i];
        if (std::strcmp(b.name, name) == 0) {
            if (!b.address)
                SetLastError(b.error);
            return b.address;
        }
    }
    FARPROC address = GetProcAddress(module, name);
    const DWORD error = address ? 0 : GetLastError();
    if (lib.bound < SystemLibrary::MaxBindings)
        lib.bindings[lib.bound++] = {name, address, error};
    if (!address)
        SetLastError(error);
    return address;
}

// Calls the function `name` of the library with the arguments, or gives the
// failure result when it cannot be bound (GetLastError is set by then).
template <class Function, class Result, class... Args>
Result callBound(SystemLibrary& lib, const char* name, Result failure, Args... args)
{
    FARPROC address = bind(lib, name);
    if (!address)
        return failure;
    auto* function = reinterpret_cast<Function*>(reinterpret_cast<void*>(address));
    return function(args...);
}

}  // namespace

void releaseSystemLibraries()
{
    freeLibrary(setupApiLibrary);
    freeLibrary(newdevLibrary);
    freeLibrary(ntdllLibrary);
}

namespace setupapi {

namespace {

// A set that could not be destroyed again would stay open for the life of
// the host, so none is opened unless the function that destroys it is bound.
bool canDestroySets() { return bind(setupApiLibrary, "SetupDiDestroyDeviceInfoList") != nullptr; }

}  // namespace

HDEVINFO SetupDiGetClassDevsA(const GUID* classGuid, PCSTR enumerator, HWND parent, DWORD flags)
{
    if (!canDestroySets())
        return INVALID_HANDLE_VALUE;
    return callBound<decltype(::SetupDiGetClassDevsA)>(setupApiLibrary, "SetupDiGetClassDevsA",
                                                       INVALID_HANDLE_VALUE, classGuid,
                                                       enumerator, parent, flags);
}

BOOL SetupDiEnumDeviceInfo(HDEVINFO set, DWORD index, PSP_DEVINFO_DATA data)
{
    return callBound<decltype(::SetupDiEnumDeviceInfo)>(setupApiLibrary, "SetupDiEnumDeviceInfo",
                                                        FALSE, set, index, data);
}

BOOL SetupDiGetDeviceRegistryPropertyA(HDEVINFO set, PSP_DEVINFO_DATA data, DWORD property,
                                       PDWORD dataType, PBYTE buffer, DWORD bufferSize,
                                       PDWORD requiredSize)
{
    return callBound<decltype(::SetupDiGetDeviceRegistryPropertyA)>(
        setupApiLibrary, "SetupDiGetDeviceRegistryPropertyA", FALSE, set, data, property,
        dataType, buffer, bufferSize, requiredSize);
}

BOOL SetupDiSetDeviceRegistryPropertyA(HDEVINFO set, PSP_DEVINFO_DATA data, DWORD property,
                                       const BYTE* buffer, DWORD bufferSize)
{
    return callBound<decltype(::SetupDiSetDeviceRegistryPropertyA)>(
        setupApiLibrary, "SetupDiSetDeviceRegistryPropertyA", FALSE, set, data, property, buffer,
        bufferSize);
}

HDEVINFO SetupDiCreateDeviceInfoList(const GUID* classGuid, HWND parent)
{
    if (!canDestroySets())
        return INVALID_HANDLE_VALUE;
    return callBound<decltype(::SetupDiCreateDeviceInfoList)>(
        setupApiLibrary, "SetupDiCreateDeviceInfoList", INVALID_HANDLE_VALUE, classGuid, parent);
}

BOOL SetupDiCreateDeviceInfoA(HDEVINFO set, PCSTR deviceName, const GUID* classGuid,
                              PCSTR description, HWND parent, DWORD flags, PSP_DEVINFO_DATA data)
{
    return callBound<decltype(::SetupDiCreateDeviceInfoA)>(
        setupApiLibrary, "SetupDiCreateDeviceInfoA", FALSE, set, deviceName, classGuid,
        description, parent, flags, data);
}

BOOL SetupDiCallClassInstaller(DI_FUNCTION function, HDEVINFO set, PSP_DEVINFO_DATA data)
{
    return callBound<decltype(::SetupDiCallClassInstaller)>(
        setupApiLibrary, "SetupDiCallClassInstaller", FALSE, function, set, data);
}

BOOL SetupDiRemoveDevice(HDEVINFO set, PSP_DEVINFO_DATA data)
{
    return callBound<decltype(::SetupDiRemoveDevice)>(setupApiLibrary, "SetupDiRemoveDevice",
                                                      FALSE, set, data);
}

BOOL SetupDiDeleteDeviceInfo(HDEVINFO set, PSP_DEVINFO_DATA data)
{
    return callBound<decltype(::SetupDiDeleteDeviceInfo)>(
        setupApiLibrary, "SetupDiDeleteDeviceInfo", FALSE, set, data);
}

BOOL SetupDiDestroyDeviceInfoList(HDEVINFO set)
{
    return callBound<decltype(::SetupDiDestroyDeviceInfoList)>(
        setupApiLibrary, "SetupDiDestroyDeviceInfoList", FALSE, set);
}

}  // namespace setupapi

namespace newdev {

BOOL UpdateDriverForPlugAndPlayDevicesA(HWND parent, LPCSTR hardwareId, LPCSTR fullInfPath,
                                        DWORD installFlags, PBOOL rebootRequired)
{
    return callBound<decltype(::UpdateDriverForPlugAndPlayDevicesA)>(
        newdevLibrary, "UpdateDriverForPlugAndPlayDevicesA", FALSE, parent, hardwareId,
        fullInfPath, installFlags, rebootRequired);
}

}  // namespace newdev

namespace ntdll {

// Declared by no Windows header the module includes: NTSTATUS NTAPI
// NtDeleteKey(HANDLE), NTAPI being the standard call convention.
typedef LONG(WINAPI NtDeleteKeyFunction)(HANDLE);

LONG NtDeleteKey(HKEY key)
{
    return callBound<NtDeleteKeyFunction>(ntdllLibrary, "NtDeleteKey", StatusNotBound,
                                          static_cast<HANDLE>(key));
}

}  // namespace ntdll
