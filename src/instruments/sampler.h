#pragma once

#include "core/playbackengine.h"

#include <array>
#include <atomic>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

class SamplerVoice;
struct SamplerVoiceScratch;
class SamplerZone;

namespace Quavertone {
class SamplePack;
}

// Floats in the sampler's mixing buffer (16384 stereo frames).
constexpr int SAMPLER_MIXING_BUF_SAMPLES = 32768;

// Plays a sample pack: each note-on takes a free voice out of a fixed pool of
// ten (no stealing); the voices are mixed once per cycle and added to the
// output with a loudness compensation that follows the number sounding.
//
// Threads: process runs on the audio thread, noteOn/noteOff on the input
// thread, sample packs load on the instrument's loader thread. All of them
// share m_mutex; samples are decoded outside it, so the lock is only held to
// swap the zones in.
class Sampler : public PlaybackEngine
{
public:
    static constexpr int kNumVoices = 10;
    static constexpr int kNumKeys = 128;

    Sampler();
    ~Sampler();

    Sampler(const Sampler&) = delete;
    Sampler& operator=(const Sampler&) = delete;

    // Reads dir + "/samplepack.zsfb" and installs it. Returns 0, or 1 when the
    // file cannot be opened (the previous zones stay installed).
    int load(const std::string& dir);

    // Replaces the zones: decodes every zone's sample from dir, then swaps
    // the new zones in, silencing all voices.
    void setSamplePack(const Quavertone::SamplePack& pack, const std::string& dir);

    // 0 <= note < 128; other notes are ignored.
    void noteOn(int note);
    void noteOff(int note);

    // Adds numFrames frames of the mix, times gain, into buffer.
    void process(float* buffer, int numFrames, float gain);
    // The same at unit gain.
    void process(float* buffer, int numFrames) override;

    bool isReady() const { return m_bReady; }
    int numZones();
    int numActiveVoices();
    // Index in file order of the zone that plays key, or -1.
    int zoneIndexForKey(int key);

private:
    using ZoneList = std::vector<std::unique_ptr<SamplerZone>>;

    // Swaps zones in; the old zones are handed back in zones.
    void installZones(ZoneList& zones);
    void processBlock(float* buffer, int numFrames, float gain);
    void mixInto(float* buffer, int numSamples, float gain, float target);
    int countActiveVoices() const;

    ZoneList m_zones;
    std::array<SamplerZone*, kNumKeys> m_keyMap {};
    // The voices render one after another: they share one scratch.
    std::unique_ptr<SamplerVoiceScratch> m_pScratch;
    std::array<std::unique_ptr<SamplerVoice>, kNumVoices> m_voices;
    std::array<SamplerVoice*, kNumKeys> m_noteVoices {};
    std::atomic<bool> m_bReady { false };
    std::vector<float> m_mixBuffer;
    float m_comp = 1.0f;
    std::mutex m_mutex;
};
