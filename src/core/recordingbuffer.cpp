#include "core/recordingbuffer.h"

#include <algorithm>
#include <cmath>

RecordingBuffer::RecordingBuffer(const ZubClock& clock)
    : m_clock(clock)
    , m_ring(RING_SAMPLES)
{
}

void RecordingBuffer::write(const float* frames, int64 numFrames)
{
    if (numFrames <= 0)
        return;
    m_ring.write(frames, static_cast<std::size_t>(numFrames * ZUB_FRAMESIZE));
    float sum = 0.0f;
    for (int64 i = 0; i < numFrames * ZUB_FRAMESIZE; ++i)
        sum += frames[i] * frames[i];
    m_fLevel.store(std::sqrt(sum / static_cast<float>(numFrames)), std::memory_order_relaxed);
}

void RecordingBuffer::mixInto(float* out, int64 numFrames)
{
    std::size_t wanted = std::min<std::size_t>(numFrames * ZUB_FRAMESIZE, m_ring.readAvailable());
    while (wanted > 0) {
        const std::size_t got = m_ring.read(m_scratch, std::min<std::size_t>(wanted, SCRATCH_SAMPLES));
        if (got == 0)
            break;
        for (std::size_t i = 0; i < got; ++i)
            out[i] += m_scratch[i];
        out += got;
        wanted -= got;
    }
}

void RecordingBuffer::dropStale(int64 numFrames)
{
    const std::size_t available = m_ring.readAvailable();
    const std::size_t keep = static_cast<std::size_t>(std::max<int64>(numFrames, 0) * ZUB_FRAMESIZE);
    if (available > m_ring.capacity() / 2 && available > keep)
        m_ring.skip(available - keep);
}

float RecordingBuffer::level()
{
    m_levelTime.store(m_clock.nowMicros(), std::memory_order_relaxed);
    return m_fLevel.load(std::memory_order_relaxed);
}

int64 RecordingBuffer::microsecondsSinceLevel() const
{
    return m_clock.nowMicros() - m_levelTime.load(std::memory_order_relaxed);
}
