// What RemoveUsbDevices of the shipped DLL costs on Wine's registry, set
// beside a floor: a walk in this program that makes the same registry calls
// over the same keys and deletes the same ones, but is told the vendor's
// names instead of matching them. The registry round trips are what any
// program that visits those keys must pay; what the export costs above them
// is the product's own work, the matching most of all.
//
// The machine: JoystickSettings with KEYS subkeys (as Windows XP keeps
// them: one per device that DirectInput has seen), one in a hundred the
// vendor's, the others other vendors' ids spread over the id range so that
// the vendor's stand among them. Before each timed walk the vendor's keys
// are put back, so every walk deletes the same keys from the same store.
//
//   jqwinebench.exe DLL [KEYS [ROUNDS]]        (defaults 20000 and 5)
//
// Run as Windows XP (HKCU\Software\Wine\AppDefaults\jqwinebench.exe\Version
// = winxp), so that the export cleans the NT family's keys. Both walks are
// timed inside this one process, so the figures are net of process start
// and of loading the DLL. The export runs once untimed first, so that its
// one-time work (the OS facts) is not counted in a round. Each round times
// both, in alternating order; the summary gives the medians.
#include <windows.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "cleaning/jqpids.h"

namespace {

const char* const SettingsPath =
    "System\\CurrentControlSet\\Control\\MediaResources\\Joystick\\DINPUT.DLL\\JoystickSettings";

// Every key the export opens under HKEY_LOCAL_MACHINE on the NT family, in
// its order: the enumerators are only read, the other two are cleaned.
struct Sweep {
    const char* path;
    REGSAM access;
    bool deletes;
};
const Sweep Sweeps[] = {
    {"System\\CurrentControlSet\\Enum\\USB", KEY_READ, false},
    {"System\\CurrentControlSet\\Enum\\HID", KEY_READ, false},
    {"System\\CurrentControlSet\\Enum\\Jovex", KEY_READ, false},
    {SettingsPath, KEY_ALL_ACCESS, true},
    {"System\\CurrentControlSet\\Control\\MediaProperties\\PrivateProperties\\Joystick\\OEM",
     KEY_ALL_ACCESS, false},
};

std::string vendorKey(size_t index)
{
    std::string name = UsbVidPids[index % UsbVidPidCount];
    if (index >= UsbVidPidCount) {
        char suffix[16];
        std::snprintf(suffix, sizeof suffix, "&MI_%02X", static_cast<unsigned>(index / UsbVidPidCount));
        name += suffix;
    }
    return name;
}

std::string otherKey(size_t index)
{
    char text[32];
    std::snprintf(text, sizeof text, "VID_%04X&PID_%04X", 0x0403 + static_cast<unsigned>(index % 50) * 0x0523,
                  static_cast<unsigned>(index / 50));
    return text;
}

struct Machine {
    std::vector<std::string> all;
    std::vector<std::string> vendor;
};

Machine plan(size_t keys)
{
    Machine m;
    for (size_t i = 0; i < keys; ++i) {
        if (i % 100 == 99) {
            m.vendor.push_back(vendorKey(m.vendor.size()));
            m.all.push_back(m.vendor.back());
        } else {
            m.all.push_back(otherKey(i));
        }
    }
    return m;
}

bool createKeys(const std::vector<std::string>& names)
{
    HKEY settings = nullptr;
    if (RegCreateKeyExA(HKEY_LOCAL_MACHINE, SettingsPath, 0, nullptr, 0, KEY_ALL_ACCESS, nullptr,
                        &settings, nullptr) != ERROR_SUCCESS)
        return false;
    bool ok = true;
    for (const std::string& name : names) {
        HKEY key = nullptr;
        if (RegCreateKeyExA(settings, name.c_str(), 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &key,
                            nullptr) != ERROR_SUCCESS) {
            ok = false;
            continue;
        }
        // What DirectInput leaves there: the device's calibration and name.
        const BYTE calibration[16] = {1, 2, 3, 4};
        RegSetValueExA(key, "Calibration", 0, REG_BINARY, calibration, sizeof calibration);
        RegCloseKey(key);
    }
    RegCloseKey(settings);
    return ok;
}

DWORD subkeyCount(const char* path)
{
    HKEY key = nullptr;
    DWORD count = 0;
    if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, path, 0, KEY_READ, &key) == ERROR_SUCCESS) {
        RegQueryInfoKeyA(key, nullptr, nullptr, nullptr, &count, nullptr, nullptr, nullptr, nullptr,
                         nullptr, nullptr, nullptr);
        RegCloseKey(key);
    }
    return count;
}

// ------------------------------------------------------------ the floor

std::vector<std::string> subkeyNames(HKEY key)
{
    std::vector<std::string> names;
    DWORD count = 0;
    DWORD longest = 0;
    if (RegQueryInfoKeyA(key, nullptr, nullptr, nullptr, &count, &longest, nullptr, nullptr,
                         nullptr, nullptr, nullptr, nullptr) != ERROR_SUCCESS)
        return names;
    std::vector<char> buffer(longest + 1);
    for (DWORD index = 0; index < count; ++index) {
        DWORD length = static_cast<DWORD>(buffer.size());
        if (RegEnumKeyExA(key, index, buffer.data(), &length, nullptr, nullptr, nullptr,
                          nullptr) == ERROR_SUCCESS)
            names.emplace_back(buffer.data(), length);
    }
    return names;
}

// The calls the export's tree deletion makes for a key without subkeys:
// open it, learn it has none, close it, delete it.
void deleteLeaf(HKEY parent, const std::string& name)
{
    HKEY key = nullptr;
    if (RegOpenKeyExA(parent, name.c_str(), 0, KEY_ALL_ACCESS, &key) == ERROR_SUCCESS) {
        DWORD count = 0;
        DWORD longest = 0;
        RegQueryInfoKeyA(key, nullptr, nullptr, nullptr, &count, &longest, nullptr, nullptr,
                         nullptr, nullptr, nullptr, nullptr);
        RegCloseKey(key);
    }
    RegDeleteKeyA(parent, name.c_str());
}

void floorWalk(const Machine& m)
{
    for (const Sweep& sweep : Sweeps) {
        HKEY key = nullptr;
        if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, sweep.path, 0, sweep.access, &key) != ERROR_SUCCESS)
            continue;
        const std::vector<std::string> names = subkeyNames(key);
        if (sweep.deletes)
            for (const std::string& name : m.vendor)
                deleteLeaf(key, name);
        RegFlushKey(key);
        RegCloseKey(key);
    }
}

// ----------------------------------------------------------- the timing

double seconds()
{
    static LARGE_INTEGER frequency = [] {
        LARGE_INTEGER f;
        QueryPerformanceFrequency(&f);
        return f;
    }();
    LARGE_INTEGER now;
    QueryPerformanceCounter(&now);
    return static_cast<double>(now.QuadPart) / static_cast<double>(frequency.QuadPart);
}

double median(std::vector<double> values)
{
    std::sort(values.begin(), values.end());
    const size_t n = values.size();
    return n % 2 ? values[n / 2] : (values[n / 2 - 1] + values[n / 2]) / 2;
}

using ExportFn = LONG(WINAPI*)(HWND, LONG*, LPCSTR);

}  // namespace

int main(int argc, char** argv)
{
    if (argc < 2) {
        std::fprintf(stderr, "usage: jqwinebench.exe DLL [KEYS [ROUNDS]]\n");
        return 2;
    }
    const size_t keys = argc > 2 ? std::strtoul(argv[2], nullptr, 10) : 20000;
    const int rounds = argc > 3 ? std::atoi(argv[3]) : 5;

    HMODULE dll = LoadLibraryA(argv[1]);
    ExportFn removeUsbDevices =
        dll ? reinterpret_cast<ExportFn>(reinterpret_cast<void*>(GetProcAddress(dll, "RemoveUsbDevices")))
            : nullptr;
    if (!removeUsbDevices) {
        std::fprintf(stderr, "cannot load RemoveUsbDevices from %s (error %lu)\n", argv[1],
                     GetLastError());
        return 1;
    }

    const Machine m = plan(keys);
    const DWORD left = static_cast<DWORD>(keys - m.vendor.size());
    if (!createKeys(m.all)) {
        std::fprintf(stderr, "cannot create the JoystickSettings keys\n");
        return 1;
    }
    // Untimed: the export reads the OS facts on its first call.
    if (removeUsbDevices(nullptr, nullptr, nullptr) != 0 || subkeyCount(SettingsPath) != left) {
        std::fprintf(stderr, "RemoveUsbDevices did not clean the vendor's keys (Windows XP?)\n");
        return 1;
    }

    std::vector<double> runs;
    std::vector<double> floors;
    std::printf("keys %zu, vendor's %zu, rounds %d\n", keys, m.vendor.size(), rounds);
    for (int round = 0; round < rounds; ++round) {
        for (int half = 0; half < 2; ++half) {
            const bool run = (half == 0) == (round % 2 == 0);
            createKeys(m.vendor);
            const double start = seconds();
            LONG result = 0;
            if (run)
                result = removeUsbDevices(nullptr, nullptr, nullptr);
            else
                floorWalk(m);
            const double took = seconds() - start;
            if (result != 0 || subkeyCount(SettingsPath) != left) {
                std::fprintf(stderr, "%s left the wrong keys behind\n", run ? "run" : "floor");
                return 1;
            }
            (run ? runs : floors).push_back(took);
        }
        std::printf("round %d: run %.2f ms, floor %.2f ms, ratio %.3f\n", round + 1,
                    runs.back() * 1e3, floors.back() * 1e3, runs.back() / floors.back());
    }
    const double run = median(runs);
    const double floor = median(floors);
    std::printf("median: run %.2f ms, floor %.2f ms, run / floor %.3f; per key: run %.2f us, floor %.2f us\n",
                run * 1e3, floor * 1e3, run / floor, run * 1e6 / static_cast<double>(keys),
                floor * 1e6 / static_cast<double>(keys));
    FreeLibrary(dll);
    return 0;
}
