#include "engine/metronome.h"

#include "core/jsonfield.h"
#include "core/log.h"

#include <cmath>
#include <cstdio>
#include <new>

Metronome::Metronome()
    : m_pClick(new (std::align_val_t(16)) float[CLICK_TABLE_SIZE])
    , m_pEnvelope(std::make_unique<ADSR>(&m_envSettings))
{
    setTempo(120.0f);
    buildClickTable();
}

Metronome::~Metronome()
{
    ::operator delete[](m_pClick, std::align_val_t(16));
}

void Metronome::buildClickTable()
{
    std::fill(m_pClick, m_pClick + CLICK_TABLE_SIZE, 0.0f);
    m_pEnvelope->noteOn(1.0);
    // The envelope's time grows by the loop index itself, so only the first
    // steps fall inside its window: a short tick near the start of the beat.
    auto step = [this](int j) {
        const double e = m_pEnvelope->advance(j);
        const double k = j / 2.0;
        const float v = static_cast<float>(0.5 * e * (std::sin(0.1 * k) + 0.5 * std::sin(1.5 * k)));
        m_pClick[j] = v;
        m_pClick[j + 1] = v;
    };
    for (int j = 0; j <= 2204; j += 2)
        step(j);
    for (int j = 2205; j <= 4409; j += 2)
        step(j);
    m_pEnvelope->noteOff();
}

void Metronome::locate(int64 frame)
{
    const BeatGrid g = grid();
    m_dLocatedBpm = g.bpm();
    m_beat = g.beatAt(frame);
    m_beatStart = g.beatStart(m_beat);
    m_nextBeatStart = g.beatStart(m_beat + 1);
}

void Metronome::process(float* buffer, int numFrames)
{
    // A tempo change from the GUI thread takes effect at the next cycle.
    if (m_dLocatedBpm != m_dGridBpm.load(std::memory_order_relaxed) || m_frame < m_beatStart
        || m_frame >= m_nextBeatStart)
        locate(m_frame);
    if (isMuted()) {
        m_frame += numFrames;
        return;
    }
    const BeatGrid g = grid();
    for (int i = 0; i < numFrames; ++i, ++m_frame) {
        if (m_frame >= m_nextBeatStart) {
            ++m_beat;
            m_beatStart = m_nextBeatStart;
            m_nextBeatStart = g.beatStart(m_beat + 1);
        }
        // The click table is indexed by the frame within the beat.
        const int64 k = m_frame - m_beatStart;
        if (k < CLICK_TABLE_SIZE) {
            buffer[2 * i] += m_pClick[k];
            buffer[2 * i + 1] += m_pClick[k];
        }
    }
}

int32 Metronome::framesPerBeat() const
{
    return static_cast<int32>(std::floor(grid().framesPerBeat() + 1e-6));
}

int Metronome::setTempo(float fBpm)
{
    if (!(fBpm >= ZUB_MIN_BPM && fBpm <= ZUB_MAX_BPM)) {
        logInfo() << "Metronome tempo out of range: " << fBpm;
        return 1;
    }
    m_fBpm.store(fBpm, std::memory_order_relaxed);
    // The same value the transport's grid is made of, so both meet exactly.
    m_dGridBpm.store(double(fBpm), std::memory_order_relaxed);
    return 0;
}

int Metronome::setFramesPerBeat(int framesPerBeat)
{
    // The click table is indexed by the position within the beat.
    if (framesPerBeat <= 0 || framesPerBeat > CLICK_TABLE_SIZE) {
        logInfo() << "Metronome frames per beat out of range: " << framesPerBeat;
        return 1;
    }
    m_dGridBpm.store(BeatGrid::FRAMES_PER_MINUTE / framesPerBeat, std::memory_order_relaxed);
    return 0;
}

void Metronome::setPosition(int64 frames)
{
    m_frame = frames;
    locate(frames);
}

void Metronome::toJson(Json::Value& root) const
{
    root["metronome"]["mute"] = isMuted();
}

void Metronome::handleJson(const Json::Value& root)
{
    const Json::Value& m = root["metronome"];
    if (m.isObject() && m.isMember("mute"))
        m_bMute.store(JsonField::toBool(m["mute"], isMuted()), std::memory_order_relaxed);
}
