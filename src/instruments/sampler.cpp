#include "instruments/sampler.h"

#include "core/log.h"
#include "formats/protofile.h"
#include "instruments/samplervoice.h"
#include "instruments/samplerzone.h"
#include "proto/samplepack.pb.h"

#include <algorithm>
#include <cmath>
#include <cstdio>

namespace {
constexpr float kCompTolerance = 0.005f;
constexpr int kCompRampSamples = 128;
constexpr float kCompRampStep = 1.0f / kCompRampSamples;
} // namespace

Sampler::Sampler()
    : m_pScratch(SamplerVoice::makeScratch())
    , m_mixBuffer(SAMPLER_MIXING_BUF_SAMPLES)
{
    for (auto& voice : m_voices)
        voice = std::make_unique<SamplerVoice>(*m_pScratch);
    m_bReady = true;
}

Sampler::~Sampler() = default;

int Sampler::load(const std::string& dir)
{
    Quavertone::SamplePack pack;
    if (ProtoFile::read(dir + "/samplepack.zsfb", pack) != 0) {
        logInfo() << "Failed to open sample pack: " << dir;
        return 1;
    }
    setSamplePack(pack, dir);
    return 0;
}

void Sampler::setSamplePack(const Quavertone::SamplePack& pack, const std::string& dir)
{
    // Decoded before the lock: the audio and input threads never wait for a file.
    ZoneList zones;
    for (const auto& zone : pack.zone())
        zones.push_back(std::make_unique<SamplerZone>(zone, dir));
    installZones(zones);
}

void Sampler::installZones(ZoneList& zones)
{
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        m_bReady = false;
        // Abrupt stop: the voices point into the zones about to go.
        for (auto& voice : m_voices)
            voice->setZone(nullptr);
        m_keyMap.fill(nullptr);
        // A key-up after the change must not release a voice given to another key.
        m_noteVoices.fill(nullptr);
        m_zones.swap(zones);
        // File order: later zones win where ranges overlap.
        for (auto& zone : m_zones)
            zone->mapKeys(m_keyMap);
        m_bReady = true;
    }
    zones.clear(); // the old zones and their samples, freed outside the lock
}

void Sampler::noteOn(int note)
{
    if (note < 0 || note >= kNumKeys || !m_bReady)
        return;
    std::lock_guard<std::mutex> lock(m_mutex);
    if (m_noteVoices[note]) {
        logDebug() << "killing already-playing note";
        m_noteVoices[note]->release();
    }
    SamplerZone* zone = m_keyMap[note];
    // A silent zone takes no voice: it would only lower the others' level.
    if (!zone || !zone->hasAudio())
        return;
    for (auto& voice : m_voices) {
        if (voice->isActive())
            continue;
        // A voice that ended by itself may still be listed for the key it played.
        std::replace(m_noteVoices.begin(), m_noteVoices.end(), voice.get(),
            static_cast<SamplerVoice*>(nullptr));
        voice->setZone(zone);
        voice->start(note);
        m_noteVoices[note] = voice.get();
        return;
    }
    // All voices sound: the note is dropped, no voice is stolen.
}

void Sampler::noteOff(int note)
{
    if (note < 0 || note >= kNumKeys || !m_bReady)
        return;
    std::lock_guard<std::mutex> lock(m_mutex);
    if (m_noteVoices[note]) {
        m_noteVoices[note]->release();
        m_noteVoices[note] = nullptr;
    }
}

void Sampler::process(float* buffer, int numFrames)
{
    process(buffer, numFrames, 1.0f);
}

void Sampler::process(float* buffer, int numFrames, float gain)
{
    // Longer buffers than the mixing buffer are done in pieces.
    constexpr int kMaxFrames = SAMPLER_MIXING_BUF_SAMPLES / 2;
    while (numFrames > 0) {
        const int frames = std::min(numFrames, kMaxFrames);
        processBlock(buffer, frames, gain);
        buffer += 2 * frames;
        numFrames -= frames;
    }
}

void Sampler::processBlock(float* buffer, int numFrames, float gain)
{
    if (!m_bReady)
        return;
    std::lock_guard<std::mutex> lock(m_mutex);
    const int active = countActiveVoices();
    const float target = active > 0 ? static_cast<float>(active) : 1.0f;
    const int n = 2 * numFrames;
    std::fill(m_mixBuffer.begin(), m_mixBuffer.begin() + n, 0.0f);
    for (auto& voice : m_voices)
        voice->render(m_mixBuffer.data(), numFrames);
    mixInto(buffer, n, gain, target);
}

void Sampler::mixInto(float* buffer, int numSamples, float gain, float target)
{
    const float* mix = m_mixBuffer.data();
    if (m_comp < target - kCompTolerance || target + kCompTolerance < m_comp) {
        // Glide to the new voice count over the first 64 frames.
        const float d = target - m_comp;
        for (int i = 0; i < numSamples; ++i) {
            if (i < kCompRampSamples)
                m_comp += d * kCompRampStep;
            buffer[i] += mix[i] * gain / std::sqrt(m_comp);
        }
        return;
    }
    const float root = std::sqrt(m_comp);
    for (int i = 0; i < numSamples; ++i)
        buffer[i] += mix[i] * gain / root;
}

int Sampler::countActiveVoices() const
{
    return static_cast<int>(std::count_if(m_voices.begin(), m_voices.end(),
        [](const auto& voice) { return voice->isActive(); }));
}

int Sampler::numActiveVoices()
{
    std::lock_guard<std::mutex> lock(m_mutex);
    return countActiveVoices();
}

int Sampler::numZones()
{
    std::lock_guard<std::mutex> lock(m_mutex);
    return static_cast<int>(m_zones.size());
}

int Sampler::zoneIndexForKey(int key)
{
    if (key < 0 || key >= kNumKeys)
        return -1;
    std::lock_guard<std::mutex> lock(m_mutex);
    for (std::size_t i = 0; i < m_zones.size(); ++i)
        if (m_zones[i].get() == m_keyMap[key])
            return static_cast<int>(i);
    return -1;
}
