#pragma once

#include "core/playbackengine.h"
#include "instruments/loaderthread.h"

#include <array>
#include <atomic>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

class SamplerVoice;
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
// thread, sample packs load on a background thread. All of them share
// m_mutex; samples are decoded outside it, so the lock is only held to swap
// the zones in.
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

    // Runs load(dir) on the loader thread, then calls done (which may be
    // empty) on that thread. A later call supersedes a load still decoding:
    // that one stops without installing, and its done still runs.
    void loadAsync(const std::string& dir, std::function<void()> done);

    // Blocks until the background load, if any, has finished.
    void waitForLoad();

    // Replaces the zones: decodes every zone's sample from dir, then swaps
    // the new zones in, silencing all voices. Supersedes a load still decoding.
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

    int loadPack(const std::string& dir, unsigned generation);
    void installPack(const Quavertone::SamplePack& pack, const std::string& dir, unsigned generation);
    bool decodeZones(const Quavertone::SamplePack& pack, const std::string& dir,
        unsigned generation, ZoneList& zones);
    // Swaps zones in unless a later load has started; the old zones are
    // handed back in zones.
    bool installZones(ZoneList& zones, unsigned generation);
    void processBlock(float* buffer, int numFrames, float gain);
    void mixInto(float* buffer, int numSamples, float gain, float target);
    int countActiveVoices() const;

    ZoneList m_zones;
    std::array<SamplerZone*, kNumKeys> m_keyMap {};
    std::array<std::unique_ptr<SamplerVoice>, kNumVoices> m_voices;
    std::array<SamplerVoice*, kNumKeys> m_noteVoices {};
    std::atomic<bool> m_bReady { false };
    std::vector<float> m_mixBuffer;
    float m_comp = 1.0f;
    std::atomic<unsigned> m_iLoadGeneration { 0 };
    std::mutex m_mutex;
    LoaderThread m_loaderThread; // last member: joined before the rest is torn down
};
