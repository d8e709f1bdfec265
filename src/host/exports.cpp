#include "host/exports.h"

#include "cleaning/clean_run.h"
#include "devices/driver_install.h"
#include "devices/install_state.h"
#include "devices/root_devices.h"
#include "host/uninstall_hooks.h"
#include "platform/system_libraries.h"
#include "support/osinfo.h"
#include "support/tracers.h"

#include <exception>

namespace {

void traceCaughtError(const char* message)
{
    try {
        TraceFmt("  I2K: Error caught at the export - %s", message);
    } catch (...) {
        // The trace line itself failed; the result still reaches the host.
    }
}

// Runs an export's work so that nothing escapes to the host: an error is
// traced and the export answers `onError(...)` instead. The system
// libraries bound during the call are released on every path.
template <class Work, class OnError>
LONG guardedWith(Work work, OnError onError)
{
    LONG result;
    try {
        result = work();
    } catch (const std::exception& e) {
        traceCaughtError(e.what());
        result = onError();
    } catch (...) {
        traceCaughtError("unknown error");
        result = onError();
    }
    releaseSystemLibraries();
    return result;
}

template <class Work>
LONG guarded(Work work, LONG onError)
{
    return guardedWith(work, [onError] { return onError; });
}

// A cleaning export that an error cut short answers 1. It never answers 0,
// which tells the installer that the vendor's keys were found and cleaned:
// a run that stopped early has not cleaned them, whatever it had found.
LONG cleaningExport(const char* entryLine, HWND window, const CleaningScope& scope)
{
    return guarded(
        [&] {
            TraceMsg(entryLine);
            return static_cast<LONG>(cleanDeviceKeys(window, scope));
        },
        1);
}

}  // namespace

extern "C" {

LONG WINAPI UninstInitialize(HWND, LONG*, LPCSTR)
{
    // An error before the user agreed must not start an uninstall.
    return guarded([] { return uninstInitialize(); }, -1);
}

LONG WINAPI UninstUnInitialize(HWND window, LONG*, LPCSTR)
{
    return guarded([window] { return uninstUnInitialize(window); }, 0);
}

LONG WINAPI CreateRootDevice(HWND, LONG*, LPCSTR text)
{
    return guarded([text] { return createRootDevice(text); }, 0);
}

LONG WINAPI UpdateDevices(HWND, LONG*, LPCSTR text)
{
    return guarded([text] { return updateDevices(text); }, 0);
}

LONG WINAPI RemoveRootDevice(HWND window, LONG*, LPCSTR)
{
    return guarded([window] { return removeRootDevice(window); }, 0);
}

LONG WINAPI RemoveUsbDevices(HWND window, LONG*, LPCSTR)
{
    return cleaningExport("INST2K: removeUsbDevices", window, UsbDevices);
}

LONG WINAPI RemovePedalDevices(HWND window, LONG*, LPCSTR)
{
    return cleaningExport("INST2K: removePedalDevices", window, PedalDevices);
}

LONG WINAPI RemoveAuxDevices(HWND window, LONG*, LPCSTR)
{
    return cleaningExport("INST2K: removeAuxDevices", window, UsbAndAuxDevices);
}

LONG WINAPI IsWin2k(HWND, LONG*, LPCSTR)
{
    return guarded([] { TraceMsg("INST2K: isWin2k"); return osIsWin2k() ? 1L : 0L; }, 0);
}

LONG WINAPI IsWinMe(HWND, LONG*, LPCSTR)
{
    return guarded([] { TraceMsg("INST2K: isWinMe"); return osIsWinMe() ? 1L : 0L; }, 0);
}

LONG WINAPI IsWinXp(HWND, LONG*, LPCSTR)
{
    return guarded([] { TraceMsg("INST2K: isWinXp"); return osIsWinXp() ? 1L : 0L; }, 0);
}

LONG WINAPI IsAdmin(HWND, LONG*, LPCSTR)
{
    return guarded(
        [] {
            TraceMsg("INST2K: isAdmin");
            if (!initOsInfo())
                return 0L;
            return osIsAdmin() ? 1L : 0L;
        },
        0);
}

LONG WINAPI NeedReboot(HWND, LONG*, LPCSTR)
{
    return guardedWith(
        [] {
            TraceMsg("INST2K: needReboot");
            return RebootRequired ? 1L : 0L;
        },
        [] { return RebootRequired ? 1L : 0L; });
}

LONG WINAPI InitModule(HWND, LONG*, LPCSTR)
{
    return guarded(
        [] {
            TraceMsg("INST2K: initModule");
            RebootRequired = false;
            TargetDir.clear();
            return initOsInfo() ? 1L : 0L;
        },
        0);
}

LONG WINAPI SetTargetDir(HWND, LONG*, LPCSTR text)
{
    return guarded(
        [text] {
            setTargetDirFrom(text);
            TraceFmt("INST2K: setTargetDir - folder:%s", TargetDir);
            return 0L;
        },
        0);
}

LONG WINAPI RootDeviceCount(HWND, LONG*, LPCSTR)
{
    return guarded([] { return rootDeviceCount(); }, 0);
}

}  // extern "C"
