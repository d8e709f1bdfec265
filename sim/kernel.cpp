// Last error, the debugger channel, version facts and libraries.
#include "sim_internal.h"

#include <cstring>

using sim::machine;

DWORD WINAPI GetLastError(void) { return machine().lastError; }

void WINAPI SetLastError(DWORD dwErrCode) { machine().lastError = dwErrCode; }

void WINAPI OutputDebugStringA(LPCSTR lpOutputString)
{
    const sim::WindowsCall windowsCall;
    machine().debugOutput.push_back(lpOutputString ? lpOutputString : "");
}

BOOL WINAPI GetVersionExA(LPOSVERSIONINFOA info)
{
    const sim::WindowsCall windowsCall;
    if (sim::failWithInjectedFault("GetVersionExA"))
        return FALSE;
    if (!info || info->dwOSVersionInfoSize != sizeof(OSVERSIONINFOA))
        return sim::failWith(ERROR_INSUFFICIENT_BUFFER, FALSE);
    *info = machine().version;
    info->dwOSVersionInfoSize = sizeof(OSVERSIONINFOA);
    return TRUE;
}

int WINAPI GetSystemMetrics(int nIndex)
{
    const sim::WindowsCall windowsCall;
    machine().injectedFault("GetSystemMetrics");
    if (nIndex == SM_DBCSENABLED)
        return machine().dbcsEnabled ? 1 : 0;
    return 0;
}

UINT WINAPI GetACP(void) { return machine().codePage; }

BOOL WINAPI IsDBCSLeadByteEx(UINT CodePage, BYTE TestChar)
{
    const sim::WindowsCall windowsCall;
    if (CodePage == CP_ACP)
        CodePage = machine().codePage;
    return sim::isLeadByte(CodePage, TestChar) ? TRUE : FALSE;
}

// The pseudo handles Windows gives: they need no closing.
HANDLE WINAPI GetCurrentThread(void) { return reinterpret_cast<HANDLE>(static_cast<LONG_PTR>(-2)); }
HANDLE WINAPI GetCurrentProcess(void) { return reinterpret_cast<HANDLE>(static_cast<LONG_PTR>(-1)); }

BOOL WINAPI CloseHandle(HANDLE hObject)
{
    const sim::WindowsCall windowsCall;
    if (sim::failWithInjectedFault(sim::CallRecord{"CloseHandle"}))
        return FALSE;
    if (!machine().closeHandle(hObject, sim::HandleKind::Token))
        return sim::failWith(ERROR_INVALID_HANDLE, FALSE);
    return TRUE;
}

UINT WINAPI GetSystemDirectoryA(LPSTR lpBuffer, UINT uSize)
{
    const sim::WindowsCall windowsCall;
    if (sim::failWithInjectedFault("GetSystemDirectoryA"))
        return 0;
    const std::string& dir = machine().systemDirectory;
    if (!lpBuffer || uSize <= dir.size())
        return static_cast<UINT>(dir.size() + 1);
    std::memcpy(lpBuffer, dir.c_str(), dir.size() + 1);
    return static_cast<UINT>(dir.size());
}

namespace {
struct LoadedLibrary {
    std::string fileName;  // "setupapi.dll"
};

// The exports the simulated system libraries offer.
struct Export {
    const char* library;
    const char* name;
    FARPROC address;
};

template <class F>
FARPROC asFarProc(F* f)
{
    return reinterpret_cast<FARPROC>(reinterpret_cast<void*>(f));
}

const Export exportsTable[] = {
    {"setupapi.dll", "SetupDiGetClassDevsA", asFarProc(&SetupDiGetClassDevsA)},
    {"setupapi.dll", "SetupDiEnumDeviceInfo", asFarProc(&SetupDiEnumDeviceInfo)},
    {"setupapi.dll", "SetupDiGetDeviceRegistryPropertyA",
     asFarProc(&SetupDiGetDeviceRegistryPropertyA)},
    {"setupapi.dll", "SetupDiSetDeviceRegistryPropertyA",
     asFarProc(&SetupDiSetDeviceRegistryPropertyA)},
    {"setupapi.dll", "SetupDiCreateDeviceInfoList", asFarProc(&SetupDiCreateDeviceInfoList)},
    {"setupapi.dll", "SetupDiCreateDeviceInfoA", asFarProc(&SetupDiCreateDeviceInfoA)},
    {"setupapi.dll", "SetupDiCallClassInstaller", asFarProc(&SetupDiCallClassInstaller)},
    {"setupapi.dll", "SetupDiRemoveDevice", asFarProc(&SetupDiRemoveDevice)},
    {"setupapi.dll", "SetupDiDeleteDeviceInfo", asFarProc(&SetupDiDeleteDeviceInfo)},
    {"setupapi.dll", "SetupDiDestroyDeviceInfoList", asFarProc(&SetupDiDestroyDeviceInfoList)},
    {"setupapi.dll", "SetupDiGetDeviceInstanceIdA", asFarProc(&SetupDiGetDeviceInstanceIdA)},
    {"ntdll.dll", "NtDeleteKey", asFarProc(&NtDeleteKey)},
    {"newdev.dll", "UpdateDriverForPlugAndPlayDevicesA",
     asFarProc(&UpdateDriverForPlugAndPlayDevicesA)},
};
}  // namespace

// Only full paths into the system directory find a library: the product
// never loads a system library through the search path.
HMODULE WINAPI LoadLibraryA(LPCSTR lpLibFileName)
{
    const sim::WindowsCall windowsCall;
    if (sim::failWithInjectedFault("LoadLibraryA"))
        return nullptr;
    sim::Machine& m = machine();
    const std::string path = lpLibFileName ? lpLibFileName : "";
    const std::string prefix = m.systemDirectory + "\\";
    if (path.size() <= prefix.size() || !sim::equalNoCase(path.substr(0, prefix.size()), prefix))
        return sim::failWith<HMODULE>(ERROR_MOD_NOT_FOUND, nullptr);
    const std::string file = path.substr(prefix.size());
    if (!m.systemLibraries.count(file))
        return sim::failWith<HMODULE>(ERROR_MOD_NOT_FOUND, nullptr);
    auto lib = std::make_shared<LoadedLibrary>(LoadedLibrary{sim::upper(file)});
    return static_cast<HMODULE>(m.addHandle(sim::HandleKind::Module, path, lib));
}

BOOL WINAPI FreeLibrary(HMODULE hLibModule)
{
    const sim::WindowsCall windowsCall;
    if (!machine().closeHandle(hLibModule, sim::HandleKind::Module))
        return sim::failWith(ERROR_INVALID_HANDLE, FALSE);
    return TRUE;
}

FARPROC WINAPI GetProcAddress(HMODULE hModule, LPCSTR lpProcName)
{
    const sim::WindowsCall windowsCall;
    if (sim::failWithInjectedFault("GetProcAddress"))
        return nullptr;
    sim::Handle* h = machine().findHandle(hModule, sim::HandleKind::Module);
    if (!h)
        return sim::failWith<FARPROC>(ERROR_INVALID_HANDLE, nullptr);
    const auto* lib = static_cast<const LoadedLibrary*>(h->payload.get());
    for (const Export& e : exportsTable)
        if (sim::equalNoCase(lib->fileName, e.library) && std::strcmp(e.name, lpProcName) == 0)
            return e.address;
    return sim::failWith<FARPROC>(ERROR_PROC_NOT_FOUND, nullptr);
}
