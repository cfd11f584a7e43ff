#pragma once

#include <cstddef>

// Counts heap allocations made by the calling thread while a scope is open.
// Every test program links the counting operator new, so a test can prove
// that an audio path allocates nothing.
class AllocationCounter
{
public:
    AllocationCounter();
    ~AllocationCounter();
    std::size_t count() const;

    AllocationCounter(const AllocationCounter&) = delete;
    AllocationCounter& operator=(const AllocationCounter&) = delete;

private:
    std::size_t m_start;
    bool m_bWasCounting;
};
