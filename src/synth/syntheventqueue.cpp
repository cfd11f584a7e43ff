#include "synth/syntheventqueue.h"

bool SynthEventQueue::push(int32 countdown, const AnySynthEvent& event)
{
    if (approximateSize() >= kCapacity)
        return false;
    const std::uint32_t tail = m_incomingTail.load(std::memory_order_relaxed);
    m_incoming[tail & kMask] = Entry { countdown, event };
    m_incomingTail.store(tail + 1, std::memory_order_release);
    return true;
}

int SynthEventQueue::approximateSize() const
{
    // Head before the reader's count: the reader publishes its count before
    // it moves the head, so this can only over-count.
    const std::uint32_t head = m_incomingHead.load(std::memory_order_acquire);
    const int pending = m_publishedPendingSize.load(std::memory_order_acquire);
    const std::uint32_t tail = m_incomingTail.load(std::memory_order_relaxed);
    return static_cast<int>(tail - head) + pending;
}

void SynthEventQueue::beginPass()
{
    const std::uint32_t tail = m_incomingTail.load(std::memory_order_acquire);
    std::uint32_t head = m_incomingHead.load(std::memory_order_relaxed);
    if (head == tail)
        return;
    for (; head != tail; ++head)
        putBack(m_incoming[head & kMask]);
    m_publishedPendingSize.store(m_pendingSize, std::memory_order_release);
    m_incomingHead.store(head, std::memory_order_release);
}

SynthEventQueue::Entry SynthEventQueue::takeOldest()
{
    const Entry entry = m_pending[m_pendingHead & kMask];
    ++m_pendingHead;
    --m_pendingSize;
    return entry;
}

void SynthEventQueue::putBack(const Entry& entry)
{
    m_pending[(m_pendingHead + m_pendingSize) & kMask] = entry;
    ++m_pendingSize;
}

void SynthEventQueue::endPass()
{
    m_publishedPendingSize.store(m_pendingSize, std::memory_order_release);
}
