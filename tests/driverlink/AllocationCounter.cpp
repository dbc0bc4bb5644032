#include "AllocationCounter.h"

#include "driversim/DriverSim.h"

#include <cstddef>
#include <cstdlib>
#include <new>

namespace {

thread_local AllocationCounter *activeCounter = nullptr;

void *allocateOrThrow(std::size_t size)
{
    AllocationCounter::noteAllocation();
    if (void *memory = std::malloc(size ? size : 1))
        return memory;
    throw std::bad_alloc();
}

} // namespace

AllocationCounter::AllocationCounter()
    : outer(activeCounter)
{
    activeCounter = this;
}

AllocationCounter::~AllocationCounter()
{
    activeCounter = outer;
}

long AllocationCounter::count() const
{
    return allocations;
}

void AllocationCounter::noteAllocation()
{
    if (activeCounter && !DriverSim::insideSimulator())
        ++activeCounter->allocations;
}

void *operator new(std::size_t size)
{
    return allocateOrThrow(size);
}

void *operator new[](std::size_t size)
{
    return allocateOrThrow(size);
}

void operator delete(void *memory) noexcept
{
    std::free(memory);
}

void operator delete[](void *memory) noexcept
{
    std::free(memory);
}

void operator delete(void *memory, std::size_t) noexcept
{
    std::free(memory);
}

void operator delete[](void *memory, std::size_t) noexcept
{
    std::free(memory);
}

#if !defined(__SANITIZE_ADDRESS__)
// C allocations too; the sanitizer owns these entry points when it is on.
extern "C" {
void *__libc_malloc(std::size_t size);
void *__libc_calloc(std::size_t count, std::size_t size);
void *__libc_realloc(void *memory, std::size_t size);

void *malloc(std::size_t size) noexcept
{
    AllocationCounter::noteAllocation();
    return __libc_malloc(size);
}

void *calloc(std::size_t count, std::size_t size) noexcept
{
    AllocationCounter::noteAllocation();
    return __libc_calloc(count, size);
}

void *realloc(void *memory, std::size_t size) noexcept
{
    AllocationCounter::noteAllocation();
    return __libc_realloc(memory, size);
}
}
#endif
