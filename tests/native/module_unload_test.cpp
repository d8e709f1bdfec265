// A simulated load, any work through the exports, and an unload leave no
// allocation of the module's behind: what it took from the heap goes back
// at unload, as the host's heap needs when an installer loads the library
// for each step. Counted by sim/allocation_faults.cpp.
#include "native/fixture.h"

#include "cleaning/cleaning_state.h"
#include "devices/install_state.h"

#include <functional>

namespace sim {
long liveAllocationCount();
}  // namespace sim

namespace {

// What the simulated machine keeps of the calls it saw is the machine's own,
// capacity and all (assigning {} would keep a vector's capacity).
template <class Records>
void forget(Records& records)
{
    Records().swap(records);
}

void forgetRecords(sim::Machine& m)
{
    forget(m.calls);
    forget(m.debugger.texts);
    forget(m.dialogs.shown);
}

}  // namespace

using ModuleUnloadTest = SimTest;

TEST_F(ModuleUnloadTest, LoadWorkAndUnloadLeaveNoAllocationBehind)
{
    const std::string folder = "C:\\Program Files\\" + std::string(200, 'J');
    const struct {
        const char* name;
        std::function<void()> work;
    } cases[] = {
        {"no call", [] {}},
        {"the queries", [] { for (ExportFn f : {InitModule, IsWin2k, IsWinMe, IsWinXp, IsAdmin, NeedReboot}) call(f); }},
        {"a long target folder", [&] { call(SetTargetDir, folder.c_str()); }},
        {"the cleaning runs", [] { for (ExportFn f : {RemoveUsbDevices, RemovePedalDevices, RemoveAuxDevices}) call(f); }},
        {"a cleaning run that runs out of memory", [this] {
             m.faults.failAllocation(3);
             call(RemoveUsbDevices);
             m.faults.failAllocation(0);
         }},
    };
    for (const auto& c : cases) {
        // From an unloaded module: what an earlier test left in the module's
        // state (a folder it set) is not this load's to give back.
        moduleUnload();
        forgetRecords(m);
        const long before = sim::liveAllocationCount();
        moduleLoad();
        c.work();
        moduleUnload();
        forgetRecords(m);
        EXPECT_EQ(sim::liveAllocationCount() - before, 0) << c.name;
        // The count above is blind to a text whose heap an earlier test left
        // and this load reused; the module's texts hold none after unload.
        EXPECT_EQ(TargetDir.capacity(), std::string().capacity()) << c.name;
        EXPECT_EQ(KeyPath.capacity(), std::string().capacity()) << c.name;
    }
}
