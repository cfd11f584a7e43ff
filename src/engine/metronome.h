#pragma once

#include "core/playbackengine.h"
#include "core/zubtypes.h"
#include "dsp/adsr.h"

#include <atomic>
#include <json/value.h>
#include <memory>

// A short click at every beat boundary; muted until the page unmutes it.
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
    int32 framesPerBeat() const { return m_framesPerBeat.load(std::memory_order_relaxed); }
    const float* clickTable() const { return m_pClick; }

    void toJson(Json::Value& root) const;
    void handleJson(const Json::Value& root);

private:
    void buildClickTable();

    std::atomic<float> m_fBpm { 120.0f };
    std::atomic<bool> m_bMute { true };
    std::atomic<int32> m_framesPerBeat { 22050 };
    float* m_pClick;
    std::atomic<int32> m_pos { 0 };
    ADSRSettings m_envSettings { 2205, 2205, 0.0, 1 };
    std::unique_ptr<ADSR> m_pEnvelope;
};
