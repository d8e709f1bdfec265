// What a cleaning run costs per enumeration key, set beside a floor: a
// hand-written walk that makes the same registry and setup API calls over
// the same keys and removes the same ones, but matches nothing, because it
// is told the vendor's names in advance. The run's cost above the floor is
// the matching (and the trace calls, with the switch off); the floor is what
// any program that visits those keys must pay.
//
// The same source is linked twice: against the product as shipped
// (jq_bench) and against the product with its trace calls compiled out
// (jq_bench_untraced). The floor does not trace, so its times in the two
// builds show how much the two processes differ by noise alone.
#include "usb_machine.h"

#include "cleaning/jqpids.h"
#include "host/exports.h"
#include "host/module_load.h"
#include "machine.h"
#include "support/tracers.h"

#include <benchmark/benchmark.h>

#include <ctime>
#include <string>
#include <vector>

namespace {

using bench::Family;
using bench::UsbMachine;

// --------------------------------------------------------------- the floor

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

void release(HKEY key)
{
    RegFlushKey(key);
    RegCloseKey(key);
}

// The calls the product's tree deletion makes for a key without subkeys:
// open it, learn it has none, close it, delete it.
void deleteLeaf(HKEY parent, const std::string& name, REGSAM access)
{
    HKEY key = nullptr;
    if (RegOpenKeyExA(parent, name.c_str(), 0, access, &key) == ERROR_SUCCESS) {
        DWORD count = 0;
        DWORD longest = 0;
        RegQueryInfoKeyA(key, nullptr, nullptr, nullptr, &count, &longest, nullptr, nullptr,
                         nullptr, nullptr, nullptr, nullptr);
        RegCloseKey(key);
    }
    RegDeleteKeyA(parent, name.c_str());
}

std::string readDriver(HKEY device, const std::string& instance)
{
    HKEY key = nullptr;
    if (RegOpenKeyExA(device, instance.c_str(), 0, KEY_ALL_ACCESS, &key) != ERROR_SUCCESS)
        return std::string();
    std::string text;
    DWORD type = 0;
    DWORD size = 0;
    if (RegQueryValueExA(key, "Driver", nullptr, &type, nullptr, &size) == ERROR_SUCCESS && size) {
        std::vector<BYTE> data(size);
        if (RegQueryValueExA(key, "Driver", nullptr, &type, data.data(), &size) == ERROR_SUCCESS)
            text.assign(reinterpret_cast<const char*>(data.data()), size ? size - 1 : 0);
    }
    RegCloseKey(key);
    return text;
}

// The 9x family: the device key's instances (their driver values read
// first), the device key, then the driver keys below the Class key.
void floor9x(const UsbMachine& built)
{
    HKEY enumKey = nullptr;
    if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, built.enumPath.c_str(), 0, KEY_ALL_ACCESS, &enumKey) !=
        ERROR_SUCCESS)
        return;
    const std::vector<std::string> names = subkeyNames(enumKey);
    std::vector<std::string> drivers;
    size_t next = 0;  // the vendor's names come in the walk's order
    for (const std::string& name : names) {
        if (next == built.vendorKeys.size() || name != built.vendorKeys[next])
            continue;
        ++next;
        HKEY device = nullptr;
        if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, (built.enumPath + "\\" + name).c_str(), 0,
                          KEY_ALL_ACCESS, &device) == ERROR_SUCCESS) {
            for (const std::string& instance : subkeyNames(device)) {
                drivers.push_back(readDriver(device, instance));
                deleteLeaf(device, instance, KEY_ALL_ACCESS);
            }
            release(device);
        }
        deleteLeaf(enumKey, name, KEY_ALL_ACCESS);
    }
    release(enumKey);

    HKEY classKey = nullptr;
    if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, built.classPath.c_str(), 0, KEY_ALL_ACCESS,
                      &classKey) != ERROR_SUCCESS)
        return;
    for (const std::string& driver : drivers)
        deleteLeaf(classKey, driver, KEY_ALL_ACCESS);
    release(classKey);
}

// The NT family: the names are read, the key released, and every device
// node of each vendor's device id removed through the setup API.
void floorNt(const UsbMachine& built)
{
    HKEY enumKey = nullptr;
    if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, built.enumPath.c_str(), 0, KEY_READ, &enumKey) !=
        ERROR_SUCCESS)
        return;
    const std::vector<std::string> names = subkeyNames(enumKey);
    release(enumKey);

    size_t next = 0;
    for (const std::string& name : names) {
        if (next == built.vendorKeys.size() || name != built.vendorKeys[next])
            continue;
        ++next;
        const std::string deviceId = "USB\\" + name;
        HDEVINFO set = SetupDiGetClassDevsA(nullptr, deviceId.c_str(), nullptr, DIGCF_ALLCLASSES);
        if (set == INVALID_HANDLE_VALUE)
            continue;
        SP_DEVINFO_DATA element{};
        element.cbSize = sizeof element;
        while (SetupDiEnumDeviceInfo(set, 0, &element)) {
            SetupDiRemoveDevice(set, &element);
            if (!SetupDiDeleteDeviceInfo(set, &element))
                break;
        }
        SetupDiDestroyDeviceInfoList(set);
    }
}

// ------------------------------------------------------------ the timing

// What RemoveUsbDevices gave in the last timed run; the floors leave it be.
LONG runResult = -1;

void cleaningRun(const UsbMachine&) { runResult = RemoveUsbDevices(nullptr, nullptr, nullptr); }

// The run's own processor time. The machine this is measured on is shared
// (two processors, builds running beside): wall-clock time would count the
// time the run waits for a processor, which has nothing to do with it.
double threadSeconds()
{
    timespec now{};
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &now);
    return static_cast<double>(now.tv_sec) + static_cast<double>(now.tv_nsec) * 1e-9;
}

// Each iteration gets a machine built afresh (a run deletes keys); only the
// run itself is timed, and what it left is checked after the clock stops.
void timeRuns(benchmark::State& state, Family family, void (*run)(const UsbMachine&))
{
    const size_t keys = static_cast<size_t>(state.range(0));
    for (auto _ : state) {
        const UsbMachine built = bench::buildUsbMachine(family, keys);
        moduleLoad();
        runResult = -1;
        const double start = threadSeconds();
        run(built);
        state.SetIterationTime(threadSeconds() - start);

        std::string wrong = bench::checkCleaned(built);
        const LONG found = built.vendorKeys.empty() ? 1 : 0;
        if (run == cleaningRun && runResult != found)
            wrong = "RemoveUsbDevices gave " + std::to_string(runResult);
        if (wrong.empty() && sim::machine().openHandleCount() != 0)
            wrong = "a handle was left open";
        if (!wrong.empty()) {
            state.SkipWithError(wrong.c_str());
            break;
        }
    }
    state.counters["keys"] = static_cast<double>(keys);
}

void BM_Run9x(benchmark::State& state) { timeRuns(state, Family::Win9x, cleaningRun); }
void BM_Floor9x(benchmark::State& state) { timeRuns(state, Family::Win9x, floor9x); }
void BM_RunNt(benchmark::State& state) { timeRuns(state, Family::NT, cleaningRun); }
void BM_FloorNt(benchmark::State& state) { timeRuns(state, Family::NT, floorNt); }

void sizes(benchmark::internal::Benchmark* b)
{
    b->Arg(0)->Arg(1000)->Arg(10000)->Arg(100000)->UseManualTime()->Unit(benchmark::kMillisecond);
}

BENCHMARK(BM_Run9x)->Apply(sizes);
BENCHMARK(BM_Floor9x)->Apply(sizes);
BENCHMARK(BM_RunNt)->Apply(sizes);
BENCHMARK(BM_FloorNt)->Apply(sizes);

// One trace call with the switch off, as the matching makes it for every
// list entry it compares.
void BM_TraceCallSwitchOff(benchmark::State& state)
{
    moduleLoad();
    const std::string current = "VID_045E&PID_0047";
    for (auto _ : state) {
        TraceFmt("  EU: Doing Compare:  List:%s:  Current:%s:", UsbVidPids[0], current);
        benchmark::ClobberMemory();  // the switch is read again every time
    }
}
BENCHMARK(BM_TraceCallSwitchOff);

}  // namespace

BENCHMARK_MAIN();
