#include "support/allocationcounter.h"

#include <cstdlib>
#include <new>

namespace {
thread_local bool t_bCounting = false;
thread_local std::size_t t_count = 0;

void* countedAllocOrNull(std::size_t size, std::size_t align) noexcept
{
    if (t_bCounting)
        ++t_count;
    if (size == 0)
        size = 1;
    void* p = align > alignof(std::max_align_t)
        ? std::aligned_alloc(align, (size + align - 1) / align * align)
        : std::malloc(size);
    return p;
}

void* countedAlloc(std::size_t size, std::size_t align)
{
    void* p = countedAllocOrNull(size, align);
    if (!p)
        throw std::bad_alloc();
    return p;
}
} // namespace

void* operator new(std::size_t size) { return countedAlloc(size, 0); }
void* operator new[](std::size_t size) { return countedAlloc(size, 0); }
void* operator new(std::size_t size, std::align_val_t a) { return countedAlloc(size, std::size_t(a)); }
void* operator new[](std::size_t size, std::align_val_t a) { return countedAlloc(size, std::size_t(a)); }
// The nothrow forms as well: every allocation must pair with these deletes.
void* operator new(std::size_t size, const std::nothrow_t&) noexcept { return countedAllocOrNull(size, 0); }
void* operator new[](std::size_t size, const std::nothrow_t&) noexcept { return countedAllocOrNull(size, 0); }
void* operator new(std::size_t size, std::align_val_t a, const std::nothrow_t&) noexcept
{
    return countedAllocOrNull(size, std::size_t(a));
}
void* operator new[](std::size_t size, std::align_val_t a, const std::nothrow_t&) noexcept
{
    return countedAllocOrNull(size, std::size_t(a));
}
void operator delete(void* p, const std::nothrow_t&) noexcept { std::free(p); }
void operator delete[](void* p, const std::nothrow_t&) noexcept { std::free(p); }
void operator delete(void* p, std::align_val_t, const std::nothrow_t&) noexcept { std::free(p); }
void operator delete[](void* p, std::align_val_t, const std::nothrow_t&) noexcept { std::free(p); }
void operator delete(void* p) noexcept { std::free(p); }
void operator delete[](void* p) noexcept { std::free(p); }
void operator delete(void* p, std::size_t) noexcept { std::free(p); }
void operator delete[](void* p, std::size_t) noexcept { std::free(p); }
void operator delete(void* p, std::align_val_t) noexcept { std::free(p); }
void operator delete[](void* p, std::align_val_t) noexcept { std::free(p); }
void operator delete(void* p, std::size_t, std::align_val_t) noexcept { std::free(p); }
void operator delete[](void* p, std::size_t, std::align_val_t) noexcept { std::free(p); }

AllocationCounter::AllocationCounter()
    : m_start(t_count)
    , m_bWasCounting(t_bCounting)
{
    t_bCounting = true;
}

AllocationCounter::~AllocationCounter()
{
    t_bCounting = m_bWasCounting;
}

std::size_t AllocationCounter::count() const
{
    return t_count - m_start;
}
