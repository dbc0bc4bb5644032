#ifndef ALLOCATIONCOUNTER_H
#define ALLOCATIONCOUNTER_H

// Counts heap allocations made on the constructing thread while it lives,
// leaving out those the simulated controller makes for its own bookkeeping.
class AllocationCounter
{
public:
    AllocationCounter();
    ~AllocationCounter();
    AllocationCounter(const AllocationCounter &) = delete;
    AllocationCounter &operator=(const AllocationCounter &) = delete;

    long count() const;

    // Called by the allocation hooks.
    static void noteAllocation();

private:
    long allocations = 0;
    AllocationCounter *outer = nullptr;
};

#endif // ALLOCATIONCOUNTER_H
