#pragma once

#include <atomic>
#include <cstdint>
#include <cstring>
#include <type_traits>

// A small value written by one thread at a time and read by any thread
// without a lock: a reader that meets a write in progress reads again, the
// writer never waits. Writers must not overlap (one thread, or one lock).
template <typename T>
class SeqLocked
{
    static_assert(std::is_trivially_copyable_v<T>);
    static constexpr std::size_t kWords = (sizeof(T) + sizeof(std::uint64_t) - 1) / sizeof(std::uint64_t);

public:
    explicit SeqLocked(const T& value = T()) { store(value); }

    void store(const T& value)
    {
        std::uint64_t words[kWords] = {};
        std::memcpy(words, &value, sizeof(T));
        const std::uint64_t seq = m_seq.load(std::memory_order_relaxed);
        m_seq.store(seq + 1, std::memory_order_relaxed);
        std::atomic_thread_fence(std::memory_order_release);
        for (std::size_t i = 0; i < kWords; ++i)
            m_words[i].store(words[i], std::memory_order_relaxed);
        m_seq.store(seq + 2, std::memory_order_release);
    }

    T load() const
    {
        std::uint64_t words[kWords];
        for (;;) {
            const std::uint64_t before = m_seq.load(std::memory_order_acquire);
            for (std::size_t i = 0; i < kWords; ++i)
                words[i] = m_words[i].load(std::memory_order_relaxed);
            std::atomic_thread_fence(std::memory_order_acquire);
            if ((before & 1) == 0 && m_seq.load(std::memory_order_relaxed) == before)
                break;
        }
        T value;
        std::memcpy(&value, words, sizeof(T));
        return value;
    }

private:
    std::atomic<std::uint64_t> m_seq { 0 };
    std::atomic<std::uint64_t> m_words[kWords] {};
};
