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
    void stampCapture(double seconds) override;
    // Output callback thread.
    void mixInto(float* out, int64 numFrames);
    // Output callback thread. A backlog of more than half the ring means the
    // reader stood still (the output was stopped for a render or a device
    // change) while the input went on: keeps only the newest numFrames
    // frames, so the input is heard live again instead of late for good.
    void dropStale(int64 numFrames);

    float level();
    int64 microsecondsSinceLevel() const;

    // Output callback thread: when the next frame the engine plays will be
    // heard, on the clock of stampCapture; a negative time means unknown.
    void setOutputTime(double seconds) { m_outputTime = seconds; }
    // Output callback thread, before mixInto: how many frames after the
    // moment the musician heard it the next input frame arrives (the round
    // trip of output, input and their rate conversions, from the stamps),
    // plus the correction. Recorders place the input that much earlier.
    // Without stamps or an output time it is the correction alone.
    int64 latenessFrames();
    // Any thread: the lateness last found without the correction; -1 before
    // the stamps and the output time first met.
    int64 reportedLatenessFrames() const { return m_reportedLateness.load(std::memory_order_relaxed); }
    // Any thread: what the stamps leave out, measured or set by the user.
    void setCorrectionFrames(int64 frames) { m_correction.store(frames, std::memory_order_relaxed); }
    int64 correctionFrames() const { return m_correction.load(std::memory_order_relaxed); }

private:
    const ZubClock& m_clock;
    SpscRing<float> m_ring;
    float m_scratch[SCRATCH_SAMPLES];
    std::atomic<float> m_fLevel { 0.0f };
    std::atomic<int64> m_levelTime { 0 };

    // Frame counts since construction; each written by one thread only.
    int64 m_framesWritten = 0; // input thread
    int64 m_framesRead = 0; // output thread
    // The latest capture stamp: frame m_stampFrame was captured at
    // m_stampTime. Written by the input thread under a sequence count, so
    // the output thread reads the two as one.
    std::atomic<uint32_t> m_stampSeq { 0 };
    std::atomic<int64> m_stampFrame { -1 };
    std::atomic<double> m_stampTime { 0.0 };
    double m_outputTime = -1.0; // output thread
    std::atomic<int64> m_correction { 0 };
    std::atomic<int64> m_reportedLateness { -1 };
};
