#pragma once

#include "core/beatgrid.h"
#include "core/playbackengine.h"
#include "core/zubtypes.h"
#include "dsp/adsr.h"

#include <atomic>
#include <json/value.h>
#include <memory>

// A short click at every beat of the grid (beat k at round(k x frames per
// beat) from frame 0); muted until the page unmutes it. The tempo may change
// from the GUI thread; the position is the audio thread's, set every cycle.
class Metronome : public PlaybackEngine
{
public:
    static constexpr int CLICK_TABLE_SIZE = 176400;

    Metronome();
    virtual ~Metronome();

    void process(float* buffer, int numFrames) override;

    // Returns 0, or 1 (and changes nothing) for a tempo outside 30..200 bpm.
    int setTempo(float fBpm);
    // Returns 0, or 1 (and changes nothing) for a length the click table cannot hold.
    int setFramesPerBeat(int framesPerBeat);
    void setPosition(int64 frames);

    float bpm() const { return m_fBpm.load(std::memory_order_relaxed); }
    bool isMuted() const { return m_bMute.load(std::memory_order_relaxed); }
    // Whole frames of one beat (the grid's beats may be a fraction longer).
    int32 framesPerBeat() const;
    BeatGrid grid() const { return BeatGrid(m_dGridBpm.load(std::memory_order_relaxed)); }
    const float* clickTable() const { return m_pClick; }

    void toJson(Json::Value& root) const;
    void handleJson(const Json::Value& root);

private:
    void buildClickTable();
    // Audio thread: the beat the frame lies in, on the grid in force now.
    void locate(int64 frame);

    std::atomic<float> m_fBpm { 120.0f };
    std::atomic<bool> m_bMute { true };
    // The grid's tempo; setFramesPerBeat gives one of that many frames.
    std::atomic<double> m_dGridBpm { 120.0 };
    float* m_pClick;
    // Audio thread: the frame next played and the beat it lies in.
    int64 m_frame = 0;
    double m_dLocatedBpm = 120.0;
    int64 m_beat = 0;
    int64 m_beatStart = 0;
    int64 m_nextBeatStart = 22050;
    ADSRSettings m_envSettings { 2205, 2205, 0.0, 1 };
    std::unique_ptr<ADSR> m_pEnvelope;
};
