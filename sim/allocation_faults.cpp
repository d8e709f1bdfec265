// Running out of memory, as a fault a test can inject: the Nth allocation
// through operator new from the moment it is armed throws std::bad_alloc.
// Every allocation of the process comes through here; those the simulated
// calls make for themselves are not counted and never fail (WindowsCall).
#include "machine.h"
#include "sim_internal.h"

#include <atomic>
#include <cstdlib>
#include <new>

namespace {

long allocationsBeforeFault = 0;  // 0: disarmed
long allocationsMade = 0;         // the caller's allocations, so a test can fail each in turn
int windowsCallDepth = 0;         // above 0 inside a simulated call
// Made through operator new and not yet deleted; a test may run a watchdog
// thread beside the product.
std::atomic<long> liveAllocations{0};

}  // namespace

void sim::Faults::failAllocation(long nth) { allocationsBeforeFault = nth; }
sim::WindowsCall::WindowsCall() { ++windowsCallDepth; }
sim::WindowsCall::~WindowsCall() { --windowsCallDepth; }
sim::CallerCode::CallerCode() : savedDepth_(windowsCallDepth) { windowsCallDepth = 0; }
sim::CallerCode::~CallerCode() { windowsCallDepth = savedDepth_; }

long sim::Faults::allocationCount() const { return allocationsMade; }
bool sim::Faults::allocationFaultPending() const { return allocationsBeforeFault > 0; }

// For the unload test: what a simulated load and unload leave on the heap.
namespace sim {
long liveAllocationCount() { return liveAllocations.load(); }
}  // namespace sim

void* operator new(std::size_t size)
{
    if (windowsCallDepth == 0) {
        ++allocationsMade;
        if (allocationsBeforeFault > 0 && --allocationsBeforeFault == 0)
            throw std::bad_alloc();
    }
    if (void* memory = std::malloc(size ? size : 1)) {
        ++liveAllocations;
        return memory;
    }
    throw std::bad_alloc();
}

void operator delete(void* memory) noexcept
{
    if (memory)
        --liveAllocations;
    std::free(memory);
}
void operator delete(void* memory, std::size_t) noexcept { operator delete(memory); }

// Every other form of new and delete comes here too, so that no memory is
// taken by one allocator and given back to another: a sanitizer's own forms,
// which libFuzzer and the standard library may call, would not match these.
void* operator new(std::size_t size, const std::nothrow_t&) noexcept
{
    try {
        return operator new(size);
    } catch (const std::bad_alloc&) {
        return nullptr;
    }
}
void* operator new[](std::size_t size) { return operator new(size); }
void* operator new[](std::size_t size, const std::nothrow_t& tag) noexcept { return operator new(size, tag); }
void operator delete(void* memory, const std::nothrow_t&) noexcept { operator delete(memory); }
void operator delete[](void* memory) noexcept { operator delete(memory); }
void operator delete[](void* memory, std::size_t) noexcept { operator delete(memory); }
void operator delete[](void* memory, const std::nothrow_t&) noexcept { operator delete(memory); }
