#pragma once

#include "core/beatgrid.h"
#include "core/playbackengine.h"
#include "core/seqlocked.h"
#include "core/zubclock.h"
#include "core/zubtypes.h"

#include <atomic>

// The engine's clock and the one source of position: frames played plus the
// tempo, and with them the beat grid that the metronome, the loop recorder,
// every idea's loops and the drum loop are aligned to once per cycle. One per
// process. Position and tempo are read and written from any thread without a
// lock; the audio thread advances the position in process.
class Transport : public PlaybackEngine
{
public:
    static Transport& instance();

    // Audio thread: stamps where and when this cycle begins, then advances.
    void process(float* buffer, int numFrames) override;

    int64 position() const { return m_position.load(std::memory_order_relaxed); }
    // A jump. Nothing already recorded moves: notes keep the positions they
    // were stamped with.
    void setPosition(int64 frames) { m_position.store(frames, std::memory_order_relaxed); }
    float bpm() const { return m_fBpm.load(std::memory_order_relaxed); }
    void setBpm(float bpm) { m_fBpm.store(bpm, std::memory_order_relaxed); }

    // The beats of the song at the current tempo, counted from frame 0.
    BeatGrid grid() const { return BeatGrid(bpm()); }
    // Beats since frame 0, with the fraction of the beat in progress.
    double beatPosition() const;
    // A jump to the frame where that beat position falls on the grid.
    void setBeatPosition(double beats);

    // Any thread: the audio position being played now, for stamping notes:
    // the frame the cycle in progress began at plus the time since it
    // began, held inside that cycle. Lock-free; the audio cycle never waits.
    int64 frameNow() const;
    // Only while no cycle runs (the stream stopped, or before it starts):
    // notes from now on count from the current position.
    void restamp();

    // Time since the last beat boundary (not until the next one).
    int64 microsecondsSinceBeat() const;

    // For tests: the clock cycles and notes are timed with; null for the system's.
    void setClock(const ZubClock* clock);

private:
    Transport() = default;

    struct CycleStamp
    {
        int64 frame = 0;   // where the cycle in progress began
        int64 startUs = 0; // when it began
        int64 frames = 0;  // how long it is
    };

    const ZubClock& clock() const;

    std::atomic<int64> m_position { 0 };
    std::atomic<float> m_fBpm { 120.0f };
    std::atomic<const ZubClock*> m_pClock { nullptr };
    SeqLocked<CycleStamp> m_stamp;
};
