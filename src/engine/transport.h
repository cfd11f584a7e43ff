#pragma once

#include "core/playbackengine.h"
#include "core/zubtypes.h"

#include <atomic>

// The engine's clock: frames played plus the current tempo. One per process.
// Fields are written by one thread and read by another without a lock;
// atomics keep those reads whole.
class Transport : public PlaybackEngine
{
public:
    static Transport& instance();

    void process(float* buffer, int numFrames) override;

    int64 position() const { return m_position.load(std::memory_order_relaxed); }
    void setPosition(int64 frames) { m_position.store(frames, std::memory_order_relaxed); }
    float bpm() const { return m_fBpm.load(std::memory_order_relaxed); }
    void setBpm(float bpm) { m_fBpm.store(bpm, std::memory_order_relaxed); }

    // Time since the last beat boundary (not until the next one).
    int64 microsecondsSinceBeat() const;

private:
    Transport() = default;

    std::atomic<int64> m_position { 0 };
    std::atomic<float> m_fBpm { 120.0f };
};
