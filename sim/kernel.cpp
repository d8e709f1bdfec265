// Last error, the debugger channel, version facts and libraries.
#include "sim_internal.h"

#include <cstring>

using sim::machine;

DWORD WINAPI GetLastError(void)
{
    const sim::Answer outcome{__func__};
    return outcome(machine().lastError);
}

void WINAPI SetLastError(DWORD dwErrCode)
{
    const sim::Answer outcome{__func__};
    machine().lastError = dwErrCode;
}

void WINAPI OutputDebugStringA(LPCSTR lpOutputString)
{
    const sim::Answer outcome{__func__};
    machine().debugger.texts.push_back(lpOutputString ? lpOutputString : "");
}

BOOL WINAPI GetVersionExA(LPOSVERSIONINFOA info)
{
    const sim::Answer outcome{__func__};
    if (sim::failWithInjectedFault("GetVersionExA"))
        return outcome(FALSE);
    if (!info || info->dwOSVersionInfoSize != sizeof(OSVERSIONINFOA))
        return outcome(sim::failWith(ERROR_INSUFFICIENT_BUFFER, FALSE));
    *info = machine().os.version;
    info->dwOSVersionInfoSize = sizeof(OSVERSIONINFOA);
    return outcome(TRUE);
}

int WINAPI GetSystemMetrics(int nIndex)
{
    const sim::Answer outcome{__func__};
    machine().injectedFault("GetSystemMetrics");
    if (nIndex == SM_DBCSENABLED)
        return outcome(machine().os.dbcsEnabled ? 1 : 0);
    return outcome(0);
}

UINT WINAPI GetACP(void)
{
    const sim::Answer outcome{__func__};
    return outcome(machine().os.codePage);
}

BOOL WINAPI IsDBCSLeadByteEx(UINT CodePage, BYTE TestChar)
{
    const sim::Answer outcome{__func__};
    if (CodePage == CP_ACP)
        CodePage = machine().os.codePage;
    return outcome(sim::isLeadByte(CodePage, TestChar) ? TRUE : FALSE);
}

// The pseudo handles Windows gives: they need no closing.
HANDLE WINAPI GetCurrentThread(void)
{
    const sim::Answer outcome{__func__};
    return outcome(reinterpret_cast<HANDLE>(static_cast<LONG_PTR>(-2)));
}
HANDLE WINAPI GetCurrentProcess(void)
{
    const sim::Answer outcome{__func__};
    return outcome(reinterpret_cast<HANDLE>(static_cast<LONG_PTR>(-1)));
}

BOOL WINAPI CloseHandle(HANDLE hObject)
{
    const sim::Answer outcome{__func__};
    if (sim::failWithInjectedFault(sim::CallRecord{"CloseHandle"}))
        return outcome(FALSE);
    if (!machine().closeHandle(hObject, sim::HandleKind::Token))
        return outcome(sim::failWith(ERROR_INVALID_HANDLE, FALSE));
    return outcome(TRUE);
}

UINT WINAPI GetSystemDirectoryA(LPSTR lpBuffer, UINT uSize)
{
    const sim::Answer outcome{__func__};
    if (sim::failWithInjectedFault("GetSystemDirectoryA"))
        return outcome(0);
    const std::string& dir = machine().os.systemDirectory;
    if (!lpBuffer || uSize <= dir.size())
        return outcome(static_cast<UINT>(dir.size() + 1));
    std::memcpy(lpBuffer, dir.c_str(), dir.size() + 1);
    return outcome(static_cast<UINT>(dir.size()));
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
    const sim::Answer outcome{__func__};
    if (sim::failWithInjectedFault("LoadLibraryA"))
        return outcome(nullptr);
    sim::Machine& m = machine();
    const std::string path = lpLibFileName ? lpLibFileName : "";
    const std::string prefix = m.os.systemDirectory + "\\";
    if (path.size() <= prefix.size() || !sim::equalNoCase(path.substr(0, prefix.size()), prefix))
        return outcome(sim::failWith<HMODULE>(ERROR_MOD_NOT_FOUND, nullptr));
    const std::string file = path.substr(prefix.size());
    if (!m.os.systemLibraries.count(file))
        return outcome(sim::failWith<HMODULE>(ERROR_MOD_NOT_FOUND, nullptr));
    auto lib = std::make_shared<LoadedLibrary>(LoadedLibrary{sim::upper(file)});
    return outcome(static_cast<HMODULE>(m.addHandle(sim::HandleKind::Module, path, lib)));
}

BOOL WINAPI FreeLibrary(HMODULE hLibModule)
{
    const sim::Answer outcome{__func__};
    if (!machine().closeHandle(hLibModule, sim::HandleKind::Module))
        return outcome(sim::failWith(ERROR_INVALID_HANDLE, FALSE));
    return outcome(TRUE);
}

FARPROC WINAPI GetProcAddress(HMODULE hModule, LPCSTR lpProcName)
{
    const sim::Answer outcome{__func__};
    if (sim::failWithInjectedFault("GetProcAddress"))
        return outcome(nullptr);
    sim::Handle* h = machine().findHandle(hModule, sim::HandleKind::Module);
    if (!h)
        return outcome(sim::failWith<FARPROC>(ERROR_INVALID_HANDLE, nullptr));
    const auto* lib = static_cast<const LoadedLibrary*>(h->payload.get());
    for (const Export& e : exportsTable)
        if (sim::equalNoCase(lib->fileName, e.library) && std::strcmp(e.name, lpProcName) == 0)
            return outcome(e.address);
    return outcome(sim::failWith<FARPROC>(ERROR_PROC_NOT_FOUND, nullptr));
}
