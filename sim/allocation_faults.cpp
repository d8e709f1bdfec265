// Running out of memory, as a fault a test can inject: the Nth allocation
// through operator new from the moment it is armed throws std::bad_alloc.
// Every allocation of the process comes through here, the product's and
// the simulator's alike, which is how it is on Windows too.
#include "machine.h"

#include <cstdlib>
#include <new>

namespace {

long allocationsBeforeFault = 0;  // 0: disarmed

}  // namespace

void sim::Machine::failAllocation(long nth) { allocationsBeforeFault = nth; }

void* operator new(std::size_t size)
{
    if (allocationsBeforeFault > 0 && --allocationsBeforeFault == 0)
        throw std::bad_alloc();
    if (void* memory = std::malloc(size ? size : 1))
        return memory;
    throw std::bad_alloc();
}

void operator delete(void* memory) noexcept { std::free(memory); }
void operator delete(void* memory, std::size_t) noexcept { std::free(memory); }
