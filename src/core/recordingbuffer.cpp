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
    m_framesWritten += int64(m_ring.write(frames, static_cast<std::size_t>(numFrames * ZUB_FRAMESIZE))) / ZUB_FRAMESIZE;
    float sum = 0.0f;
    for (int64 i = 0; i < numFrames * ZUB_FRAMESIZE; ++i)
        sum += frames[i] * frames[i];
    m_fLevel.store(std::sqrt(sum / static_cast<float>(numFrames)), std::memory_order_relaxed);
}

void RecordingBuffer::mixInto(float* out, int64 numFrames)
{
    // The engine plays on: a cycle taken in pieces is heard piece by piece.
    if (m_outputTime >= 0.0)
        m_outputTime += double(numFrames) / ZUB_SAMPLE_RATE;
    std::size_t wanted = std::min<std::size_t>(numFrames * ZUB_FRAMESIZE, m_ring.readAvailable());
    while (wanted > 0) {
        const std::size_t got = m_ring.read(m_scratch, std::min<std::size_t>(wanted, SCRATCH_SAMPLES));
        if (got == 0)
            break;
        for (std::size_t i = 0; i < got; ++i)
            out[i] += m_scratch[i];
        out += got;
        wanted -= got;
        m_framesRead += int64(got) / ZUB_FRAMESIZE;
    }
}

void RecordingBuffer::dropStale(int64 numFrames)
{
    const std::size_t available = m_ring.readAvailable();
    const std::size_t keep = static_cast<std::size_t>(std::max<int64>(numFrames, 0) * ZUB_FRAMESIZE);
    if (available > m_ring.capacity() / 2 && available > keep)
        m_framesRead += int64(m_ring.skip(available - keep)) / ZUB_FRAMESIZE;
}

void RecordingBuffer::stampCapture(double seconds)
{
    const uint32_t seq = m_stampSeq.load(std::memory_order_relaxed);
    m_stampSeq.store(seq + 1, std::memory_order_relaxed);
    std::atomic_thread_fence(std::memory_order_release);
    m_stampFrame.store(m_framesWritten, std::memory_order_relaxed);
    m_stampTime.store(seconds, std::memory_order_relaxed);
    m_stampSeq.store(seq + 2, std::memory_order_release);
}

int64 RecordingBuffer::latenessFrames()
{
    const int64 correction = m_correction.load(std::memory_order_relaxed);
    if (m_outputTime < 0.0)
        return correction;
    // A stamp being written is retried; a writer never holds it for long.
    for (int attempt = 0; attempt < 4; ++attempt) {
        const uint32_t before = m_stampSeq.load(std::memory_order_acquire);
        const int64 frame = m_stampFrame.load(std::memory_order_relaxed);
        const double time = m_stampTime.load(std::memory_order_relaxed);
        std::atomic_thread_fence(std::memory_order_acquire);
        if (before % 2 != 0 || before != m_stampSeq.load(std::memory_order_relaxed))
            continue;
        if (frame < 0)
            return correction;
        // The next frame to read was captured this long after the stamped one.
        const double captured = time + double(m_framesRead - frame) / ZUB_SAMPLE_RATE;
        const int64 reported = std::llround((m_outputTime - captured) * ZUB_SAMPLE_RATE);
        m_reportedLateness.store(reported, std::memory_order_relaxed);
        return reported + correction;
    }
    return correction;
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
