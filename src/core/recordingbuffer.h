#pragma once

#include "core/recordingengine.h"
#include "core/spscring.h"
#include "core/zubclock.h"

#include <atomic>

// Live input audio on its way from the input stream to the instrument: the
// input thread writes, the output thread mixes it into the next cycle.
class RecordingBuffer : public RecordingEngine
{
public:
    static constexpr int RING_SAMPLES = 131072;
    static constexpr int SCRATCH_SAMPLES = 256;

    explicit RecordingBuffer(const ZubClock& clock = ZubClock::system());

    // Input callback thread.
    void write(const float* frames, int64 numFrames) override;
    // Output callback thread.
    void mixInto(float* out, int64 numFrames);
    // Output callback thread. A backlog of more than half the ring means the
    // reader stood still (the output was stopped for a render or a device
    // change) while the input went on: keeps only the newest numFrames
    // frames, so the input is heard live again instead of late for good.
    void dropStale(int64 numFrames);

    float level();
    int64 microsecondsSinceLevel() const;

private:
    const ZubClock& m_clock;
    SpscRing<float> m_ring;
    float m_scratch[SCRATCH_SAMPLES];
    std::atomic<float> m_fLevel { 0.0f };
    std::atomic<int64> m_levelTime { 0 };
};
