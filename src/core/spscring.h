#pragma once

#include <algorithm>
#include <atomic>
#include <cstddef>
#include <memory>

// Lock-free ring of plain values with exactly one writer thread and one
// reader thread. Capacity must be a power of two; storage is allocated once.
template <typename T>
class SpscRing
{
public:
    explicit SpscRing(std::size_t capacity)
        : m_capacity(capacity)
        , m_mask(capacity - 1)
        , m_pData(std::make_unique<T[]>(capacity))
    {
    }

    std::size_t capacity() const { return m_capacity; }

    std::size_t readAvailable() const
    {
        return m_writeIndex.load(std::memory_order_acquire) - m_readIndex.load(std::memory_order_relaxed);
    }

    // Writer thread. Returns how many values were stored; the rest is dropped.
    std::size_t write(const T* values, std::size_t count)
    {
        const std::size_t w = m_writeIndex.load(std::memory_order_relaxed);
        const std::size_t free = m_capacity - (w - m_readIndex.load(std::memory_order_acquire));
        const std::size_t n = std::min(count, free);
        for (std::size_t i = 0; i < n; ++i)
            m_pData[(w + i) & m_mask] = values[i];
        m_writeIndex.store(w + n, std::memory_order_release);
        return n;
    }

    // Reader thread. Returns how many values were read.
    std::size_t read(T* values, std::size_t count)
    {
        const std::size_t r = m_readIndex.load(std::memory_order_relaxed);
        const std::size_t n = std::min(count, m_writeIndex.load(std::memory_order_acquire) - r);
        for (std::size_t i = 0; i < n; ++i)
            values[i] = m_pData[(r + i) & m_mask];
        m_readIndex.store(r + n, std::memory_order_release);
        return n;
    }

    // Reader thread. Discards up to count of the oldest values; returns how many.
    std::size_t skip(std::size_t count)
    {
        const std::size_t r = m_readIndex.load(std::memory_order_relaxed);
        const std::size_t n = std::min(count, m_writeIndex.load(std::memory_order_acquire) - r);
        m_readIndex.store(r + n, std::memory_order_release);
        return n;
    }

private:
    const std::size_t m_capacity;
    const std::size_t m_mask;
    std::unique_ptr<T[]> m_pData;
    std::atomic<std::size_t> m_writeIndex { 0 };
    std::atomic<std::size_t> m_readIndex { 0 };
};
